#include "ui/data_controls.h"

#include "ui/prompter.h"

#include <QButtonGroup>
#include <QKeyEvent>
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

std::vector<FieldDataLink*>& allLinks() {
    static std::vector<FieldDataLink*> links;
    return links;
}

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

FieldDataLink::FieldDataLink(QObject* owner) : QObject(owner) {
    allLinks().push_back(this);
}

FieldDataLink::~FieldDataLink() {
    auto& v = allLinks();
    v.erase(std::remove(v.begin(), v.end(), this), v.end());
}

void FieldDataLink::setDataSource(db::DataSource* ds) {
    disconnect(c1_);
    disconnect(c2_);
    source_ = ds;
    if (ds) {
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

void FieldDataLink::updateRecord(db::DataSet* ds) {
    // Copy: writing may destroy nothing, but a handler may create controls.
    const std::vector<FieldDataLink*> links = allLinks();
    for (FieldDataLink* l : links) {
        if (l->dataSet() != ds || !l->pending_ || !l->onUpdateData)
            continue;
        l->onUpdateData();
        l->pending_ = false;
    }
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
    link_.onDataChange = [this] { show(); };
    show();
}

void DBCheckBox::show() {
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
    link_.onDataChange = [this] { show(); };
    connect(group_, &QButtonGroup::idClicked, this, &DBRadioGroup::chosen);
}

void DBRadioGroup::addItem(const QString& caption, const QVariant& value) {
    auto* b = new QRadioButton(caption, this);
    if (!objectName().isEmpty())
        b->setObjectName(objectName() + QLatin1Char('_') + QString::number(values_.size()));
    group_->addButton(b, int(values_.size()));
    layout()->addWidget(b);
    values_ << value;
    show();
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

void DBRadioGroup::show() {
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
        show();
        return;
    }
    // The item already stored: nothing changes, the row stays as it is.
    if (!f->isNull() && sameValue(values_[index], f->value()))
        return;
    if (!link_.beginEdit(this)) {
        show();
        return;
    }
    if (!writeChoice(link_, *f, values_[index], this))
        show();
}

// ---- DBLookupComboBox ----------------------------------------------------------

DBLookupComboBox::DBLookupComboBox(QWidget* parent) : QComboBox(parent), link_(this) {
    setEditable(false);
    link_.onDataChange = [this] { show(); };
    connect(this, &QComboBox::activated, this, &DBLookupComboBox::chosen);
}

void DBLookupComboBox::setListSource(db::DataSource* list) {
    disconnect(listConnection_);
    list_ = list;
    if (list)
        listConnection_ = connect(list, &db::DataSource::stateChanged, this, [this] {
            if (!loading_)
                reloadList();
        });
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
    return index >= 0 && index < keys_.size() ? keys_[index] : QVariant();
}

void DBLookupComboBox::reloadList() {
    db::DataSet* ds = list_ ? list_->dataSet() : nullptr;
    showing_ = true;
    clear();
    keys_.clear();
    showing_ = false;
    if (!ds || !ds->isActive() || keyField_.isEmpty() || listField_.isEmpty() || ds->isEditing()) {
        show();
        return;
    }
    auto keyF = ds->findField(keyField_);
    auto listF = ds->findField(listField_);
    if (!keyF || !listF) {
        show();
        return;
    }
    loading_ = true;
    ds->disableControls();
    const auto scrollBefore = ds->beforeScroll;
    const auto scrollAfter = ds->afterScroll;
    ds->beforeScroll = nullptr;
    ds->afterScroll = nullptr;
    QStringList texts;
    int here = -1;
    const QVariant hereId = ds->currentRow().rowId;
    const bool hadRow = !ds->isEmpty();
    try {
        for (ds->first(); !ds->eof(); ds->next()) {
            if (hadRow && here < 0 && ds->currentRow().rowId == hereId)
                here = int(keys_.size());
            keys_ << keyF->value();
            texts << listF->asString();
            if (ds->isEmpty())
                break;
        }
        // Back to where the list dataset was.
        if (here >= 0)
            ds->moveBy(here - int(keys_.size() - 1));
    } catch (...) {
        ds->beforeScroll = scrollBefore;
        ds->afterScroll = scrollAfter;
        ds->enableControls();
        loading_ = false;
        throw;
    }
    ds->beforeScroll = scrollBefore;
    ds->afterScroll = scrollAfter;
    ds->enableControls();
    loading_ = false;
    showing_ = true;
    addItems(texts);
    showing_ = false;
    show();
}

void DBLookupComboBox::show() {
    showing_ = true;
    setCurrentIndex(indexOfValue(keys_, link_.field()));
    showing_ = false;
}

void DBLookupComboBox::chosen(int index) {
    if (showing_)
        return;
    auto f = link_.field();
    if (!f || index < 0 || index >= keys_.size() || !link_.beginEdit(this)) {
        show();
        return;
    }
    if (!writeChoice(link_, *f, keys_[index], this))
        show();
}

} // namespace keldo::ui
