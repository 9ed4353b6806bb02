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

class QSqlQuery;

namespace keldo::db {

class Database;
class DataSet;
class DataSource;

enum class DataSetState { Inactive, Browse, Edit, Insert };

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
    using Event = std::function<void(DataSet&)>;
    Event beforeOpen, afterOpen, beforeClose, afterClose;
    Event beforeInsert, afterInsert, beforeEdit, afterEdit;
    Event beforePost, afterPost, beforeCancel, afterCancel;
    Event beforeDelete, afterDelete, beforeScroll, afterScroll;

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
    virtual std::optional<Row> doLocate(const QList<int>& fields, const QVariantList& values,
                                        LocateOptions opts) = 0;
    virtual std::optional<Row> doRefresh() = 0;
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
        if (e)
            e(*this);
    }

    QList<FieldDef> fields_;

private:
    friend class Field;
    QVariant fieldValue(int index) const;
    void setFieldValue(int index, const QVariant& v);
    void enterEdit(DataSetState s, bool appendAtEnd);

    DataSetState state_ = DataSetState::Inactive;
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
    std::optional<Row> doLocate(const QList<int>& fields, const QVariantList& values,
                                LocateOptions opts) override;
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
    QString keyCondition(const Row& key, bool after, bool inclusive, QVariantList& params) const;
    QList<Row> fetch(const QString& where, const QVariantList& params, bool reverse, int limit);
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
    QList<Row> page_;
    int pos_ = -1;
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

protected:
    void doOpen() override;
    void doClose() override;
    std::optional<Row> doFirst() override;
    std::optional<Row> doLast() override;
    std::optional<Row> doNext() override;
    std::optional<Row> doPrior() override;
    std::optional<Row> doLocate(const QList<int>& fields, const QVariantList& values,
                                LocateOptions opts) override;
    std::optional<Row> doRefresh() override;

private:
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
    void setDataSet(DataSet* ds);
    DataSet* dataSet() const { return ds_; }
    void setEnabled(bool on) { enabled_ = on; }
    bool isEnabled() const { return enabled_; }

    std::function<void(DataSource&, int fieldIndex)> onDataChange;
    std::function<void(DataSource&)> onStateChange;

signals:
    void dataChanged(int fieldIndex);
    void stateChanged();

private:
    DataSet* ds_ = nullptr;
    bool enabled_ = true;
    QMetaObject::Connection c1_, c2_;
};

// Splits the ":name" parameters out of a statement: returns the text with
// '?' in their places and their names in order. Quoted text, quoted names,
// comments and "::" casts are left alone.
QString parseParams(const QString& sql, QStringList* names);

} // namespace keldo::db
