// Datasets: the cursor semantics every window relies on.
//
// A dataset has one current row, shared by everybody who holds the dataset
// (the data module owns them for the whole run), and a state:
//
//   Inactive --open()--> Browse --edit()-----------> Edit   --post()/cancel()--> Browse
//                        Browse --insert()/append()-> Insert --post()/cancel()--> Browse
//   any --close()--> Inactive (a pending row is dropped)
//
// Moving (first, next, prior, last, find..., locate) first runs "check browse
// mode": a pending row is stored when it was changed and dropped when not.
// Fields are read from the row being edited while in Edit or Insert, from the
// current row otherwise; an empty dataset reads every field as null.
//
//   Table t; t.setDatabase(db); t.setTableName("funciona");
//   t.setIndexFieldNames("nome"); t.open();
//   for (t.first(); !t.eof(); t.next()) use(t.fieldByName("nome").asString());
//
// Errors of the engine throw DbError; event handlers may throw Abort to
// abandon an operation silently (the dataset stays as it was).
//
// Each event is a chain: the data module adds its rules when it creates the
// dataset, a window adds its handler after them and removes it when it
// closes (an EventSubscriptions member does that), so neither silently
// replaces the other.
//
// Controls bound through a DataSource may hold text that is not in the field
// yet (a half-typed date). Before post() and before any move that checks
// browse mode the dataset asks its data sources to store it; text that does
// not convert throws the control's message and the row stays in edit.
//
// Readers that must not move the shared current row (grids, lookup lists,
// reports) read around it through SideCursor.
#pragma once

#include "errors.h"
#include "schema_types.h"

#include <QDate>
#include <QDateTime>
#include <QObject>
#include <QStringList>
#include <QTime>
#include <QVariant>
#include <functional>
#include <optional>
#include <vector>

class QSqlQuery;

namespace keldo::db {

class Database;
class DataSet;
class DataSource;

enum class DataSetState { Inactive, Browse, Edit, Insert };

// How the current row last changed: one step (next, prior) or any other way
// (open, first, last, a find, a post). A grid keeps its rows across a step and
// reads around the new row after a jump.
enum class LastMove { Jump, StepForward, StepBack };

// The handlers of one dataset event, run in the order they were added. A
// handler that throws (Abort, DbError) stops the chain and the operation.
class EventChain {
public:
    using Handler = std::function<void(DataSet&)>;
    // Returns the handler's id, for remove().
    int add(Handler h);
    void remove(int id);
    // The chain holds only this handler (tests and one-handler datasets).
    EventChain& operator=(Handler h) {
        handlers_.clear();
        if (h)
            add(std::move(h));
        return *this;
    }
    bool empty() const { return handlers_.empty(); }
    int size() const { return int(handlers_.size()); }
    void operator()(DataSet& ds) const;

private:
    struct Entry {
        int id;
        Handler h;
    };
    std::vector<Entry> handlers_;
    int nextId_ = 1;
};

// Handlers a window added to shared datasets, removed when it goes.
//
//   subs_.add(dm.tbFuncs->beforePost, [this](db::DataSet& ds) { ... });
class EventSubscriptions {
public:
    EventSubscriptions() = default;
    EventSubscriptions(const EventSubscriptions&) = delete;
    EventSubscriptions& operator=(const EventSubscriptions&) = delete;
    ~EventSubscriptions() { clear(); }
    void add(EventChain& chain, EventChain::Handler h);
    void clear();

private:
    std::vector<std::pair<EventChain*, int>> added_;
};

// A control's text that the field may not hold yet. DataSource keeps these;
// the dataset asks them to store their text before it posts or moves.
class PendingEdit {
public:
    virtual ~PendingEdit() = default;
    // Writes pending text into the field; throws DbError with the control's
    // message when the text is not a value of the field.
    virtual void storePending() = 0;
    virtual bool hasPending() const = 0;
};

// A handle on one field of a dataset's current row; cheap to copy, valid as
// long as the dataset keeps its field list (until it is closed).
// A stored value as text: "" when empty; dates as "dd/MM/yyyy", times
// "HH:mm:ss", date-times "dd/MM/yyyy HH:mm:ss", numbers in decimal.
QString valueText(const QVariant& value);

class Field {
public:
    Field(DataSet* ds, int index) : ds_(ds), index_(index) {}

    const QString& name() const;
    FieldType type() const;
    int size() const;
    bool required() const;
    int index() const { return index_; }
    DataSet& dataSet() const { return *ds_; }

    QVariant value() const;
    bool isNull() const;
    // The value as valueText gives it.
    QString asString() const;
    // 0 when empty or not a number, as the permission flags are read.
    int asInteger() const;
    double asFloat() const;
    bool asBoolean() const;
    QDate asDate() const;
    QTime asTime() const;
    QDateTime asDateTime() const;

    // The dataset must be in Edit or Insert state. Text longer than the
    // field's width is cut; an empty text stores an empty (null) field; a
    // value that does not convert to the field's type throws DbError.
    void setValue(const QVariant& v);
    void setAsString(const QString& s) { setValue(s); }
    void clear() { setValue(QVariant()); }

private:
    DataSet* ds_;
    int index_;
};

// One row as a dataset holds it: the field values in field order and the
// engine's identity of the row (empty for a row not stored yet).
struct Row {
    QVariantList values;
    QVariant rowId;
};

struct LocateOptions {
    bool caseInsensitive = false; // also ignores accents, as the name indexes do
    bool partialKey = false;      // a text value matches the start of the field
};

class DataSet : public QObject {
    Q_OBJECT
public:
    explicit DataSet(QObject* parent = nullptr);
    ~DataSet() override;

    // --- life cycle
    void open();
    void close();
    bool isActive() const { return state_ != DataSetState::Inactive; }
    void setActive(bool on) { on ? open() : close(); }
    DataSetState state() const { return state_; }
    bool isEditing() const {
        return state_ == DataSetState::Edit || state_ == DataSetState::Insert;
    }

    // --- navigation
    void first();
    void last();
    void next();
    void prior();
    // Moves by n rows (negative: back); stops at either end.
    void moveBy(int n);
    bool eof() const { return eof_; }
    bool bof() const { return bof_; }
    bool isEmpty() const { return !hasCurrent_ && state_ != DataSetState::Insert; }
    // Counts the rows; on a table this asks the engine each time.
    virtual int recordCount() = 0;
    // Moves to the first row, in the current order, whose fields hold the
    // values; stays put and returns false when there is none.
    bool locate(const QStringList& fields, const QVariantList& values, LocateOptions opts = {});
    bool locate(const QString& field, const QVariant& value, LocateOptions opts = {}) {
        return locate(QStringList{field}, QVariantList{value}, opts);
    }
    // Re-reads the current row and drops whatever was read ahead.
    void refresh();

    // --- fields
    int fieldCount() const { return int(fields_.size()); }
    const QList<FieldDef>& fieldDefs() const { return fields_; }
    QStringList fieldNames() const;
    Field field(int index);
    // Throws DbError "Campo 'x' não encontrado" when the dataset has no such
    // field (names compared without case).
    Field fieldByName(const QString& name);
    std::optional<Field> findField(const QString& name);
    int fieldIndex(const QString& name) const;

    // --- editing
    void edit();
    void insert();
    void append();
    void post();
    void cancel();
    void deleteRecord();
    // A pending row is stored when it was changed, dropped when not.
    void checkBrowseMode();
    bool modified() const { return modified_; }
    void setReadOnly(bool on) { readOnly_ = on; }
    bool readOnly() const { return readOnly_; }
    // Sets several fields at once (Edit or Insert state).
    void setFields(const QVariantMap& values);

    // --- controls
    // While disabled, no signal reaches data sources; enabling again sends
    // one whole-record change.
    void disableControls();
    void enableControls();
    bool controlsDisabled() const { return disabled_ > 0; }

    // --- events. Handlers run synchronously; throwing abandons the
    // operation where that makes sense (before...).
    using Event = EventChain;
    Event beforeOpen, afterOpen, beforeClose, afterClose;
    Event beforeInsert, afterInsert, beforeEdit, afterEdit;
    Event beforePost, afterPost, beforeCancel, afterCancel;
    Event beforeDelete, afterDelete, beforeScroll, afterScroll;

    // Asks every data source's controls to store the text they hold.
    // Throws the first control's DbError; the row stays in edit.
    void storePendingEdits();
    LastMove lastMove() const { return lastMove_; }

    // --- side reads (SideCursor). Up to n rows after (forward) or before
    // `from`, in the dataset's order, without moving the current row or
    // running events; from == nullptr reads from the first (forward) or the
    // last row (backward). Rows come in the dataset's order.
    virtual QList<Row> readAround(const Row* from, bool forward, int n) = 0;
    // Up to n rows from the offset-th row (0 = the first) in the order.
    virtual QList<Row> readAt(int offset, int n) = 0;
    // How many rows come before `row` in the order.
    virtual int positionOf(const Row& row) = 0;
    // The first row, in the order, whose fields hold the values (as locate
    // compares them), without moving to it.
    std::optional<Row> readMatch(const QStringList& fields, const QVariantList& values,
                                 LocateOptions opts = {});

    // The values of the current row (or of the row being edited).
    const QVariantList& currentValues() const;
    const Row& currentRow() const { return current_; }

signals:
    // Opened, closed, or entered/left Edit or Insert.
    void stateChanged();
    // A field of the current row changed (index), or the whole row did (-1):
    // scrolling, opening, posting, cancelling.
    void dataChanged(int fieldIndex);

protected:
    // --- what a kind of dataset provides. The base runs the state machine,
    // the events and the signals; the backend moves and stores rows.
    // Prepares the field list (fields_) and positions nowhere.
    virtual void doOpen() = 0;
    virtual void doClose() = 0;
    // Each returns the row it moved to, or nothing when there is none in that
    // direction (the current row then stays).
    virtual std::optional<Row> doFirst() = 0;
    virtual std::optional<Row> doLast() = 0;
    virtual std::optional<Row> doNext() = 0;
    virtual std::optional<Row> doPrior() = 0;
    virtual std::optional<Row> doRefresh() = 0;
    // The first match of a locate; with `move`, the backend also positions
    // its own reading there (the base then makes it current).
    virtual std::optional<Row> doMatch(const QList<int>& fields, const QVariantList& values,
                                       LocateOptions opts, bool move) = 0;
    // Stores a new row, or the changed fields of an existing one, and returns
    // the row as stored (with its identity). Default: read-only.
    virtual Row doInsertRow(const Row& row);
    virtual Row doUpdateRow(const Row& before, const Row& after, const QList<int>& changed);
    // Deletes the current row and returns the row that becomes current.
    virtual std::optional<Row> doDeleteRow(const Row& row);

    // Backends that position by themselves (find by key) use this.
    void setCurrent(std::optional<Row> row, bool atStart, bool atEnd);
    void emitDataChanged(int fieldIndex);
    void emitStateChanged();
    void checkActive() const;
    void setFieldDefs(QList<FieldDef> defs);
    void run(const Event& e) {
        if (!e.empty())
            e(*this);
    }
    void setLastMove(LastMove m) { lastMove_ = m; }

    QList<FieldDef> fields_;

private:
    friend class Field;
    friend class DataSource;
    QVariant fieldValue(int index) const;
    void setFieldValue(int index, const QVariant& v);
    void enterEdit(DataSetState s, bool appendAtEnd);

    DataSetState state_ = DataSetState::Inactive;
    LastMove lastMove_ = LastMove::Jump;
    QList<DataSource*> sources_;
    Row current_;
    bool hasCurrent_ = false;
    Row edit_;
    QList<int> changed_;
    bool modified_ = false;
    bool eof_ = true;
    bool bof_ = true;
    bool readOnly_ = false;
    int disabled_ = 0;
    bool pendingSignal_ = false;
    // Where to go back to when an insert is cancelled.
    Row beforeInsert_;
    bool hadCurrentBeforeInsert_ = false;
    bool eofBeforeInsert_ = true, bofBeforeInsert_ = true;
};

// A table of the database, visited in the order of an index.
//
// The order is given by index field names ("matricula", "nome",
// "matricula;faixa"); a field that a case-insensitive index covers is
// ordered and found without regard to case or accents. Without index field
// names the order is the primary key's, or the order of insertion for a table
// without one. Rows are read a page at a time around the current row, never
// the whole table; rows appended by other programs are seen as the cursor
// moves on.
class Table : public DataSet {
    Q_OBJECT
public:
    explicit Table(QObject* parent = nullptr);
    ~Table() override;

    void setDatabase(Database* db);
    Database* database() const { return db_; }
    // "funciona" or "funciona.db". The dataset must be closed.
    void setTableName(const QString& name);
    const QString& tableName() const { return tableName_; }
    // Changes the order; on an open table the current row stays current.
    void setIndexFieldNames(const QString& names);
    const QString& indexFieldNames() const { return indexFieldNames_; }

    // Moves to the row whose first index fields equal the values; stays put
    // and returns false when there is none.
    bool findKey(const QVariantList& values);
    // Moves to the first row whose index fields are at or after the values
    // (a text value may be the start of a key); to the last row when none is.
    void findNearest(const QVariantList& values);

    int recordCount() override;
    QList<Row> readAround(const Row* from, bool forward, int n) override;
    QList<Row> readAt(int offset, int n) override;
    int positionOf(const Row& row) override;

    // Bookmarks survive other rows being added or removed.
    QVariant bookmark() const { return currentRow().rowId; }
    bool gotoBookmark(const QVariant& bookmark);

    // Working tables: creates the table with these fields (replacing an
    // existing one) or removes it. The dataset must be closed.
    void createTable(const QList<FieldDef>& fields, const QStringList& primaryKey = {});
    void deleteTable();
    void emptyTable();
    bool exists();
    // Index maintenance on a closed table: an index without a name is the
    // primary one, which is rebuilt; a named one is created.
    void addIndex(const IndexDef& index);
    void deleteIndex(const QString& name);

protected:
    void doOpen() override;
    void doClose() override;
    std::optional<Row> doFirst() override;
    std::optional<Row> doLast() override;
    std::optional<Row> doNext() override;
    std::optional<Row> doPrior() override;
    std::optional<Row> doMatch(const QList<int>& fields, const QVariantList& values,
                               LocateOptions opts, bool move) override;
    std::optional<Row> doRefresh() override;
    Row doInsertRow(const Row& row) override;
    Row doUpdateRow(const Row& before, const Row& after, const QList<int>& changed) override;
    std::optional<Row> doDeleteRow(const Row& row) override;

private:
    struct OrderTerm {
        int field;      // -1: the row identity
        QString column; // the field itself, for null tests
        QString expr;   // the field in the order's collation
        QString param;  // a value compared with expr
    };
    void buildOrder();
    QString selectList() const;
    QString orderBy(bool reverse) const;
    // Condition for rows after (or before) `key` in the order; `inclusive`
    // admits the row itself.
    // With `nonNullLead`, rows whose first order field is empty are left out
    // even where they lie beyond the key, so that the condition bounds the
    // engine's index walk; fetchBeyond reads those rows by themselves.
    QString keyCondition(const Row& key, bool after, bool inclusive, QVariantList& params,
                         bool nonNullLead = false) const;
    // Up to `limit` rows after (or before) `key` in the order, in the order.
    QList<Row> fetchBeyond(const Row& key, bool forward, int limit);
    QList<Row> fetch(const QString& where, const QVariantList& params, bool reverse, int limit,
                     int offset = 0);
    Row readRow(QSqlQuery& q) const;
    std::optional<Row> rowById(const QVariant& rowId);
    std::optional<Row> stepFrom(const Row& from, bool forward);
    QString table() const;
    QVariant storedValue(int field, const QVariant& v) const;
    static QString emptyTest(const QString& column, FieldType type);
    void requireDatabase() const;
    void checkInactive(const char* what) const;

    Database* db_ = nullptr;
    QString tableName_;
    QString indexFieldNames_;
    QList<OrderTerm> order_;
    QList<bool> keyText_;
    // Rows read around the current one, in order; pos_ is the current row.
    // pageHead_/pageTail_: the page starts at the first row / ends at the last
    // row of the table, so side reads need not ask the engine beyond it.
    void setPage(QList<Row> rows, int pos, bool head, bool tail);
    QList<Row> page_;
    int pos_ = -1;
    bool pageHead_ = false;
    bool pageTail_ = false;
};

// A query parameter: ":name" in the text, found without regard to case.
struct Param {
    QString name;
    QVariant value;
    bool bound = false; // set by the program; otherwise taken from the master
};

// An SQL statement of the program. Parameters ":name" are bound by name;
// a parameter the program did not set is taken from the field of the same
// name of the master data source's current row, and the query is opened
// again whenever that row changes. The rows of a query are read-only.
class Query : public DataSet {
    Q_OBJECT
public:
    explicit Query(QObject* parent = nullptr);
    ~Query() override;

    void setDatabase(Database* db);
    Database* database() const { return db_; }
    // The text, as lines joined by line breaks; the dataset is closed first.
    void setSql(const QString& text);
    void setSql(const QStringList& lines) { setSql(lines.join(QLatin1Char('\n'))); }
    const QString& sql() const { return sql_; }
    void clearSql() { setSql(QString()); }
    void addSql(const QString& line);

    QList<Param>& params() { return params_; }
    // Throws DbError when the text has no such parameter.
    Param& paramByName(const QString& name);
    void setParam(const QString& name, const QVariant& value);

    void setMasterSource(DataSource* master);
    DataSource* masterSource() const { return master_; }

    // Runs a statement that returns no rows; returns the rows it affected.
    int execSql();
    // Rows are read as the cursor moves and forgotten behind it: prior and
    // first after the first move fail. For long exports.
    void setUnidirectional(bool on) { unidirectional_ = on; }
    bool unidirectional() const { return unidirectional_; }

    int recordCount() override;
    // Reads around the rows kept so far, reading on as needed; a one-way
    // query keeps no rows and refuses side reads.
    QList<Row> readAround(const Row* from, bool forward, int n) override;
    QList<Row> readAt(int offset, int n) override;
    int positionOf(const Row& row) override { return row.rowId.toInt(); }

    // Runs the statement (parameters bound as for open()) and hands each row
    // to `row` as it is read, keeping none: for reports and exports of any
    // size. `row` returns false to stop. The dataset is not opened; its
    // field list is set for the callback's use of fieldDefs(). Returns the
    // rows handed.
    qint64 forEachRow(const std::function<bool(const Row&)>& row);

protected:
    void doOpen() override;
    void doClose() override;
    std::optional<Row> doFirst() override;
    std::optional<Row> doLast() override;
    std::optional<Row> doNext() override;
    std::optional<Row> doPrior() override;
    std::optional<Row> doMatch(const QList<int>& fields, const QVariantList& values,
                               LocateOptions opts, bool move) override;
    std::optional<Row> doRefresh() override;

private:
    void execute(bool stream);
    // What prior, first, side reads and finds of a one-way query throw.
    [[noreturn]] void throwOneWay() const;
    void masterChanged(int fieldIndex);
    QVariantList boundValues() const;
    bool fetchOne();
    std::optional<Row> at(int i);

    Database* db_ = nullptr;
    QString sql_;
    QString engineSql_;
    QStringList paramOrder_;
    QList<Param> params_;
    DataSource* master_ = nullptr;
    QMetaObject::Connection masterConnection_;
    bool unidirectional_ = false;
    struct Cursor;
    std::unique_ptr<Cursor> cursor_;
    QList<Row> rows_;
    int pos_ = -1;
    bool atEndOfResult_ = false;
};

// Binds controls (and detail queries) to a dataset: forwards its signals and
// runs onDataChange for every change of the current row, as the original's
// data-change events did.
class DataSource : public QObject {
    Q_OBJECT
public:
    explicit DataSource(QObject* parent = nullptr);
    ~DataSource() override;
    void setDataSet(DataSet* ds);
    DataSet* dataSet() const { return ds_; }
    void setEnabled(bool on) { enabled_ = on; }
    bool isEnabled() const { return enabled_; }

    std::function<void(DataSource&, int fieldIndex)> onDataChange;
    std::function<void(DataSource&)> onStateChange;

    // Controls that may hold text not in the field yet; each removes itself
    // before it goes.
    void addPendingEdit(PendingEdit* e);
    void removePendingEdit(PendingEdit* e);
    // Stores what the controls hold (see DataSet::storePendingEdits).
    void storePendingEdits();

signals:
    void dataChanged(int fieldIndex);
    void stateChanged();

private:
    friend class DataSet;
    void detach();
    DataSet* ds_ = nullptr;
    bool enabled_ = true;
    QMetaObject::Connection c1_, c2_;
    QList<PendingEdit*> pending_;
};

// Reads rows of a dataset around a row, in the dataset's order, without
// moving its current row and without switching its events off: what a grid,
// a lookup list or a report uses instead of walking the shared cursor.
//
//   SideCursor side(*dm.tbFuncs);
//   QList<Row> above = side.before(dm.tbFuncs->currentRow(), 20);
class SideCursor {
public:
    explicit SideCursor(DataSet& ds) : ds_(ds) {}
    QList<Row> first(int n) { return ds_.readAround(nullptr, true, n); }
    QList<Row> last(int n) { return ds_.readAround(nullptr, false, n); }
    QList<Row> after(const Row& from, int n) { return ds_.readAround(&from, true, n); }
    QList<Row> before(const Row& from, int n) { return ds_.readAround(&from, false, n); }
    QList<Row> at(int offset, int n) { return ds_.readAt(offset, n); }
    int position(const Row& row) { return ds_.positionOf(row); }
    int count() { return ds_.recordCount(); }
    std::optional<Row> match(const QString& field, const QVariant& value, LocateOptions opts = {}) {
        return ds_.readMatch(QStringList{field}, QVariantList{value}, opts);
    }
    DataSet& dataSet() const { return ds_; }

private:
    DataSet& ds_;
};

// Puts a shared table's order and current row back when the logic that
// changed them ends, normally or by an exception. keep() leaves the changes
// on the normal path, where the logic is meant to leave them (an exception
// still restores).
//
//   OrderGuard g(*dm.tbFuncs);
//   dm.tbFuncs->setIndexFieldNames("matricula");
//   ... // reads, finds
class OrderGuard {
public:
    explicit OrderGuard(Table& t);
    OrderGuard(const OrderGuard&) = delete;
    OrderGuard& operator=(const OrderGuard&) = delete;
    ~OrderGuard();
    void keep() { keep_ = true; }

private:
    Table& t_;
    QString order_;
    QVariant bookmark_;
    bool wasActive_;
    bool keep_ = false;
    int exceptions_;
};

// Splits the ":name" parameters out of a statement: returns the text with
// '?' in their places and their names in order. Quoted text, quoted names,
// comments and "::" casts are left alone.
QString parseParams(const QString& sql, QStringList* names);

} // namespace keldo::db
