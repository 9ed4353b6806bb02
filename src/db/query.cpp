#include "collation.h"
#include "database.h"
#include "dataset.h"

#include <QSqlQuery>
#include <QSqlRecord>

namespace keldo::db {

QString parseParams(const QString& sql, QStringList* names) {
    QString out;
    out.reserve(sql.size());
    const int n = int(sql.size());
    for (int i = 0; i < n;) {
        const QChar c = sql[i];
        if (c == QLatin1Char('\'') || c == QLatin1Char('"')) {
            // Quoted text or name, with doubled quotes inside.
            int j = i + 1;
            while (j < n) {
                if (sql[j] == c) {
                    if (j + 1 < n && sql[j + 1] == c) {
                        j += 2;
                        continue;
                    }
                    break;
                }
                ++j;
            }
            out += QStringView(sql).mid(i, std::min(j + 1, n) - i);
            i = j + 1;
            continue;
        }
        if (c == QLatin1Char('-') && i + 1 < n && sql[i + 1] == QLatin1Char('-')) {
            int j = int(sql.indexOf(QLatin1Char('\n'), i));
            if (j < 0)
                j = n;
            out += QStringView(sql).mid(i, j - i);
            i = j;
            continue;
        }
        if (c == QLatin1Char(':')) {
            if (i + 1 < n && sql[i + 1] == QLatin1Char(':')) {
                out += QLatin1String("::");
                i += 2;
                continue;
            }
            int j = i + 1;
            while (j < n && (sql[j].isLetterOrNumber() || sql[j] == QLatin1Char('_')))
                ++j;
            if (j > i + 1 && !sql[i + 1].isDigit()) {
                names->append(sql.mid(i + 1, j - i - 1));
                out += QLatin1Char('?');
                i = j;
                continue;
            }
        }
        out += c;
        ++i;
    }
    return out;
}

struct Query::Cursor {
    QSqlQuery q;
    QList<FieldType> types;
};

void Query::throwOneWay() const {
    throw DbError(
        QStringLiteral("%1: operação não permitida em consulta unidirecional.").arg(objectName()));
}

Query::Query(QObject* parent) : DataSet(parent) {
    setReadOnly(true);
}

Query::~Query() = default;

void Query::setDatabase(Database* db) {
    if (db == db_)
        return;
    close();
    db_ = db;
}

void Query::setSql(const QString& text) {
    close();
    sql_ = text;
    QStringList names;
    engineSql_ = parseParams(sql_, &names);
    paramOrder_ = names;
    // Values already given survive a new text that names them again.
    QList<Param> old = params_;
    params_.clear();
    for (const QString& n : names) {
        bool seen = false;
        for (const Param& p : params_)
            if (p.name.compare(n, Qt::CaseInsensitive) == 0)
                seen = true;
        if (seen)
            continue;
        Param p{n, QVariant(), false};
        for (const Param& o : old)
            if (o.name.compare(n, Qt::CaseInsensitive) == 0 && o.bound)
                p = Param{n, o.value, true};
        params_ << p;
    }
}

void Query::addSql(const QString& line) {
    setSql(sql_.isEmpty() ? line : sql_ + QLatin1Char('\n') + line);
}

Param& Query::paramByName(const QString& name) {
    for (Param& p : params_)
        if (p.name.compare(name, Qt::CaseInsensitive) == 0)
            return p;
    throw DbError(QStringLiteral("%1: Parâmetro '%2' não encontrado.").arg(objectName(), name));
}

void Query::setParam(const QString& name, const QVariant& value) {
    Param& p = paramByName(name);
    p.value = value;
    p.bound = true;
}

void Query::setMasterSource(DataSource* master) {
    if (master == master_)
        return;
    disconnect(masterConnection_);
    master_ = master;
    if (master_)
        masterConnection_ =
            connect(master_, &DataSource::dataChanged, this, [this](int f) { masterChanged(f); });
}

void Query::masterChanged(int fieldIndex) {
    // Only a new master row re-runs the query, not a keystroke in a field.
    if (fieldIndex >= 0 || !isActive())
        return;
    DataSet* m = master_ ? master_->dataSet() : nullptr;
    if (m && m->isEditing())
        return;
    close();
    if (m && m->isActive())
        open();
}

QVariantList Query::boundValues() const {
    QVariantList values;
    DataSet* m = master_ ? master_->dataSet() : nullptr;
    for (const QString& n : paramOrder_) {
        const Param* param = nullptr;
        for (const Param& p : params_)
            if (p.name.compare(n, Qt::CaseInsensitive) == 0)
                param = &p;
        if (param && param->bound) {
            values << param->value;
            continue;
        }
        int f = m && m->isActive() ? m->fieldIndex(n) : -1;
        values << (f >= 0 ? m->currentValues().value(f) : QVariant());
    }
    return values;
}

void Query::execute(bool stream) {
    if (!db_)
        throw DbError(QStringLiteral("%1: nenhum banco de dados associado.").arg(objectName()));
    if (sql_.trimmed().isEmpty())
        throw DbError(QStringLiteral("%1: a consulta não tem texto.").arg(objectName()));
    cursor_ = std::make_unique<Cursor>();
    cursor_->q = QSqlQuery(db_->connection());
    cursor_->q.setForwardOnly(stream);
    QSqlQuery& q = cursor_->q;
    const QVariantList values = boundValues();
    bool ok;
    if (values.isEmpty()) {
        ok = q.exec(engineSql_);
    } else {
        ok = q.prepare(engineSql_);
        if (ok) {
            for (int i = 0; i < values.size(); ++i)
                q.bindValue(i, db_->dialect().toEngine(values[i]));
            ok = q.exec();
        }
    }
    if (!ok) {
        QSqlError e = q.lastError();
        cursor_.reset();
        db_->raise(e);
    }
    if (!q.isSelect()) {
        cursor_.reset();
        throw DbError(QStringLiteral("%1: o comando não devolve registros.").arg(objectName()));
    }
    const QSqlRecord rec = q.record();
    cursor_->types = db_->dialect().resultTypes(q);
    QList<FieldDef> defs;
    for (int i = 0; i < rec.count(); ++i) {
        FieldDef f;
        f.name = rec.fieldName(i);
        f.type = cursor_->types.value(i, FieldType::String);
        defs << f;
    }
    setFieldDefs(defs);
}

void Query::doOpen() {
    // A one-way query (an export that reads nothing else meanwhile) always
    // streams; others stream where the engine lets other statements run.
    execute(unidirectional_ || db_ == nullptr || db_->dialect().streamsWhileOthersRun());
    rows_.clear();
    pos_ = -1;
    atEndOfResult_ = false;
}

qint64 Query::forEachRow(const std::function<bool(const Row&)>& row) {
    close();
    execute(true);
    qint64 count = 0;
    QSqlQuery& q = cursor_->q;
    Row r;
    try {
        while (q.next()) {
            r.rowId = count;
            r.values.clear();
            for (int i = 0; i < cursor_->types.size(); ++i)
                r.values << db_->dialect().fromEngine(q.value(i), cursor_->types[i]);
            db_->countRowsRead(1);
            ++count;
            if (!row(r))
                break;
        }
        if (q.lastError().isValid())
            db_->raise(q.lastError());
    } catch (...) {
        cursor_.reset();
        throw;
    }
    cursor_.reset();
    return count;
}

QList<Row> Query::readAround(const Row* from, bool forward, int n) {
    if (n <= 0)
        return {};
    if (forward)
        return readAt(from ? from->rowId.toInt() + 1 : 0, n);
    if (from) {
        const int at = from->rowId.toInt();
        return readAt(std::max(0, at - n), std::min(at, n));
    }
    const int count = recordCount(); // reads the result to its end
    return readAt(std::max(0, count - n), n);
}

void Query::doClose() {
    cursor_.reset();
    rows_.clear();
    pos_ = -1;
    atEndOfResult_ = true;
}

bool Query::fetchOne() {
    if (atEndOfResult_ || !cursor_)
        return false;
    QSqlQuery& q = cursor_->q;
    if (!q.next()) {
        atEndOfResult_ = true;
        if (q.lastError().isValid())
            db_->raise(q.lastError());
        q.finish();
        return false;
    }
    Row r;
    r.rowId = rows_.size();
    r.values.reserve(cursor_->types.size());
    for (int i = 0; i < cursor_->types.size(); ++i)
        r.values << db_->dialect().fromEngine(q.value(i), cursor_->types[i]);
    db_->countRowsRead(1);
    if (unidirectional_)
        rows_.clear();
    rows_ << r;
    return true;
}

std::optional<Row> Query::at(int i) {
    if (unidirectional_) {
        // Only the row just read is kept.
        if (i == pos_ + 1 && fetchOne()) {
            pos_ = i;
            return rows_.last();
        }
        if (i == pos_ && !rows_.isEmpty())
            return rows_.last();
        if (i < pos_)
            throwOneWay();
        return std::nullopt;
    }
    while (i >= rows_.size() && fetchOne()) {
    }
    if (i < 0 || i >= rows_.size())
        return std::nullopt;
    pos_ = i;
    return rows_[i];
}

std::optional<Row> Query::doFirst() {
    if (unidirectional_ && pos_ > 0)
        throwOneWay();
    if (unidirectional_ && pos_ == 0)
        return rows_.last();
    return at(0);
}

std::optional<Row> Query::doLast() {
    if (unidirectional_) {
        while (fetchOne())
            ++pos_;
        if (rows_.isEmpty())
            return std::nullopt;
        return rows_.last();
    }
    while (fetchOne()) {
    }
    return at(int(rows_.size()) - 1);
}

std::optional<Row> Query::doNext() {
    return at(pos_ + 1);
}

std::optional<Row> Query::doPrior() {
    if (pos_ <= 0)
        return std::nullopt;
    return at(pos_ - 1);
}

std::optional<Row> Query::doRefresh() {
    // Running the statement again is the only way to see new rows.
    const int keep = std::max(pos_, 0);
    doClose();
    doOpen();
    std::optional<Row> r;
    for (int i = 0; i <= keep; ++i) {
        auto n = at(i);
        if (!n)
            break;
        r = n;
    }
    return r;
}

std::optional<Row> Query::doMatch(const QList<int>& fields, const QVariantList& values,
                                  LocateOptions opts, bool move) {
    auto matches = [&](const Row& r) {
        for (int i = 0; i < fields.size(); ++i) {
            const QVariant& have = r.values[fields[i]];
            const QVariant& want = values[i];
            if (isTextType(fields_[fields[i]].type) || want.typeId() == QMetaType::QString) {
                QString h = have.toString(), w = want.toString();
                if (opts.partialKey)
                    h.truncate(w.size());
                if (opts.caseInsensitive ? compareFolded(h, w) != 0 : h != w)
                    return false;
            } else if (have != want) {
                return false;
            }
        }
        return true;
    };
    if (unidirectional_) {
        if (!move)
            throwOneWay();
        while (auto r = at(pos_ + 1))
            if (matches(*r))
                return r;
        return std::nullopt;
    }
    const int from = pos_;
    for (int i = 0;; ++i) {
        auto r = at(i);
        if (!r) {
            pos_ = from;
            return std::nullopt;
        }
        if (matches(*r)) {
            if (!move)
                pos_ = from;
            return r;
        }
    }
}

QList<Row> Query::readAt(int offset, int n) {
    checkActive();
    if (unidirectional_)
        throwOneWay();
    if (n <= 0)
        return {};
    offset = std::max(0, offset);
    while (int(rows_.size()) < offset + n && fetchOne()) {
    }
    return rows_.mid(offset, n);
}

int Query::recordCount() {
    checkActive();
    if (unidirectional_)
        return pos_ + 1;
    while (fetchOne()) {
    }
    return int(rows_.size());
}

int Query::execSql() {
    if (!db_)
        throw DbError(QStringLiteral("%1: nenhum banco de dados associado.").arg(objectName()));
    if (sql_.trimmed().isEmpty())
        throw DbError(QStringLiteral("%1: a consulta não tem texto.").arg(objectName()));
    close();
    QSqlQuery q = db_->exec(engineSql_, boundValues());
    int n = q.numRowsAffected();
    q.finish();
    return n;
}

} // namespace keldo::db
