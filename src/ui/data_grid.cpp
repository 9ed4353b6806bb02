#include "ui/data_grid.h"

#include "ui/data_controls.h"
#include "ui/mask_edit.h"
#include "ui/prompter.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QTimer>

#include <cstdlib>
#include <utility>

namespace keldo::ui {

using db::DataSetState;

// Holds the dataset still while the model reads it: no signals to the
// controls and no scroll events for the windows; both come back afterwards.
struct DataSetModel::Walk {
    DataSetModel& m;
    db::DataSet& ds;
    db::DataSet::Event before, after;
    explicit Walk(DataSetModel& model, db::DataSet& d) : m(model), ds(d) {
        m.walking_ = true;
        ds.disableControls();
        before = std::exchange(ds.beforeScroll, nullptr);
        after = std::exchange(ds.afterScroll, nullptr);
    }
    ~Walk() {
        ds.beforeScroll = before;
        ds.afterScroll = after;
        ds.enableControls();
        m.walking_ = false;
    }
};

namespace {

// Moves the cursor from the row read at `from` to the one read at `to`. A
// table jumps by the row's identity, one statement however far; other
// datasets step.
void stepTo(db::DataSet& ds, int from, int to, const QVariant& toId) {
    if (to == from)
        return;
    if (auto* t = qobject_cast<db::Table*>(&ds); t && std::abs(to - from) > 1 && toId.isValid())
        if (t->gotoBookmark(toId))
            return;
    ds.moveBy(to - from);
}

} // namespace

DataSetModel::DataSetModel(QObject* parent) : QAbstractTableModel(parent) {}

db::DataSet* DataSetModel::dataSet() const {
    return source_ ? source_->dataSet() : nullptr;
}

void DataSetModel::setDataSource(db::DataSource* ds) {
    disconnect(c1_);
    disconnect(c2_);
    source_ = ds;
    if (ds) {
        c1_ = connect(ds, &db::DataSource::dataChanged, this, &DataSetModel::onDataChanged);
        c2_ = connect(ds, &db::DataSource::stateChanged, this, &DataSetModel::onStateChanged);
    }
    lastState_ = dataSet() ? dataSet()->state() : DataSetState::Inactive;
    reload();
}

void DataSetModel::setColumns(const QList<GridColumn>& columns) {
    beginResetModel();
    columns_ = columns;
    endResetModel();
}

GridColumn DataSetModel::column(int c) const {
    if (!columns_.isEmpty())
        return c >= 0 && c < columns_.size() ? columns_[c] : GridColumn{};
    db::DataSet* ds = dataSet();
    if (!ds || c < 0 || c >= ds->fieldCount())
        return {};
    GridColumn g;
    g.field = ds->fieldDefs()[c].name;
    return g;
}

int DataSetModel::fieldOf(int c) const {
    db::DataSet* ds = dataSet();
    if (!ds || !ds->isActive())
        return -1;
    if (columns_.isEmpty())
        return c < ds->fieldCount() ? c : -1;
    return c >= 0 && c < columns_.size() ? ds->fieldIndex(columns_[c].field) : -1;
}

int DataSetModel::rowCount(const QModelIndex& parent) const {
    if (parent.isValid())
        return 0;
    return int(rows_.size()) + (insertRow_ >= 0 ? 1 : 0);
}

int DataSetModel::columnCount(const QModelIndex& parent) const {
    if (parent.isValid())
        return 0;
    if (!columns_.isEmpty())
        return int(columns_.size());
    db::DataSet* ds = dataSet();
    return ds && ds->isActive() ? ds->fieldCount() : 0;
}

const QVariantList& DataSetModel::valuesOf(int row) const {
    db::DataSet* ds = dataSet();
    if (row == current_ && ds && ds->isEditing())
        return ds->currentValues();
    const int r = insertRow_ >= 0 && row > insertRow_ ? row - 1 : row;
    return rows_[r].values;
}

QVariant DataSetModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount() ||
        (role != Qt::DisplayRole && role != Qt::EditRole))
        return {};
    const int f = fieldOf(index.column());
    if (f < 0)
        return {};
    const QVariantList& values = valuesOf(index.row());
    if (f >= values.size())
        return {};
    return fieldDisplayText(dataSet()->fieldDefs()[f], values[f]);
}

QVariant DataSetModel::headerData(int section, Qt::Orientation o, int role) const {
    if (role != Qt::DisplayRole)
        return {};
    if (o == Qt::Vertical)
        return {};
    const GridColumn g = column(section);
    return g.title.isEmpty() ? g.field : g.title;
}

Qt::ItemFlags DataSetModel::flags(const QModelIndex& index) const {
    if (!index.isValid())
        return Qt::NoItemFlags;
    Qt::ItemFlags fl = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    db::DataSet* ds = dataSet();
    if (editable_ && ds && !ds->readOnly() && !column(index.column()).readOnly &&
        fieldOf(index.column()) >= 0)
        fl |= Qt::ItemIsEditable;
    return fl;
}

bool DataSetModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (role != Qt::EditRole || !(flags(index) & Qt::ItemIsEditable))
        return false;
    db::DataSet* ds = dataSet();
    if (index.row() != current_ && !moveTo(index.row()))
        return false;
    try {
        if (!ds->isEditing())
            ds->edit();
        FieldDataLink::updateRecord(ds);
        storeFieldText(ds->field(fieldOf(index.column())), value.toString(),
                       EditMask(column(index.column()).mask));
    } catch (const db::Abort&) {
        return false;
    } catch (const db::DbError& e) {
        Prompter::current().error(nullptr, e.text());
        return false;
    }
    emit dataChanged(this->index(current_, 0), this->index(current_, columnCount() - 1));
    return true;
}

bool DataSetModel::postRow() {
    db::DataSet* ds = dataSet();
    if (!ds || !ds->isEditing())
        return true;
    try {
        FieldDataLink::updateRecord(ds);
        ds->post();
    } catch (const db::Abort&) {
        return false;
    } catch (const db::DbError& e) {
        Prompter::current().error(nullptr, e.text());
        return false;
    }
    return true;
}

bool DataSetModel::canFetchMore(const QModelIndex& parent) const {
    db::DataSet* ds = dataSet();
    return !parent.isValid() && ds && ds->state() == DataSetState::Browse && !atEnd_ && !walking_ &&
           !rows_.isEmpty();
}

void DataSetModel::fetchMore(const QModelIndex& parent) {
    if (!canFetchMore(parent))
        return;
    db::DataSet& ds = *dataSet();
    QList<db::Row> got;
    {
        Walk w(*this, ds);
        const int last = int(rows_.size()) - 1;
        const QVariant hereId = rows_[current_].rowId;
        stepTo(ds, current_, last, rows_[last].rowId);
        int at = last;
        while (got.size() < fetchSize_) {
            ds.next();
            if (ds.eof()) {
                atEnd_ = true;
                break;
            }
            got << ds.currentRow();
            ++at;
        }
        stepTo(ds, at, current_, hereId);
    }
    if (got.isEmpty())
        return;
    beginInsertRows({}, int(rows_.size()), int(rows_.size() + got.size() - 1));
    rows_ += got;
    endInsertRows();
}

void DataSetModel::reload() {
    beginResetModel();
    rows_.clear();
    insertRow_ = -1;
    current_ = -1;
    atEnd_ = true;
    needsReload_ = false;
    db::DataSet* ds = dataSet();
    if (ds && ds->isActive() && !ds->isEditing() && !ds->isEmpty()) {
        Walk w(*this, *ds);
        const QVariant target = ds->currentRow().rowId;
        atEnd_ = false;
        int found = -1;
        ds->first();
        int at = 0;
        rows_ << ds->currentRow();
        for (;;) {
            if (found < 0 && rows_[at].rowId == target)
                found = at;
            if (found >= 0 && at >= found + fetchSize_)
                break;
            ds->next();
            if (ds->eof()) {
                atEnd_ = true;
                break;
            }
            rows_ << ds->currentRow();
            ++at;
        }
        if (found >= 0) {
            stepTo(*ds, at, found, target);
            current_ = found;
        } else {
            // The row went away under us (another program deleted it); the
            // dataset now stands on the last row read.
            current_ = at;
        }
    }
    endResetModel();
    if (current_ >= 0)
        emit currentRowChanged(current_);
}

int DataSetModel::findRow(const QVariant& rowId) const {
    for (int r : {current_, current_ + 1, current_ - 1})
        if (r >= 0 && r < rows_.size() && rows_[r].rowId == rowId)
            return r;
    for (int r = 0; r < rows_.size(); ++r)
        if (rows_[r].rowId == rowId)
            return r;
    return -1;
}

void DataSetModel::setCurrent(int row) {
    current_ = row;
    emit currentRowChanged(row);
}

void DataSetModel::onStateChanged() {
    if (walking_)
        return;
    db::DataSet* ds = dataSet();
    const DataSetState now = ds ? ds->state() : DataSetState::Inactive;
    const DataSetState before = lastState_;
    lastState_ = now;
    if (now == DataSetState::Inactive) {
        if (before != DataSetState::Inactive || !rows_.isEmpty())
            reload();
        return;
    }
    if (before == DataSetState::Inactive) {
        reload();
        return;
    }
    if (now == DataSetState::Insert && before != DataSetState::Insert) {
        // The new row shows where the cursor was, as the grid always did.
        const int at = std::max(current_, 0);
        beginInsertRows({}, at, at);
        insertRow_ = at;
        endInsertRows();
        setCurrent(at);
        return;
    }
    if (now == DataSetState::Browse)
        needsReload_ = true; // posted, cancelled or deleted: rows may have moved
}

void DataSetModel::onDataChanged(int fieldIndex) {
    if (walking_)
        return;
    db::DataSet* ds = dataSet();
    if (!ds || !ds->isActive())
        return;
    if (fieldIndex >= 0 || ds->isEditing()) {
        if (current_ >= 0 && current_ < rowCount())
            emit dataChanged(index(current_, 0), index(current_, columnCount() - 1));
        return;
    }
    if (needsReload_ || ds->isEmpty()) {
        reload();
        return;
    }
    const int r = findRow(ds->currentRow().rowId);
    if (r < 0) {
        // Moved past what was read (last, a find): read up to it.
        reload();
        return;
    }
    if (rows_[r].values != ds->currentRow().values) {
        rows_[r] = ds->currentRow();
        emit dataChanged(index(r, 0), index(r, columnCount() - 1));
    }
    setCurrent(r);
}

bool DataSetModel::moveTo(int row, QWidget* errorParent) {
    db::DataSet* ds = dataSet();
    if (!ds || !ds->isActive() || row < 0 || row >= rowCount())
        return false;
    if (row == current_)
        return true;
    try {
        if (ds->isEditing()) {
            if (row == insertRow_)
                return false;
            const int r = insertRow_ >= 0 && row > insertRow_ ? row - 1 : row;
            const QVariant target = rows_[r].rowId;
            FieldDataLink::updateRecord(ds);
            ds->checkBrowseMode(); // stores or drops the row; the model reads again
            row = findRow(target);
            if (row < 0)
                return false;
            if (row == current_)
                return true;
        }
        ds->moveBy(row - current_);
    } catch (const db::Abort&) {
        return false;
    } catch (const db::DbError& e) {
        Prompter::current().error(errorParent, e.text());
        return false;
    }
    return current_ == row;
}

// ---- MaskDelegate ------------------------------------------------------------

namespace {
QString maskOf(const QModelIndex& index) {
    auto* m = qobject_cast<const DataSetModel*>(index.model());
    return m ? m->column(index.column()).mask : QString();
}
} // namespace

QWidget* MaskDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                                    const QModelIndex& index) const {
    const QString mask = maskOf(index);
    if (mask.isEmpty())
        return QStyledItemDelegate::createEditor(parent, option, index);
    auto* ed = new MaskEdit(mask, parent);
    ed->setFrame(false);
    return ed;
}

void MaskDelegate::setEditorData(QWidget* editor, const QModelIndex& index) const {
    if (auto* ed = qobject_cast<MaskEdit*>(editor)) {
        ed->setText(index.data(Qt::EditRole).toString());
        return;
    }
    QStyledItemDelegate::setEditorData(editor, index);
}

void MaskDelegate::setModelData(QWidget* editor, QAbstractItemModel* model,
                                const QModelIndex& index) const {
    if (auto* ed = qobject_cast<MaskEdit*>(editor)) {
        model->setData(index, ed->text(), Qt::EditRole);
        return;
    }
    QStyledItemDelegate::setModelData(editor, model, index);
}

// ---- DBGrid --------------------------------------------------------------------

DBGrid::DBGrid(QWidget* parent) : QTableView(parent), model_(new DataSetModel(this)) {
    setModel(model_);
    setItemDelegate(new MaskDelegate(this));
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    connect(model_, &DataSetModel::currentRowChanged, this, &DBGrid::follow);
    connect(model_, &QAbstractItemModel::modelReset, this, [this] {
        applyWidths();
        follow(model_->currentRow());
    });
}

void DBGrid::setDataSource(db::DataSource* ds) {
    model_->setDataSource(ds);
}

void DBGrid::setColumns(const QList<GridColumn>& columns) {
    model_->setColumns(columns);
}

void DBGrid::setEditable(bool on) {
    model_->setEditable(on);
    setEditTriggers(on ? QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                             QAbstractItemView::AnyKeyPressed | QAbstractItemView::SelectedClicked
                       : QAbstractItemView::NoEditTriggers);
}

void DBGrid::applyWidths() {
    for (int c = 0; c < model_->columns().size(); ++c)
        if (model_->columns()[c].width > 0)
            setColumnWidth(c, model_->columns()[c].width);
}

void DBGrid::follow(int row) {
    if (row < 0 || row >= model_->rowCount())
        return;
    following_ = true;
    const int col = std::max(currentIndex().column(), 0);
    setCurrentIndex(model_->index(row, col));
    scrollTo(model_->index(row, col));
    following_ = false;
}

void DBGrid::keyPressEvent(QKeyEvent* e) {
    if ((e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) && state() != EditingState &&
        model_->editable()) {
        model_->postRow();
        viewport()->update();
        return;
    }
    QTableView::keyPressEvent(e);
}

void DBGrid::closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) {
    // Enter in a cell editor: the cell is written, then the row is stored.
    QTableView::closeEditor(editor, hint == QAbstractItemDelegate::SubmitModelCache
                                        ? QAbstractItemDelegate::NoHint
                                        : hint);
    if (hint == QAbstractItemDelegate::SubmitModelCache)
        model_->postRow();
}

void DBGrid::currentChanged(const QModelIndex& current, const QModelIndex& previous) {
    QTableView::currentChanged(current, previous);
    if (following_ || !current.isValid() || current.row() == model_->currentRow())
        return;
    if (!model_->moveTo(current.row(), this))
        // Put the selection back where the dataset stayed, once the view is
        // done with this change.
        QTimer::singleShot(0, this, [this] { follow(model_->currentRow()); });
}

} // namespace keldo::ui
