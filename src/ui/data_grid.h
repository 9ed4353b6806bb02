#pragma once

// A grid over a dataset: DataSetModel reads the dataset's rows as the view
// scrolls (canFetchMore/fetchMore, a page at a time, never the whole table at
// once) and keeps the view's selected row and the dataset's current row one:
// selecting a row in the grid moves the dataset there, and moving the dataset
// (navigator, find, another control) selects its row in the grid.
//
//   auto* grid = new DBGrid(this);
//   grid->setDataSource(dsFuncs);               // every field, read-only
//   grid->setColumns({{"Descricao", "Descrição"}, {"Hora"}});
//   grid->setEditable(true);                    // typing edits the current row,
//                                               // Enter stores it
//
// Reading rows moves the shared cursor with the dataset's controls disabled
// and its scroll events held back, then returns it to the row it was on, so
// other windows see no movement. A dataset being edited is not read until it
// is posted or cancelled.

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
    // Rows read per fetch.
    void setFetchSize(int n) { fetchSize_ = std::max(1, n); }

    // The dataset's current row in the model, or -1.
    int currentRow() const { return current_; }
    // Moves the dataset to a row of the model (the view's selection does this).
    // Returns false when the dataset refused (its error was shown).
    bool moveTo(int row, QWidget* errorParent = nullptr);
    // Reads the rows again up to the current one.
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
    bool canFetchMore(const QModelIndex& parent) const override;
    void fetchMore(const QModelIndex& parent) override;

signals:
    void currentRowChanged(int row);

private:
    struct Walk;
    int fieldOf(int column) const;
    void onStateChanged();
    void onDataChanged(int fieldIndex);
    // Reads forward from the last row read; stops after n rows, at the end,
    // or (when untilId is valid) once that row has been read.
    void readForward(int n, const QVariant& untilId = {});
    int findRow(const QVariant& rowId) const;
    void setCurrent(int row);
    const QVariantList& valuesOf(int row) const;

    QPointer<db::DataSource> source_;
    QMetaObject::Connection c1_, c2_;
    QList<GridColumn> columns_;
    QList<db::Row> rows_;
    int current_ = -1;
    bool atEnd_ = true;
    bool walking_ = false;
    bool editable_ = false;
    bool needsReload_ = false;
    int insertRow_ = -1; // where a row being inserted shows, or -1
    db::DataSetState lastState_ = db::DataSetState::Inactive;
    int fetchSize_ = 50;
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
    // Enter stores the row being edited or inserted.
    void keyPressEvent(QKeyEvent* e) override;
    void closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) override;

private:
    void follow(int row);
    void applyWidths();
    DataSetModel* model_;
    bool following_ = false;
};

} // namespace keldo::ui
