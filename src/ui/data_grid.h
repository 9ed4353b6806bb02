#pragma once

// A grid over a dataset: DataSetModel holds a window of the dataset's rows
// around what is visible and the current row (a few pages), read through the
// dataset's side cursor, so the shared current row never moves for reading
// and the dataset's events keep running. The window grows a page at a time
// as the view scrolls to either edge and is read again around the current row
// when that jumps (last, a find), never from the first row to reach a far one.
// The view's selected row and the dataset's current row are one: selecting a
// row in the grid moves the dataset there, and moving the dataset (navigator,
// find, another control) selects its row in the grid.
//
//   auto* grid = new DBGrid(this);
//   grid->setDataSource(dsFuncs);               // every field, read-only
//   grid->setColumns({{"Descricao", "Descrição"}, {"Hora"}});
//   grid->setEditable(true);                    // typing edits the current row,
//                                               // Enter stores it
//
// Model rows are rows of the window, not positions in the dataset: row 0 is
// the first row read, which is the dataset's first row only when atStart().

#include "db/dataset.h"
#include "ui/edit_mask.h"

#include <QAbstractTableModel>
#include <QPointer>
#include <QStyledItemDelegate>
#include <QTableView>

namespace keldo::ui {

struct GridColumn {
    GridColumn() = default;
    GridColumn(QString f, QString t = {}, int w = 0, QString m = {}, bool ro = false)
        : field(std::move(f)), title(std::move(t)), width(w), mask(std::move(m)), readOnly(ro) {}
    QString field;
    QString title; // empty: the field's name
    int width = 0; // pixels; 0: the view's default
    QString mask;  // edit mask of the cell editor
    bool readOnly = false;
};

class DataSetModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit DataSetModel(QObject* parent = nullptr);

    void setDataSource(db::DataSource* ds);
    db::DataSource* dataSource() const { return source_; }
    db::DataSet* dataSet() const;
    // Empty: every field of the dataset, titled by its name.
    void setColumns(const QList<GridColumn>& columns);
    const QList<GridColumn>& columns() const { return columns_; }
    // Column c of the grid as it is now (resolved against the dataset).
    GridColumn column(int c) const;
    void setEditable(bool on) { editable_ = on; }
    bool editable() const { return editable_; }
    // Rows read at a time on either side: the view sets it to the rows it
    // shows.
    void setFetchSize(int n) { fetchSize_ = std::max(1, n); }
    int fetchSize() const { return fetchSize_; }
    // The window never holds more than this many pages; the side away from
    // the reading is let go.
    static constexpr int kMaxPages = 12;

    // The dataset's current row in the model, or -1.
    int currentRow() const { return current_; }
    // The window starts at the dataset's first row / ends at its last.
    bool atStart() const { return atStart_; }
    bool atEnd() const { return atEnd_; }
    // Moves the dataset to a row of the model (the view's selection does this).
    // Returns false when the dataset refused (its error was shown).
    bool moveTo(int row, QWidget* errorParent = nullptr);
    // Reads the window again around the dataset's current row.
    void reload();

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation o, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    // Stores the row being edited (Enter in a cell). Returns false when the
    // dataset refused; its error was shown. Not submit(): the view calls that
    // on every change of its current index, which includes the shift when a
    // row being inserted appears, and must not store that row.
    bool postRow();
    // A page after the window's last row.
    bool canFetchMore(const QModelIndex& parent) const override;
    void fetchMore(const QModelIndex& parent) override;
    // A page before the window's first row.
    bool canFetchBefore() const;
    void fetchBefore();

signals:
    void currentRowChanged(int row);
    // Rows came in (positive) or went (negative) above the window's first
    // row: the view scrolls by as many to keep showing the same rows.
    void windowShifted(int rows);

private:
    int fieldOf(int column) const;
    void onStateChanged();
    void onDataChanged(int fieldIndex);
    // The row's place in the window (rows_), or -1.
    int findRow(const QVariant& rowId) const;
    // Model row of rows_[i], and back.
    int modelRow(int i) const { return insertRow_ >= 0 && i >= insertRow_ ? i + 1 : i; }
    void setCurrent(int row);
    const QVariantList& valuesOf(int row) const;
    // A page beyond the window's last (forward) or first row; marks that
    // edge reached when fewer rows came.
    QList<db::Row> readPage(bool forward);
    void trimTop();
    void trimBottom();

    QPointer<db::DataSource> source_;
    QMetaObject::Connection c1_, c2_;
    QList<GridColumn> columns_;
    QList<db::Row> rows_;
    int current_ = -1;
    bool atStart_ = true;
    bool atEnd_ = true;
    bool editable_ = false;
    bool needsReload_ = false;
    int insertRow_ = -1; // where a row being inserted shows, or -1
    db::DataSetState lastState_ = db::DataSetState::Inactive;
    int fetchSize_ = 20;
};

// Cell editor of a masked column.
class MaskDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const override;
    void setEditorData(QWidget* editor, const QModelIndex& index) const override;
    void setModelData(QWidget* editor, QAbstractItemModel* model,
                      const QModelIndex& index) const override;
};

class DBGrid : public QTableView {
    Q_OBJECT
public:
    explicit DBGrid(QWidget* parent = nullptr);
    DataSetModel* dataModel() const { return model_; }
    void setDataSource(db::DataSource* ds);
    void setColumns(const QList<GridColumn>& columns);
    // Read-only by default.
    void setEditable(bool on);

protected:
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
    // Enter stores the row being edited or inserted; Ctrl+Home and Ctrl+End
    // go to the dataset's first and last rows; the arrows and page keys read
    // on past the window's edges.
    void keyPressEvent(QKeyEvent* e) override;
    void closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) override;
    void resizeEvent(QResizeEvent* e) override;

private:
    void follow(int row, QAbstractItemView::ScrollHint hint = QAbstractItemView::EnsureVisible);
    void scrolled(int value);
    void fitFetchSize();
    void applyWidths();
    DataSetModel* model_;
    bool following_ = false;
};

} // namespace keldo::ui
