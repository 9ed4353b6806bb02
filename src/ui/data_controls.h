#pragma once

// Controls bound to one field of a dataset through a db::DataSource.
//
// Each control shows the field of the dataset's current row and follows it as
// the row changes (scrolling, opening, posting, cancelling). The first change
// the operator makes puts a browsing dataset into Edit; the change is written
// into the field at once when it converts (every keystroke of a text field),
// otherwise it stays pending in the control until the dataset asks for it:
// before it posts and before any move, whoever asks for the post or the move
// (navigator, grid, a window's own button). Text that does not convert then
// stops the post or the move with the control's message; the control takes
// the focus so the operator sees what to correct.
//
//   auto* ed = new DBEdit(this);
//   ed->setDataSource(dsFuncs); ed->setDataField("nome"); ed->setUpperCase(true);

#include "db/dataset.h"
#include "ui/mask_edit.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QPlainTextEdit>
#include <QPointer>

class QButtonGroup;
class QRadioButton;

#include <functional>
#include <optional>

namespace keldo::ui {

// Writes a control's text into a field: an empty or untouched masked text
// clears the field; under a mask, dates and times are read the way the masks
// give them (" 5/03/2006", " 9:05") and a time of day kept as five-character
// text is stored as "HH:MM". Throws db::DbError with a Portuguese text when
// the text is not a value of the field.
void storeFieldText(db::Field field, const QString& text, const EditMask& mask = {});

// The text a control shows for a value of a field: dates "dd/MM/yyyy", times
// "HH:mm:ss", date-times "dd/MM/yyyy HH:mm:ss", numbers in decimal.
QString fieldDisplayText(const db::FieldDef& def, const QVariant& value);

class FieldDataLink : public QObject, public db::PendingEdit {
    Q_OBJECT
public:
    explicit FieldDataLink(QObject* owner);
    ~FieldDataLink() override;

    void setDataSource(db::DataSource* ds);
    db::DataSource* dataSource() const { return source_; }
    void setFieldName(const QString& name);
    const QString& fieldName() const { return fieldName_; }
    db::DataSet* dataSet() const;
    // None when there is no open dataset or it lacks the field.
    std::optional<db::Field> field() const;
    bool canModify() const;

    // Before the operator's first change: puts a browsing dataset into Edit.
    // Returns false when the change may not be made (no field, read-only, the
    // dataset refused); an engine error is shown through the Prompter.
    bool beginEdit(QWidget* parent);
    // The control holds a change that is not in the field yet.
    bool pending() const { return pending_; }
    void setPending(bool on) { pending_ = on; }

    // Called to show the field again (whole row or this field changed).
    std::function<void()> onDataChange;
    // Called to write a pending change; throws db::DbError.
    std::function<void()> onUpdateData;

    // Runs f while the link ignores the changes it causes itself.
    void writing(const std::function<void()>& f);

    // db::PendingEdit: what the dataset calls before a post or a move.
    void storePending() override;
    bool hasPending() const override { return pending_; }

private:
    void changed(int fieldIndex);
    QPointer<db::DataSource> source_;
    QString fieldName_;
    bool pending_ = false;
    bool writing_ = false;
    QMetaObject::Connection c1_, c2_;
};

// Edit of one field: width from the field, optional upper-case entry, optional
// edit mask (then it is a MaskEdit: text() in the mask's text form).
class DBEdit : public MaskEdit {
    Q_OBJECT
public:
    explicit DBEdit(QWidget* parent = nullptr);
    void setDataSource(db::DataSource* ds) { link_.setDataSource(ds); }
    void setDataField(const QString& name) { link_.setFieldName(name); }
    FieldDataLink& link() { return link_; }
    // Letters typed are turned to upper case (and shown so).
    void setUpperCase(bool on) { upper_ = on; }
    bool upperCase() const { return upper_; }
    // Shows the field again, dropping a pending change.
    void reset();

protected:
    void focusOutEvent(QFocusEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;

private:
    void edited(const QString& text);
    void write();
    FieldDataLink link_;
    bool upper_ = false;
    bool showing_ = false;
};

class DBMemo : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit DBMemo(QWidget* parent = nullptr);
    void setDataSource(db::DataSource* ds) { link_.setDataSource(ds); }
    void setDataField(const QString& name) { link_.setFieldName(name); }
    FieldDataLink& link() { return link_; }

private:
    void edited();
    FieldDataLink link_;
    bool showing_ = false;
};

// Check box over a flag. By default the permission-flag rule: checked when
// the field holds 0, writes 0 when checked and -1 when unchecked; an empty
// field (or any other value) shows unchecked.
class DBCheckBox : public QCheckBox {
    Q_OBJECT
public:
    explicit DBCheckBox(QWidget* parent = nullptr);
    explicit DBCheckBox(const QString& text, QWidget* parent = nullptr);
    void setDataSource(db::DataSource* ds) { link_.setDataSource(ds); }
    void setDataField(const QString& name) { link_.setFieldName(name); }
    FieldDataLink& link() { return link_; }
    void setValueChecked(const QVariant& v) { checkedValue_ = v; }
    void setValueUnchecked(const QVariant& v) { uncheckedValue_ = v; }

protected:
    void nextCheckState() override;

private:
    // Shows the field's value (not QWidget::show, which it must not hide).
    void showValue();
    FieldDataLink link_;
    QVariant checkedValue_ = 0;
    QVariant uncheckedValue_ = -1;
};

// A captioned group of radio buttons over a field: each item stands for a
// value; clicking an item stores its value. A stored value that no item
// stands for (empty included) shows no item checked, so the window never
// claims a value the row does not hold.
//
//   auto* rg = new DBRadioGroup(QStringLiteral("Alinhamento"), this);
//   rg->addItem(QStringLiteral("Direita"), QStringLiteral("D"));
//   rg->addItem(QStringLiteral("Esquerda"), QStringLiteral("E"));
//   rg->setDataSource(ds); rg->setDataField(QStringLiteral("Matri_align"));
class DBRadioGroup : public QGroupBox {
    Q_OBJECT
public:
    explicit DBRadioGroup(const QString& title, QWidget* parent = nullptr);
    void setDataSource(db::DataSource* ds) { link_.setDataSource(ds); }
    void setDataField(const QString& name) { link_.setFieldName(name); }
    FieldDataLink& link() { return link_; }
    // The item's button is named "<group's objectName>_<index>" once the
    // group has a name.
    void addItem(const QString& caption, const QVariant& value);
    int count() const { return int(values_.size()); }
    QRadioButton* button(int index) const;
    // The checked item, -1 when none is.
    int itemIndex() const;
    // The value of the checked item; null when none is checked.
    QVariant value() const;

private:
    // Shows the field's value (not QWidget::show, which it must not hide).
    void showValue();
    void chosen(int index);
    FieldDataLink link_;
    QButtonGroup* group_;
    QVariantList values_;
};

class LookupListModel;

// List of the values of one field (listField) of another dataset; choosing
// one stores that row's keyField into the bound field. A stored value that is
// not in the list shows nothing selected. The list is read a page at a time
// through the list dataset's side cursor as it is shown, so a list over
// thousands of rows opens at once and the list dataset's row never moves.
class DBLookupComboBox : public QComboBox {
    Q_OBJECT
public:
    explicit DBLookupComboBox(QWidget* parent = nullptr);
    ~DBLookupComboBox() override;
    void setDataSource(db::DataSource* ds) { link_.setDataSource(ds); }
    void setDataField(const QString& name) { link_.setFieldName(name); }
    FieldDataLink& link() { return link_; }
    void setListSource(db::DataSource* list);
    void setKeyField(const QString& name);
    void setListField(const QString& name);
    // Reads the list again from the list dataset (also done whenever that
    // dataset is opened, stores or deletes a row). Its current row stays.
    void reloadList();
    QVariant keyAt(int index) const;

private:
    void chosen(int index);
    // Shows the field's value (not QWidget::show, which it must not hide).
    void showValue();
    FieldDataLink link_;
    QPointer<db::DataSource> list_;
    QMetaObject::Connection listConnection_;
    QString keyField_, listField_;
    LookupListModel* model_;
    bool showing_ = false;
};

} // namespace keldo::ui
