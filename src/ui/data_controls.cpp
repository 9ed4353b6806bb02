#include "ui/data_controls.h"

#include "ui/prompter.h"

#include <QAbstractListModel>
#include <QButtonGroup>
#include <QHash>
#include <QKeyEvent>
#include <QListView>
#include <QLocale>
#include <QRadioButton>
#include <QVBoxLayout>

#include <algorithm>
#include <vector>

namespace keldo::ui {

using db::DataSetState;
using db::DbError;
using db::FieldType;

namespace {

bool sameValue(const QVariant& a, const QVariant& b) {
    if (a.isNull() || b.isNull())
        return a.isNull() && b.isNull();
    bool okA = false, okB = false;
    const double da = a.toDouble(&okA), db = b.toDouble(&okB);
    if (okA && okB)
        return da == db;
    return a.toString() == b.toString();
}

// Where the field's value stands among the values; -1 when it is empty or
// none of them.
int indexOfValue(const QVariantList& values, const std::optional<db::Field>& field) {
    if (field && !field->isNull())
        for (int i = 0; i < values.size(); ++i)
            if (sameValue(values[i], field->value()))
                return i;
    return -1;
}

// Writes the value the operator chose into the field; a value the field
// refuses is told to the operator and leaves the field as it was.
bool writeChoice(FieldDataLink& link, db::Field field, const QVariant& value, QWidget* parent) {
    try {
        link.writing([&] { field.setValue(value); });
    } catch (const DbError& e) {
        Prompter::current().error(parent, e.text());
        return false;
    }
    return true;
}

} // namespace

void storeFieldText(db::Field field, const QString& text, const EditMask& mask) {
    const db::FieldDef def = field.dataSet().fieldDefs()[field.index()];
    if (mask.isNull()) {
        field.setValue(text);
        return;
    }
    if (mask.isBlank(text)) {
        field.clear();
        return;
    }
    switch (def.type) {
    case FieldType::Date:
        if (auto d = readMaskedDate(text)) {
            field.setValue(*d);
            return;
        }
        throw DbError(QStringLiteral("'%1' não é uma data válida.").arg(text));
    case FieldType::Time:
        if (auto t = readMaskedTime(text)) {
            field.setValue(*t);
            return;
        }
        throw DbError(QStringLiteral("'%1' não é uma hora válida.").arg(text));
    case FieldType::DateTime:
        if (auto dt = readMaskedDateTime(text)) {
            field.setValue(*dt);
            return;
        }
        throw DbError(QStringLiteral("'%1' não é uma data e hora válida.").arg(text));
    case FieldType::String:
        // Times of day are kept as "HH:MM" text; " 9:05" would sort before
        // "08:00", so the optional first digit is stored as a zero.
        if (def.size == 5 && mask.length() == 5) {
            if (auto hm = normalizedHourMinute(text)) {
                field.setValue(*hm);
                return;
            }
            if (!mask.isComplete(text))
                throw DbError(QStringLiteral("'%1' não é uma hora válida.").arg(text));
        }
        field.setValue(text);
        return;
    default:
        field.setValue(text.trimmed());
        return;
    }
}

QString fieldDisplayText(const db::FieldDef& def, const QVariant& v) {
    if (v.isNull())
        return {};
    if (v.typeId() == QMetaType::Bool)
        return v.toBool() ? QStringLiteral("True") : QStringLiteral("False");
    if (def.type == FieldType::Blob)
        return QStringLiteral("(BLOB)");
    return db::valueText(v);
}

// ---- FieldDataLink -------------------------------------------------------

FieldDataLink::FieldDataLink(QObject* owner) : QObject(owner) {}

FieldDataLink::~FieldDataLink() {
    if (source_)
        source_->removePendingEdit(this);
}

void FieldDataLink::setDataSource(db::DataSource* ds) {
    disconnect(c1_);
    disconnect(c2_);
    if (source_)
        source_->removePendingEdit(this);
    source_ = ds;
    if (ds) {
        ds->addPendingEdit(this);
        c1_ = connect(ds, &db::DataSource::dataChanged, this, &FieldDataLink::changed);
        c2_ = connect(ds, &db::DataSource::stateChanged, this, [this] { changed(-1); });
    }
    changed(-1);
}

void FieldDataLink::setFieldName(const QString& name) {
    fieldName_ = name;
    changed(-1);
}

db::DataSet* FieldDataLink::dataSet() const {
    return source_ ? source_->dataSet() : nullptr;
}

std::optional<db::Field> FieldDataLink::field() const {
    db::DataSet* ds = dataSet();
    if (!ds || !ds->isActive() || fieldName_.isEmpty())
        return std::nullopt;
    return ds->findField(fieldName_);
}

bool FieldDataLink::canModify() const {
    db::DataSet* ds = dataSet();
    return field().has_value() && !ds->readOnly() && source_->isEnabled();
}

bool FieldDataLink::beginEdit(QWidget* parent) {
    if (!canModify())
        return false;
    db::DataSet* ds = dataSet();
    if (ds->isEditing())
        return true;
    try {
        writing([&] { ds->edit(); });
    } catch (const db::Abort&) {
        return false;
    } catch (const DbError& e) {
        Prompter::current().error(parent, e.text());
        return false;
    }
    return ds->isEditing();
}

void FieldDataLink::writing(const std::function<void()>& f) {
    const bool was = writing_;
    writing_ = true;
    try {
        f();
    } catch (...) {
        writing_ = was;
        throw;
    }
    writing_ = was;
}

void FieldDataLink::changed(int fieldIndex) {
    if (writing_)
        return;
    if (fieldIndex >= 0) {
        auto f = field();
        if (!f || f->index() != fieldIndex)
            return;
    }
    pending_ = false;
    if (onDataChange)
        onDataChange();
}

void FieldDataLink::storePending() {
    if (!pending_ || !onUpdateData)
        return;
    try {
        onUpdateData();
    } catch (const DbError&) {
        // The operator corrects the text where it is.
        if (auto* w = qobject_cast<QWidget*>(parent()))
            w->setFocus(Qt::OtherFocusReason);
        throw;
    }
    pending_ = false;
}

// ---- DBEdit ----------------------------------------------------------------

DBEdit::DBEdit(QWidget* parent) : MaskEdit(parent), link_(this) {
    link_.onDataChange = [this] { reset(); };
    link_.onUpdateData = [this] {
        auto f = link_.field();
        if (!f || !f->dataSet().isEditing())
            return;
        link_.writing([&] { storeFieldText(*f, text(), editMask()); });
    };
    connect(this, &QLineEdit::textEdited, this, [this](const QString& t) {
        if (editMask().isNull())
            edited(t);
    });
    connect(this, &MaskEdit::maskedTextEdited, this, &DBEdit::edited);
}

void DBEdit::reset() {
    showing_ = true;
    auto f = link_.field();
    if (f && editMask().isNull()) {
        const db::FieldDef& def = f->dataSet().fieldDefs()[f->index()];
        setMaxLength(def.type == FieldType::String && def.size > 0 ? def.size : 32767);
    }
    QString shown = f ? f->asString() : QString();
    // A stored "09:05" or date shows through the mask as typed.
    setText(shown);
    showing_ = false;
}

void DBEdit::edited(const QString& typed) {
    if (showing_)
        return;
    QString t = typed;
    if (upper_ && editMask().isNull() && t != t.toUpper()) {
        const int cur = cursorPosition();
        t = t.toUpper();
        QLineEdit::setText(t);
        setCursorPosition(cur);
    }
    if (!link_.beginEdit(this)) {
        reset();
        return;
    }
    link_.setPending(true);
    write();
}

void DBEdit::write() {
    auto f = link_.field();
    if (!f)
        return;
    try {
        link_.writing([&] { storeFieldText(*f, text(), editMask()); });
        link_.setPending(false);
    } catch (const DbError&) {
        // Half-typed: stays pending until the field is left or posted.
    }
}

void DBEdit::focusOutEvent(QFocusEvent* e) {
    MaskEdit::focusOutEvent(e);
    if (!link_.pending())
        return;
    try {
        link_.onUpdateData();
        link_.setPending(false);
    } catch (const DbError& err) {
        Prompter::current().error(this, err.text());
    }
}

void DBEdit::keyPressEvent(QKeyEvent* e) {
    // Escape on a changed field brings back the stored value, as before.
    if (e->key() == Qt::Key_Escape && link_.pending()) {
        reset();
        link_.setPending(false);
        return;
    }
    if (upper_ && !editMask().isNull() && e->text().size() == 1 && e->text()[0].isLower()) {
        typeChar(e->text()[0].toUpper());
        return;
    }
    MaskEdit::keyPressEvent(e);
}

// ---- DBMemo ------------------------------------------------------------------

DBMemo::DBMemo(QWidget* parent) : QPlainTextEdit(parent), link_(this) {
    link_.onDataChange = [this] {
        showing_ = true;
        auto f = link_.field();
        setPlainText(f ? f->asString() : QString());
        showing_ = false;
    };
    link_.onUpdateData = [this] {
        auto f = link_.field();
        if (f && f->dataSet().isEditing())
            link_.writing([&] { f->setValue(toPlainText()); });
    };
    connect(this, &QPlainTextEdit::textChanged, this, &DBMemo::edited);
}

void DBMemo::edited() {
    if (showing_)
        return;
    if (!link_.beginEdit(this)) {
        link_.onDataChange();
        return;
    }
    link_.setPending(true);
    link_.onUpdateData();
    link_.setPending(false);
}

// ---- DBCheckBox --------------------------------------------------------------

DBCheckBox::DBCheckBox(QWidget* parent) : DBCheckBox(QString(), parent) {}

DBCheckBox::DBCheckBox(const QString& text, QWidget* parent)
    : QCheckBox(text, parent), link_(this) {
    link_.onDataChange = [this] { showValue(); };
    showValue();
}

void DBCheckBox::showValue() {
    auto f = link_.field();
    const bool on = f && !f->isNull() && sameValue(f->value(), checkedValue_);
    setChecked(on);
}

void DBCheckBox::nextCheckState() {
    auto f = link_.field();
    if (!f || !link_.beginEdit(this))
        return;
    const bool on = !isChecked();
    if (writeChoice(link_, *f, on ? checkedValue_ : uncheckedValue_, this))
        setChecked(on);
}

// ---- DBRadioGroup --------------------------------------------------------------

DBRadioGroup::DBRadioGroup(const QString& title, QWidget* parent)
    : QGroupBox(title, parent), link_(this), group_(new QButtonGroup(this)) {
    new QVBoxLayout(this);
    link_.onDataChange = [this] { showValue(); };
    connect(group_, &QButtonGroup::idClicked, this, &DBRadioGroup::chosen);
}

void DBRadioGroup::addItem(const QString& caption, const QVariant& value) {
    auto* b = new QRadioButton(caption, this);
    if (!objectName().isEmpty())
        b->setObjectName(objectName() + QLatin1Char('_') + QString::number(values_.size()));
    group_->addButton(b, int(values_.size()));
    layout()->addWidget(b);
    values_ << value;
    showValue();
}

QRadioButton* DBRadioGroup::button(int index) const {
    return qobject_cast<QRadioButton*>(group_->button(index));
}

int DBRadioGroup::itemIndex() const {
    return group_->checkedId();
}

QVariant DBRadioGroup::value() const {
    const int i = itemIndex();
    return i >= 0 && i < values_.size() ? values_[i] : QVariant();
}

void DBRadioGroup::showValue() {
    const int at = indexOfValue(values_, link_.field());
    // An exclusive group keeps one button checked; none may be.
    group_->setExclusive(false);
    for (int i = 0; i < values_.size(); ++i)
        group_->button(i)->setChecked(i == at);
    group_->setExclusive(true);
}

void DBRadioGroup::chosen(int index) {
    auto f = link_.field();
    if (!f || index < 0 || index >= values_.size()) {
        showValue();
        return;
    }
    // The item already stored: nothing changes, the row stays as it is.
    if (!f->isNull() && sameValue(values_[index], f->value()))
        return;
    if (!link_.beginEdit(this)) {
        showValue();
        return;
    }
    if (!writeChoice(link_, *f, values_[index], this))
        showValue();
}

// ---- DBLookupComboBox ----------------------------------------------------------

// The rows of the list dataset by their place in its order, read a page at a
// time when a row is first shown. Only the count is asked up front.
class LookupListModel : public QAbstractListModel {
public:
    static constexpr int kPage = 32;
    using QAbstractListModel::QAbstractListModel;

    void reset(db::DataSet* ds, int keyField, int listField) {
        beginResetModel();
        ds_ = ds;
        keyField_ = keyField;
        listField_ = listField;
        pages_.clear();
        count_ = ds ? ds->recordCount() : 0;
        endResetModel();
    }
    int rowCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : count_;
    }
    QVariant data(const QModelIndex& index, int role) const override {
        const Item* item = itemAt(index.row());
        if (!item)
            return {};
        if (role == Qt::DisplayRole || role == Qt::EditRole)
            return item->text;
        if (role == Qt::UserRole)
            return item->key;
        return {};
    }
    QVariant keyAt(int row) const {
        const Item* item = itemAt(row);
        return item ? item->key : QVariant();
    }
    // The place of the row whose key is `key`, or -1.
    int find(const QVariant& key) const {
        if (!ds_ || !ds_->isActive() || key.isNull() || keyField_ < 0)
            return -1;
        try {
            db::SideCursor side(*ds_);
            const auto row = side.match(ds_->fieldDefs()[keyField_].name, key);
            if (!row)
                return -1;
            const int at = side.position(*row);
            return at < count_ ? at : -1;
        } catch (const DbError&) {
            return -1;
        }
    }

private:
    struct Item {
        QVariant key;
        QString text;
    };
    const Item* itemAt(int row) const {
        if (!ds_ || row < 0 || row >= count_)
            return nullptr;
        QList<Item>& page = pages_[row / kPage];
        if (page.isEmpty()) {
            try {
                const QList<db::Row> rows = db::SideCursor(*ds_).at(row / kPage * kPage, kPage);
                for (const db::Row& r : rows)
                    page << Item{r.values.value(keyField_),
                                 db::valueText(r.values.value(listField_))};
            } catch (const DbError&) {
                return nullptr;
            }
        }
        const int i = row % kPage;
        return i < page.size() ? &page[i] : nullptr;
    }

    db::DataSet* ds_ = nullptr;
    int keyField_ = -1;
    int listField_ = -1;
    int count_ = 0;
    mutable QHash<int, QList<Item>> pages_;
};

DBLookupComboBox::DBLookupComboBox(QWidget* parent)
    : QComboBox(parent), link_(this), model_(new LookupListModel(this)) {
    setEditable(false);
    setModel(model_);
    // Sizing to the contents would read every row of the list.
    setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    setMinimumContentsLength(20);
    if (auto* list = qobject_cast<QListView*>(view()))
        list->setUniformItemSizes(true);
    link_.onDataChange = [this] { showValue(); };
    connect(this, &QComboBox::activated, this, &DBLookupComboBox::chosen);
}

DBLookupComboBox::~DBLookupComboBox() = default;

void DBLookupComboBox::setListSource(db::DataSource* list) {
    disconnect(listConnection_);
    list_ = list;
    if (list)
        listConnection_ =
            connect(list, &db::DataSource::stateChanged, this, [this] { reloadList(); });
    reloadList();
}

void DBLookupComboBox::setKeyField(const QString& name) {
    keyField_ = name;
    reloadList();
}

void DBLookupComboBox::setListField(const QString& name) {
    listField_ = name;
    reloadList();
}

QVariant DBLookupComboBox::keyAt(int index) const {
    return model_->keyAt(index);
}

void DBLookupComboBox::reloadList() {
    db::DataSet* ds = list_ ? list_->dataSet() : nullptr;
    int keyF = -1, listF = -1;
    if (ds && ds->isActive() && !keyField_.isEmpty() && !listField_.isEmpty()) {
        keyF = ds->fieldIndex(keyField_);
        listF = ds->fieldIndex(listField_);
    }
    showing_ = true;
    try {
        model_->reset(keyF >= 0 && listF >= 0 ? ds : nullptr, keyF, listF);
    } catch (const DbError& e) {
        model_->reset(nullptr, -1, -1);
        Prompter::current().error(this, e.text());
    }
    showing_ = false;
    showValue();
}

void DBLookupComboBox::showValue() {
    auto f = link_.field();
    showing_ = true;
    setCurrentIndex(f && !f->isNull() ? model_->find(f->value()) : -1);
    showing_ = false;
}

void DBLookupComboBox::chosen(int index) {
    if (showing_)
        return;
    auto f = link_.field();
    const QVariant key = model_->keyAt(index);
    if (!f || !key.isValid() || !link_.beginEdit(this)) {
        showValue();
        return;
    }
    if (!writeChoice(link_, *f, key, this))
        showValue();
}

} // namespace keldo::ui
