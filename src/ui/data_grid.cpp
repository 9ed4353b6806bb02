#include "ui/data_grid.h"

#include "ui/data_controls.h"
#include "ui/mask_edit.h"
#include "ui/prompter.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QTimer>

#include <cstdlib>
#include <utility>

namespace keldo::ui {

using db::DataSetState;

namespace {
// Fewer rows than this per read would cost more round trips than rows.
constexpr int kMinimumFetch = 16;
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
        ds->post();
    } catch (const db::Abort&) {
        return false;
    } catch (const db::DbError& e) {
        Prompter::current().error(nullptr, e.text());
        return false;
    }
    return true;
}

QList<db::Row> DataSetModel::readPage(bool forward) {
    bool& edge = forward ? atEnd_ : atStart_;
    QList<db::Row> got;
    try {
        db::SideCursor side(*dataSet());
        got =
            forward ? side.after(rows_.last(), fetchSize_) : side.before(rows_.first(), fetchSize_);
    } catch (const db::DbError& e) {
        // Told once; the window then ends on that side.
        Prompter::current().error(nullptr, e.text());
        edge = true;
        return {};
    }
    edge = got.size() < fetchSize_;
    return got;
}

bool DataSetModel::canFetchMore(const QModelIndex& parent) const {
    db::DataSet* ds = dataSet();
    return !parent.isValid() && ds && ds->isActive() && !atEnd_ && !rows_.isEmpty();
}

void DataSetModel::fetchMore(const QModelIndex& parent) {
    if (!canFetchMore(parent))
        return;
    const QList<db::Row> got = readPage(true);
    if (got.isEmpty())
        return;
    const int at = rowCount();
    beginInsertRows({}, at, at + int(got.size()) - 1);
    rows_ += got;
    endInsertRows();
    trimTop();
}

bool DataSetModel::canFetchBefore() const {
    db::DataSet* ds = dataSet();
    return ds && ds->isActive() && !atStart_ && !rows_.isEmpty();
}

void DataSetModel::fetchBefore() {
    if (!canFetchBefore())
        return;
    const QList<db::Row> got = readPage(false);
    if (got.isEmpty())
        return;
    const int n = int(got.size());
    beginInsertRows({}, 0, n - 1);
    rows_ = got + rows_;
    if (current_ >= 0)
        current_ += n;
    if (insertRow_ >= 0)
        insertRow_ += n;
    endInsertRows();
    emit windowShifted(n);
    trimBottom();
}

// The window lets go of the rows farthest from where the reading goes, never
// of the current row or a row being inserted.
void DataSetModel::trimTop() {
    const int limit = kMaxPages * fetchSize_;
    int n = int(rows_.size()) - limit;
    if (current_ >= 0)
        n = std::min(n, current_);
    if (insertRow_ >= 0)
        n = std::min(n, insertRow_);
    if (n <= 0)
        return;
    beginRemoveRows({}, 0, n - 1);
    rows_.erase(rows_.begin(), rows_.begin() + n);
    if (current_ >= 0)
        current_ -= n;
    if (insertRow_ >= 0)
        insertRow_ -= n;
    atStart_ = false;
    endRemoveRows();
    emit windowShifted(-n);
}

void DataSetModel::trimBottom() {
    const int limit = kMaxPages * fetchSize_;
    int keep = limit;
    if (current_ >= 0)
        keep = std::max(keep, current_ + 1);
    if (insertRow_ >= 0)
        keep = std::max(keep, insertRow_ + 1);
    const int n = int(rows_.size()) - keep;
    if (n <= 0)
        return;
    const int from = rowCount() - n;
    beginRemoveRows({}, from, rowCount() - 1);
    rows_.erase(rows_.end() - n, rows_.end());
    atEnd_ = false;
    endRemoveRows();
}

void DataSetModel::reload() {
    beginResetModel();
    rows_.clear();
    insertRow_ = -1;
    current_ = -1;
    atStart_ = atEnd_ = true;
    needsReload_ = false;
    db::DataSet* ds = dataSet();
    if (ds && ds->isActive()) {
        // The stored row the cursor stands on (while inserting, the one it
        // stood on before), with a page on either side.
        const db::Row here = ds->currentRow();
        try {
            db::SideCursor side(*ds);
            if (here.rowId.isValid()) {
                const QList<db::Row> before = side.before(here, fetchSize_);
                const QList<db::Row> after = side.after(here, fetchSize_);
                atStart_ = before.size() < fetchSize_;
                atEnd_ = after.size() < fetchSize_;
                rows_ = before;
                current_ = int(rows_.size());
                rows_ << here;
                rows_ += after;
            }
        } catch (const db::DbError& e) {
            Prompter::current().error(nullptr, e.text());
        }
        if (ds->state() == DataSetState::Insert) {
            insertRow_ = std::max(current_, 0);
            current_ = insertRow_;
        }
    }
    endResetModel();
    if (current_ >= 0)
        emit currentRowChanged(current_);
}

int DataSetModel::findRow(const QVariant& rowId) const {
    const int near = insertRow_ >= 0 && current_ > insertRow_ ? current_ - 1 : current_;
    for (int r : {near, near + 1, near - 1})
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
    const QVariant id = ds->currentRow().rowId;
    int r = findRow(id);
    // One step past the window's edge: read a page on that side.
    if (r < 0 && ds->lastMove() == db::LastMove::StepForward && current_ == rowCount() - 1 &&
        canFetchMore({})) {
        fetchMore({});
        r = findRow(id);
    } else if (r < 0 && ds->lastMove() == db::LastMove::StepBack && current_ == 0 &&
               canFetchBefore()) {
        fetchBefore();
        r = findRow(id);
    }
    if (r < 0) {
        // A jump (last, a find) beyond the window: read around the new row.
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
        if (row == insertRow_)
            return false;
        const int r = insertRow_ >= 0 && row > insertRow_ ? row - 1 : row;
        const QVariant target = rows_[r].rowId;
        if (ds->isEditing()) {
            ds->checkBrowseMode(); // stores or drops the row; the model reads again
            const int again = findRow(target);
            if (again < 0)
                return false;
            if (again == current_)
                return true;
            row = again;
        }
        const int delta = row - current_;
        // A table goes to a far row by its identity in one statement.
        auto* t = qobject_cast<db::Table*>(ds);
        if (t && std::abs(delta) > 1 && target.isValid()) {
            if (!t->gotoBookmark(target)) {
                reload(); // the row went away under us
                return false;
            }
        } else {
            ds->moveBy(delta);
        }
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
    // Rows, not pixels: a page read above the window scrolls by its rows.
    setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
    connect(model_, &DataSetModel::currentRowChanged, this, [this](int row) { follow(row); });
    connect(model_, &DataSetModel::windowShifted, this, [this](int rows) {
        QScrollBar* bar = verticalScrollBar();
        const QSignalBlocker hold(bar);
        bar->setValue(bar->value() + rows);
    });
    connect(verticalScrollBar(), &QScrollBar::valueChanged, this, &DBGrid::scrolled);
    connect(model_, &QAbstractItemModel::modelReset, this, [this] {
        applyWidths();
        // After a jump the rows on both sides of the new row are in view.
        follow(model_->currentRow(), QAbstractItemView::PositionAtCenter);
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

void DBGrid::follow(int row, QAbstractItemView::ScrollHint hint) {
    if (row < 0 || row >= model_->rowCount())
        return;
    following_ = true;
    const int col = std::max(currentIndex().column(), 0);
    setCurrentIndex(model_->index(row, col));
    scrollTo(model_->index(row, col), hint);
    following_ = false;
}

void DBGrid::scrolled(int value) {
    if (value == verticalScrollBar()->minimum() && model_->canFetchBefore())
        model_->fetchBefore();
}

void DBGrid::fitFetchSize() {
    const int rowHeight = std::max(1, verticalHeader()->defaultSectionSize());
    model_->setFetchSize(std::max(kMinimumFetch, viewport()->height() / rowHeight + 1));
}

void DBGrid::resizeEvent(QResizeEvent* e) {
    QTableView::resizeEvent(e);
    fitFetchSize();
}

void DBGrid::keyPressEvent(QKeyEvent* e) {
    if ((e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) && state() != EditingState &&
        model_->editable()) {
        model_->postRow();
        viewport()->update();
        return;
    }
    db::DataSet* ds = model_->dataSet();
    const bool ctrl = e->modifiers() & Qt::ControlModifier;
    if (ds && ds->isActive() && ctrl && (e->key() == Qt::Key_Home || e->key() == Qt::Key_End)) {
        try {
            e->key() == Qt::Key_Home ? ds->first() : ds->last();
        } catch (const db::Abort&) {
        } catch (const db::DbError& err) {
            Prompter::current().error(this, err.text());
        }
        return;
    }
    const int row = currentIndex().row();
    const int page = model_->fetchSize();
    if ((e->key() == Qt::Key_Up && row <= 0) || (e->key() == Qt::Key_PageUp && row < page))
        model_->fetchBefore();
    else if ((e->key() == Qt::Key_Down && row >= model_->rowCount() - 1) ||
             (e->key() == Qt::Key_PageDown && row >= model_->rowCount() - page))
        model_->fetchMore({});
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
