// What a field holds and shows: the typed accessors of Field, the stored
// value as text, and the conversion of any value to a field's type.
#include "field_value.h"
#include "dataset.h"

#include <QLocale>

namespace keldo::db {

// ---------------------------------------------------------------- Field

const QString& Field::name() const {
    return ds_->fields_[index_].name;
}
FieldType Field::type() const {
    return ds_->fields_[index_].type;
}
int Field::size() const {
    return ds_->fields_[index_].size;
}
bool Field::required() const {
    return ds_->fields_[index_].required;
}
QVariant Field::value() const {
    return ds_->fieldValue(index_);
}
bool Field::isNull() const {
    QVariant v = value();
    return v.isNull() || (v.typeId() == QMetaType::QString && v.toString().isEmpty());
}

QString valueText(const QVariant& v) {
    if (v.isNull())
        return QString();
    switch (v.typeId()) {
    case QMetaType::QDate:
        return v.toDate().toString(QStringLiteral("dd/MM/yyyy"));
    case QMetaType::QTime:
        return v.toTime().toString(QStringLiteral("HH:mm:ss"));
    case QMetaType::QDateTime:
        return v.toDateTime().toString(QStringLiteral("dd/MM/yyyy HH:mm:ss"));
    case QMetaType::Double:
        return QString::number(v.toDouble(), 'g', 15);
    default:
        return v.toString();
    }
}

QString Field::asString() const {
    return valueText(value());
}

int Field::asInteger() const {
    QVariant v = value();
    if (v.isNull())
        return 0;
    bool ok = false;
    int n = v.typeId() == QMetaType::QString ? v.toString().trimmed().toInt(&ok) : v.toInt(&ok);
    return ok ? n : 0;
}

double Field::asFloat() const {
    QVariant v = value();
    if (v.isNull())
        return 0.0;
    bool ok = false;
    double d = v.toDouble(&ok);
    return ok ? d : 0.0;
}

bool Field::asBoolean() const {
    QVariant v = value();
    if (v.isNull())
        return false;
    if (v.typeId() == QMetaType::QString) {
        QString s = v.toString().trimmed().toUpper();
        return s == QLatin1String("S") || s == QLatin1String("T") || s == QLatin1String("1") ||
               s == QLatin1String("TRUE");
    }
    return v.toInt() != 0;
}

QDate Field::asDate() const {
    QVariant v = value();
    switch (v.typeId()) {
    case QMetaType::QDate:
        return v.toDate();
    case QMetaType::QDateTime:
        return v.toDateTime().date();
    case QMetaType::QString:
        return QDate::fromString(v.toString(), QStringLiteral("dd/MM/yyyy"));
    default:
        return QDate();
    }
}

QTime Field::asTime() const {
    QVariant v = value();
    switch (v.typeId()) {
    case QMetaType::QTime:
        return v.toTime();
    case QMetaType::QDateTime:
        return v.toDateTime().time();
    case QMetaType::QString: {
        QString s = v.toString().trimmed();
        QTime t = QTime::fromString(s, QStringLiteral("HH:mm:ss"));
        return t.isValid() ? t : QTime::fromString(s, QStringLiteral("HH:mm"));
    }
    default:
        return QTime();
    }
}

QDateTime Field::asDateTime() const {
    QVariant v = value();
    switch (v.typeId()) {
    case QMetaType::QDateTime:
        return v.toDateTime();
    case QMetaType::QDate:
        return QDateTime(v.toDate(), QTime(0, 0));
    case QMetaType::QTime:
        return QDateTime(QDate(1899, 12, 30), v.toTime());
    default:
        return QDateTime();
    }
}

namespace {

[[noreturn]] void badValue(const QVariant& v, const FieldDef& f) {
    throw DbError(
        QStringLiteral("'%1' não é um valor válido para o campo '%2'.").arg(v.toString(), f.name));
}

} // namespace

QVariant coerce(const QVariant& v, const FieldDef& f) {
    if (v.isNull())
        return QVariant();
    const bool isText = v.typeId() == QMetaType::QString;
    const QString s = isText ? v.toString() : QString();
    if (isText && s.isEmpty() && f.type != FieldType::Memo)
        return QVariant(); // an empty text is an empty field
    switch (f.type) {
    case FieldType::String:
    case FieldType::Memo: {
        QString t;
        switch (v.typeId()) {
        case QMetaType::QDate:
            t = v.toDate().toString(QStringLiteral("dd/MM/yyyy"));
            break;
        case QMetaType::QTime:
            t = v.toTime().toString(QStringLiteral("HH:mm:ss"));
            break;
        default:
            t = v.toString();
        }
        if (f.type == FieldType::String && f.size > 0 && t.size() > f.size)
            t.truncate(f.size);
        if (t.isEmpty() && f.type == FieldType::String)
            return QVariant();
        return t;
    }
    case FieldType::SmallInt:
    case FieldType::Integer: {
        bool ok = false;
        int n = isText ? s.trimmed().toInt(&ok) : v.toInt(&ok);
        if (!ok && !isText) {
            double d = v.toDouble(&ok);
            n = int(d);
        }
        if (!ok)
            badValue(v, f);
        if (f.type == FieldType::SmallInt && (n < -32768 || n > 32767))
            badValue(v, f);
        return n;
    }
    case FieldType::Float: {
        bool ok = false;
        double d = isText
                       ? QLocale::c().toDouble(
                             QString(s).replace(QLatin1Char(','), QLatin1Char('.')).trimmed(), &ok)
                       : v.toDouble(&ok);
        if (!ok)
            badValue(v, f);
        return d;
    }
    case FieldType::Boolean:
        return v.toBool();
    case FieldType::Date: {
        if (v.typeId() == QMetaType::QDate)
            return v;
        if (v.typeId() == QMetaType::QDateTime)
            return v.toDateTime().date();
        QDate d = QDate::fromString(s.trimmed(), QStringLiteral("dd/MM/yyyy"));
        if (!d.isValid())
            d = QDate::fromString(s.trimmed(), QStringLiteral("yyyy-MM-dd"));
        if (!d.isValid())
            badValue(v, f);
        return d;
    }
    case FieldType::Time: {
        if (v.typeId() == QMetaType::QTime)
            return v;
        if (v.typeId() == QMetaType::QDateTime)
            return v.toDateTime().time();
        QString t = s.trimmed();
        QTime tm = QTime::fromString(t, QStringLiteral("HH:mm:ss"));
        if (!tm.isValid())
            tm = QTime::fromString(t, QStringLiteral("HH:mm"));
        if (!tm.isValid())
            tm = QTime::fromString(t, QStringLiteral("H:mm"));
        if (!tm.isValid())
            badValue(v, f);
        return tm;
    }
    case FieldType::DateTime: {
        if (v.typeId() == QMetaType::QDateTime)
            return v;
        if (v.typeId() == QMetaType::QDate)
            return QDateTime(v.toDate(), QTime(0, 0));
        QString t = s.trimmed();
        for (const char* fmt : {"dd/MM/yyyy HH:mm:ss", "dd/MM/yyyy HH:mm", "dd/MM/yyyy",
                                "yyyy-MM-dd HH:mm:ss", "yyyy-MM-dd"}) {
            QDateTime dt = QDateTime::fromString(t, QString::fromLatin1(fmt));
            if (dt.isValid())
                return dt;
        }
        badValue(v, f);
    }
    case FieldType::Blob:
        return v.toByteArray();
    }
    return v;
}

void Field::setValue(const QVariant& v) {
    ds_->setFieldValue(index_, coerce(v, ds_->fields_[index_]));
}

} // namespace keldo::db
