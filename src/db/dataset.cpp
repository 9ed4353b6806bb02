#include "dataset.h"
#include "field_value.h"

#include <algorithm>
#include <cassert>
#include <exception>

namespace keldo::db {

// ---------------------------------------------------------------- events

int EventChain::add(Handler h) {
    const int id = nextId_++;
    handlers_.push_back({id, std::move(h)});
    return id;
}

void EventChain::remove(int id) {
    handlers_.erase(std::remove_if(handlers_.begin(), handlers_.end(),
                                   [id](const Entry& e) { return e.id == id; }),
                    handlers_.end());
}

void EventChain::operator()(DataSet& ds) const {
    // A handler may add or remove handlers; run the chain as it stood.
    const std::vector<Entry> now = handlers_;
    for (const Entry& e : now)
        if (e.h)
            e.h(ds);
}

void EventSubscriptions::add(EventChain& chain, EventChain::Handler h) {
    added_.emplace_back(&chain, chain.add(std::move(h)));
}

void EventSubscriptions::clear() {
    for (auto& [chain, id] : added_)
        chain->remove(id);
    added_.clear();
}

// ---------------------------------------------------------------- DataSet

DataSet::DataSet(QObject* parent) : QObject(parent) {}

DataSet::~DataSet() {
    // Sources outliving the dataset must not reach back into it.
    for (DataSource* s : std::as_const(sources_))
        s->ds_ = nullptr;
}

void DataSet::storePendingEdits() {
    // Copy: storing may make a control go (a handler closing a window).
    const QList<DataSource*> sources = sources_;
    for (DataSource* s : sources)
        if (sources_.contains(s))
            s->storePendingEdits();
}

void DataSet::checkActive() const {
    if (state_ == DataSetState::Inactive)
        throw DbError(QStringLiteral("Operação não permitida: o conjunto de dados '%1' está "
                                     "fechado.")
                          .arg(objectName()));
}

void DataSet::setFieldDefs(QList<FieldDef> defs) {
    fields_ = std::move(defs);
}

void DataSet::emitDataChanged(int fieldIndex) {
    if (disabled_ > 0) {
        pendingSignal_ = true;
        return;
    }
    emit dataChanged(fieldIndex);
}

void DataSet::emitStateChanged() {
    if (disabled_ > 0) {
        pendingSignal_ = true;
        return;
    }
    emit stateChanged();
}

void DataSet::disableControls() {
    ++disabled_;
}

void DataSet::enableControls() {
    if (disabled_ > 0 && --disabled_ == 0 && pendingSignal_) {
        pendingSignal_ = false;
        emit stateChanged();
        emit dataChanged(-1);
    }
}

void DataSet::open() {
    if (isActive())
        return;
    run(beforeOpen);
    doOpen();
    state_ = DataSetState::Browse;
    try {
        setCurrent(doFirst(), true, false);
    } catch (...) {
        doClose();
        state_ = DataSetState::Inactive;
        throw;
    }
    emitStateChanged();
    emitDataChanged(-1);
    run(afterOpen);
}

void DataSet::close() {
    if (!isActive())
        return;
    run(beforeClose);
    doClose();
    state_ = DataSetState::Inactive;
    hasCurrent_ = false;
    current_ = Row();
    edit_ = Row();
    changed_.clear();
    modified_ = false;
    eof_ = bof_ = true;
    emitStateChanged();
    emitDataChanged(-1);
    run(afterClose);
}

void DataSet::setCurrent(std::optional<Row> row, bool atStart, bool atEnd) {
    lastMove_ = LastMove::Jump;
    if (row) {
        current_ = std::move(*row);
        hasCurrent_ = true;
        bof_ = atStart;
        eof_ = atEnd;
    } else {
        current_ = Row();
        hasCurrent_ = false;
        bof_ = eof_ = true;
    }
}

const QVariantList& DataSet::currentValues() const {
    return isEditing() ? edit_.values : current_.values;
}

QVariant DataSet::fieldValue(int index) const {
    const QVariantList& vals = currentValues();
    if (index < 0 || index >= vals.size())
        return QVariant();
    return vals[index];
}

void DataSet::setFieldValue(int index, const QVariant& v) {
    if (!isEditing())
        throw DbError(QStringLiteral("O conjunto de dados '%1' não está em modo de edição ou "
                                     "inclusão.")
                          .arg(objectName()));
    assert(index >= 0 && index < edit_.values.size());
    if (edit_.values[index] == v && edit_.values[index].isNull() == v.isNull())
        return;
    edit_.values[index] = v;
    if (!changed_.contains(index))
        changed_.append(index);
    modified_ = true;
    emitDataChanged(index);
}

QStringList DataSet::fieldNames() const {
    QStringList out;
    for (const FieldDef& f : fields_)
        out << f.name;
    return out;
}

int DataSet::fieldIndex(const QString& name) const {
    for (int i = 0; i < fields_.size(); ++i)
        if (fields_[i].name.compare(name, Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

Field DataSet::field(int index) {
    if (index < 0 || index >= fields_.size())
        throw DbError(QStringLiteral("Campo %1 fora do intervalo.").arg(index));
    return Field(this, index);
}

Field DataSet::fieldByName(const QString& name) {
    int i = fieldIndex(name);
    if (i < 0)
        throw DbError(QStringLiteral("%1: Campo '%2' não encontrado.").arg(objectName(), name));
    return Field(this, i);
}

std::optional<Field> DataSet::findField(const QString& name) {
    int i = fieldIndex(name);
    if (i < 0)
        return std::nullopt;
    return Field(this, i);
}

// --- navigation

void DataSet::first() {
    checkActive();
    checkBrowseMode();
    run(beforeScroll);
    setCurrent(doFirst(), true, false);
    emitDataChanged(-1);
    run(afterScroll);
}

void DataSet::last() {
    checkActive();
    checkBrowseMode();
    run(beforeScroll);
    setCurrent(doLast(), false, true);
    emitDataChanged(-1);
    run(afterScroll);
}

void DataSet::next() {
    checkActive();
    checkBrowseMode();
    if (eof_)
        return;
    run(beforeScroll);
    if (auto r = hasCurrent_ ? doNext() : std::nullopt) {
        setCurrent(std::move(r), false, false);
        setLastMove(LastMove::StepForward);
        emitDataChanged(-1);
    } else {
        eof_ = true;
    }
    run(afterScroll);
}

void DataSet::prior() {
    checkActive();
    checkBrowseMode();
    if (bof_)
        return;
    run(beforeScroll);
    if (auto r = hasCurrent_ ? doPrior() : std::nullopt) {
        setCurrent(std::move(r), false, false);
        setLastMove(LastMove::StepBack);
        emitDataChanged(-1);
    } else {
        bof_ = true;
    }
    run(afterScroll);
}

void DataSet::moveBy(int n) {
    for (; n > 0 && !eof_; --n)
        next();
    for (; n < 0 && !bof_; ++n)
        prior();
}

namespace {

// The fields of a find by index, and its values as the fields hold them.
struct MatchKey {
    QList<int> fields;
    QVariantList values;
};

MatchKey matchKey(const DataSet& ds, const QStringList& fields, const QVariantList& values,
                  LocateOptions opts) {
    if (fields.size() != values.size())
        throw DbError(QStringLiteral("Número de campos e de valores diferentes na procura."));
    MatchKey k;
    for (int i = 0; i < fields.size(); ++i) {
        int f = ds.fieldIndex(fields[i]);
        if (f < 0)
            throw DbError(
                QStringLiteral("%1: Campo '%2' não encontrado.").arg(ds.objectName(), fields[i]));
        k.fields << f;
        k.values << (opts.partialKey || opts.caseInsensitive
                         ? values[i]
                         : coerce(values[i], ds.fieldDefs()[f]));
    }
    return k;
}

} // namespace

bool DataSet::locate(const QStringList& fields, const QVariantList& values, LocateOptions opts) {
    checkActive();
    checkBrowseMode();
    MatchKey k = matchKey(*this, fields, values, opts);
    auto r = doMatch(k.fields, k.values, opts, true);
    if (!r)
        return false;
    run(beforeScroll);
    setCurrent(std::move(r), false, false);
    emitDataChanged(-1);
    run(afterScroll);
    return true;
}

std::optional<Row> DataSet::readMatch(const QStringList& fields, const QVariantList& values,
                                      LocateOptions opts) {
    checkActive();
    MatchKey k = matchKey(*this, fields, values, opts);
    return doMatch(k.fields, k.values, opts, false);
}

void DataSet::refresh() {
    checkActive();
    checkBrowseMode();
    auto r = doRefresh();
    setCurrent(std::move(r), bof_, eof_);
    emitDataChanged(-1);
}

// --- editing

void DataSet::enterEdit(DataSetState s, bool appendAtEnd) {
    (void)appendAtEnd; // both land where the order puts the row once stored
    state_ = s;
    changed_.clear();
    modified_ = false;
    emitStateChanged();
    emitDataChanged(-1);
}

void DataSet::edit() {
    checkActive();
    if (isEditing())
        return;
    if (readOnly_)
        throw DbError(QStringLiteral("Não é possível modificar um conjunto de dados somente "
                                     "leitura."));
    if (!hasCurrent_) {
        insert(); // editing an empty dataset starts a new row, as the original did
        return;
    }
    run(beforeEdit);
    edit_ = current_;
    enterEdit(DataSetState::Edit, false);
    run(afterEdit);
}

void DataSet::insert() {
    checkActive();
    checkBrowseMode();
    if (readOnly_)
        throw DbError(QStringLiteral("Não é possível modificar um conjunto de dados somente "
                                     "leitura."));
    run(beforeInsert);
    beforeInsert_ = current_;
    hadCurrentBeforeInsert_ = hasCurrent_;
    eofBeforeInsert_ = eof_;
    bofBeforeInsert_ = bof_;
    edit_ = Row();
    for (int i = 0; i < fields_.size(); ++i)
        edit_.values << QVariant();
    enterEdit(DataSetState::Insert, false);
    run(afterInsert);
}

void DataSet::append() {
    insert();
}

void DataSet::setFields(const QVariantMap& values) {
    for (auto it = values.begin(); it != values.end(); ++it)
        fieldByName(it.key()).setValue(it.value());
}

void DataSet::post() {
    checkActive();
    if (!isEditing())
        return;
    storePendingEdits();
    run(beforePost);
    for (int i = 0; i < fields_.size(); ++i) {
        const QVariant& v = edit_.values[i];
        if (fields_[i].required &&
            (v.isNull() || (v.typeId() == QMetaType::QString && v.toString().isEmpty())))
            throw DbError(
                QStringLiteral("O campo '%1' precisa ter um valor.").arg(fields_[i].name));
    }
    Row stored = state_ == DataSetState::Insert ? doInsertRow(edit_)
                                                : doUpdateRow(current_, edit_, changed_);
    current_ = std::move(stored);
    hasCurrent_ = true;
    eof_ = bof_ = false;
    lastMove_ = LastMove::Jump;
    state_ = DataSetState::Browse;
    edit_ = Row();
    changed_.clear();
    modified_ = false;
    emitStateChanged();
    emitDataChanged(-1);
    run(afterPost);
}

void DataSet::cancel() {
    if (!isEditing())
        return;
    run(beforeCancel);
    if (state_ == DataSetState::Insert) {
        current_ = beforeInsert_;
        hasCurrent_ = hadCurrentBeforeInsert_;
        eof_ = eofBeforeInsert_;
        bof_ = bofBeforeInsert_;
    }
    state_ = DataSetState::Browse;
    edit_ = Row();
    changed_.clear();
    modified_ = false;
    emitStateChanged();
    emitDataChanged(-1);
    run(afterCancel);
}

void DataSet::deleteRecord() {
    checkActive();
    if (state_ == DataSetState::Insert) {
        cancel();
        return;
    }
    if (readOnly_)
        throw DbError(QStringLiteral("Não é possível modificar um conjunto de dados somente "
                                     "leitura."));
    if (!hasCurrent_)
        throw DbError(QStringLiteral("Operação não permitida: o conjunto de dados está vazio."));
    run(beforeDelete);
    if (state_ == DataSetState::Edit) {
        state_ = DataSetState::Browse;
        edit_ = Row();
        changed_.clear();
        modified_ = false;
    }
    auto r = doDeleteRow(current_);
    const bool empty = !r;
    setCurrent(std::move(r), false, false);
    if (empty)
        eof_ = bof_ = true;
    emitStateChanged();
    emitDataChanged(-1);
    run(afterDelete);
}

void DataSet::checkBrowseMode() {
    if (!isEditing())
        return;
    storePendingEdits();
    if (modified_)
        post();
    else
        cancel();
}

Row DataSet::doInsertRow(const Row&) {
    throw DbError(QStringLiteral("Não é possível modificar um conjunto de dados somente leitura."));
}

Row DataSet::doUpdateRow(const Row&, const Row&, const QList<int>&) {
    throw DbError(QStringLiteral("Não é possível modificar um conjunto de dados somente leitura."));
}

std::optional<Row> DataSet::doDeleteRow(const Row&) {
    throw DbError(QStringLiteral("Não é possível modificar um conjunto de dados somente leitura."));
}

// ---------------------------------------------------------------- DataSource

DataSource::DataSource(QObject* parent) : QObject(parent) {}

DataSource::~DataSource() {
    detach();
}

void DataSource::detach() {
    disconnect(c1_);
    disconnect(c2_);
    if (ds_)
        ds_->sources_.removeAll(this);
    ds_ = nullptr;
}

void DataSource::addPendingEdit(PendingEdit* e) {
    if (!pending_.contains(e))
        pending_ << e;
}

void DataSource::removePendingEdit(PendingEdit* e) {
    pending_.removeAll(e);
}

void DataSource::storePendingEdits() {
    const QList<PendingEdit*> edits = pending_;
    for (PendingEdit* e : edits)
        if (pending_.contains(e) && e->hasPending())
            e->storePending();
}

void DataSource::setDataSet(DataSet* ds) {
    if (ds_ == ds)
        return;
    detach();
    ds_ = ds;
    if (!ds_)
        return;
    ds_->sources_ << this;
    c1_ = connect(ds_, &DataSet::dataChanged, this, [this](int f) {
        if (!enabled_)
            return;
        if (onDataChange)
            onDataChange(*this, f);
        emit dataChanged(f);
    });
    c2_ = connect(ds_, &DataSet::stateChanged, this, [this] {
        if (!enabled_)
            return;
        if (onStateChange)
            onStateChange(*this);
        emit stateChanged();
    });
}

// ---------------------------------------------------------------- OrderGuard

OrderGuard::OrderGuard(Table& t)
    : t_(t), order_(t.indexFieldNames()), bookmark_(t.isActive() ? t.bookmark() : QVariant()),
      wasActive_(t.isActive()), exceptions_(std::uncaught_exceptions()) {}

OrderGuard::~OrderGuard() {
    const bool failing = std::uncaught_exceptions() > exceptions_;
    if (keep_ && !failing)
        return;
    // Restoring must not throw out of a destructor, least of all while an
    // exception is already on its way.
    try {
        if (failing)
            t_.cancel();
        else
            t_.checkBrowseMode();
        t_.setIndexFieldNames(order_);
        if (wasActive_ && t_.isActive() && bookmark_.isValid())
            t_.gotoBookmark(bookmark_);
    } catch (...) {
    }
}

} // namespace keldo::db
