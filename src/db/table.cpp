#include "database.h"
#include "dataset.h"
#include "schema.h"

#include <QSqlQuery>
#include <QSqlRecord>

namespace keldo::db {
namespace {

// Rows read in one round trip. Small enough that opening a table of
// millions costs the same as opening one of ten.
constexpr int kPageRows = 48;

} // namespace

Table::Table(QObject* parent) : DataSet(parent) {}

Table::~Table() = default;

void Table::requireDatabase() const {
    if (!db_)
        throw DbError(QStringLiteral("%1: nenhum banco de dados associado.").arg(objectName()));
}

void Table::checkInactive(const char* what) const {
    if (isActive())
        throw DbError(QStringLiteral("%1: não é possível %2 com a tabela aberta.")
                          .arg(objectName(), QString::fromUtf8(what)));
}

void Table::setDatabase(Database* db) {
    if (db == db_)
        return;
    close();
    db_ = db;
}

void Table::setTableName(const QString& name) {
    if (name == tableName_)
        return;
    checkInactive("trocar o nome da tabela");
    tableName_ = name;
}

QString Table::table() const {
    return engineTableName(tableName_);
}

void Table::setIndexFieldNames(const QString& names) {
    if (names.compare(indexFieldNames_, Qt::CaseInsensitive) == 0 && isActive()) {
        indexFieldNames_ = names;
        return;
    }
    indexFieldNames_ = names;
    if (!isActive())
        return;
    checkBrowseMode();
    buildOrder();
    // The current row stays current; what was read ahead is in the old order.
    std::optional<Row> cur;
    if (!currentRow().rowId.isNull())
        cur = rowById(currentRow().rowId);
    if (cur) {
        setPage({*cur}, 0, false, false);
        setCurrent(std::move(cur), false, false);
    } else {
        setCurrent(doFirst(), true, false);
    }
    emitDataChanged(-1);
}

void Table::buildOrder() {
    order_.clear();
    const QString rid = db_->dialect().rowIdColumn();
    QStringList names = indexFieldNames_.split(QLatin1Char(';'), Qt::SkipEmptyParts);
    const QList<IndexInfo>& indexes = db_->indexes(tableName_);
    if (names.isEmpty()) {
        for (const IndexInfo& ix : indexes)
            if (ix.primary)
                names = ix.fields;
    }
    for (QString n : names) {
        n = n.trimmed();
        int f = fieldIndex(n);
        if (f < 0)
            throw DbError(QStringLiteral("%1: Campo de índice '%2' não encontrado na tabela %3.")
                              .arg(objectName(), n, tableName_));
        // A field that leads a case-insensitive index is ordered as that
        // index orders it, so the engine walks the index.
        bool ci = false;
        for (const IndexInfo& ix : indexes)
            if (ix.caseInsensitive && !ix.fields.isEmpty() &&
                ix.fields.first().compare(n, Qt::CaseInsensitive) == 0)
                ci = true;
        const QString& col = fields_[f].name;
        if (ci)
            order_.append(
                {f, col, db_->dialect().ciField(col), db_->dialect().ciValue(QStringLiteral("?"))});
        else
            order_.append({f, col, col, QStringLiteral("?")});
    }
    order_.append({-1, rid, rid, QStringLiteral("?")});
}

QString Table::selectList() const {
    QStringList cols;
    cols << db_->dialect().rowIdColumn();
    for (const FieldDef& f : fields_)
        cols << f.name;
    return cols.join(QStringLiteral(", "));
}

QString Table::orderBy(bool reverse) const {
    QStringList terms;
    for (const OrderTerm& t : order_)
        terms << (reverse ? t.expr + QStringLiteral(" DESC") : t.expr);
    return QStringLiteral(" ORDER BY ") + terms.join(QStringLiteral(", "));
}

QString Table::keyCondition(const Row& key, bool after, bool inclusive, QVariantList& params,
                            bool nonNullLead) const {
    const Dialect& d = db_->dialect();
    const bool nullsFirst = d.nullsSortFirst();
    auto valueOf = [&](const OrderTerm& t) {
        return t.field < 0 ? key.rowId : key.values[t.field];
    };
    // "term beyond value" in the walking direction, with empty values at the
    // end the engine puts them.
    auto beyond = [&](const OrderTerm& t, const QVariant& v, QVariantList& p,
                      bool withNulls) -> QString {
        const bool nullIsLow = nullsFirst;
        if (v.isNull()) {
            // Nothing lies beyond an empty value at the far end.
            if (after == nullIsLow)
                return t.column + QStringLiteral(" IS NOT NULL");
            return QStringLiteral("1 = 0");
        }
        p << d.toEngine(v);
        const QString op = (after ? QStringLiteral(" > ") : QStringLiteral(" < ")) + t.param;
        if (after != nullIsLow && withNulls)
            return QStringLiteral("(") + t.expr + op + QStringLiteral(" OR ") + t.column +
                   QStringLiteral(" IS NULL)");
        return t.expr + op;
    };
    auto equal = [&](const OrderTerm& t, const QVariant& v, QVariantList& p) -> QString {
        if (v.isNull())
            return t.column + QStringLiteral(" IS NULL");
        p << d.toEngine(v);
        return t.expr + QStringLiteral(" = ") + t.param;
    };
    QStringList alternatives;
    QVariantList out;
    // A leading bound lets the engine start its index walk at the key.
    const OrderTerm& lead = order_.first();
    const QVariant leadValue = valueOf(lead);
    QString leading;
    const bool boundLead = !leadValue.isNull() && (after == nullsFirst || nonNullLead);
    if (boundLead) {
        out << d.toEngine(leadValue);
        leading =
            lead.expr + (after ? QStringLiteral(" >= ") : QStringLiteral(" <= ")) + lead.param;
    }
    for (int i = 0; i < order_.size(); ++i) {
        QStringList parts;
        QVariantList p;
        for (int j = 0; j < i; ++j)
            parts << equal(order_[j], valueOf(order_[j]), p);
        parts << beyond(order_[i], valueOf(order_[i]), p, !(i == 0 && boundLead));
        alternatives << QStringLiteral("(") + parts.join(QStringLiteral(" AND ")) +
                            QStringLiteral(")");
        out << p;
    }
    if (inclusive) {
        QVariantList p;
        p << d.toEngine(key.rowId);
        alternatives << QStringLiteral("(") + d.rowIdColumn() + QStringLiteral(" = ?)");
        out << p;
    }
    params << out;
    QString cond =
        QStringLiteral("(") + alternatives.join(QStringLiteral(" OR ")) + QStringLiteral(")");
    return leading.isEmpty() ? cond : leading + QStringLiteral(" AND ") + cond;
}

QList<Row> Table::fetchBeyond(const Row& key, bool forward, int limit) {
    // Where empty values of the first order field lie beyond the key, a
    // condition admitting them would leave the engine no range to walk: it
    // would scan from the far end of the index to the key. The rows holding a
    // value are read within their range, then the empty ones, which all lie
    // farther out.
    const OrderTerm& lead = order_.first();
    const QVariant leadValue = lead.field < 0 ? key.rowId : key.values.value(lead.field);
    const bool split =
        lead.field >= 0 && !leadValue.isNull() && forward != db_->dialect().nullsSortFirst();
    QVariantList params;
    const QString where = keyCondition(key, forward, false, params, split);
    QList<Row> rows = fetch(where, params, !forward, limit);
    if (split && rows.size() < limit) {
        QList<Row> empty =
            fetch(lead.column + QStringLiteral(" IS NULL"), {}, !forward, limit - int(rows.size()));
        rows = forward ? rows + empty : empty + rows;
    }
    return rows;
}

Row Table::readRow(QSqlQuery& q) const {
    Row r;
    r.rowId = q.value(0);
    r.values.reserve(fields_.size());
    for (int i = 0; i < fields_.size(); ++i)
        r.values << db_->dialect().fromEngine(q.value(i + 1), fields_[i].type);
    return r;
}

QList<Row> Table::fetch(const QString& where, const QVariantList& params, bool reverse, int limit,
                        int offset) {
    QString sql = QStringLiteral("SELECT ") + selectList() + QStringLiteral(" FROM ") + table();
    if (!where.isEmpty())
        sql += QStringLiteral(" WHERE ") + where;
    sql += orderBy(reverse);
    if (limit > 0)
        sql += QStringLiteral(" LIMIT %1").arg(limit);
    if (offset > 0)
        sql += QStringLiteral(" OFFSET %1").arg(offset);
    QSqlQuery q = db_->exec(sql, params);
    QList<Row> rows;
    while (q.next())
        rows << readRow(q);
    db_->countRowsRead(quint64(rows.size()));
    if (reverse)
        std::reverse(rows.begin(), rows.end());
    return rows;
}

std::optional<Row> Table::rowById(const QVariant& rowId) {
    QSqlQuery q = db_->exec(QStringLiteral("SELECT ") + selectList() + QStringLiteral(" FROM ") +
                                table() + QStringLiteral(" WHERE ") + db_->dialect().rowIdColumn() +
                                QStringLiteral(" = ?"),
                            {rowId});
    if (!q.next())
        return std::nullopt;
    db_->countRowsRead(1);
    return readRow(q);
}

void Table::setPage(QList<Row> rows, int pos, bool head, bool tail) {
    page_ = std::move(rows);
    pos_ = page_.isEmpty() ? -1 : pos;
    pageHead_ = head;
    pageTail_ = tail;
}

QList<Row> Table::readAround(const Row* from, bool forward, int n) {
    checkActive();
    QList<Row> out;
    if (n <= 0)
        return out;
    // What the cursor's own page already holds costs no round trip. `at` is
    // the page index read from; one past either end stands for "from the
    // table's first (last) row" when the page starts (ends) there.
    int at = -1;
    bool inPage = false;
    if (from) {
        for (int i = 0; i < page_.size(); ++i)
            if (page_[i].rowId == from->rowId) {
                at = i;
                inPage = true;
                break;
            }
    } else if (!page_.isEmpty() && (forward ? pageHead_ : pageTail_)) {
        at = forward ? -1 : int(page_.size());
        inPage = true;
    }
    const Row* edge = from;
    if (inPage) {
        if (forward) {
            for (int i = at + 1; i < page_.size() && out.size() < n; ++i)
                out << page_[i];
        } else {
            for (int i = at - 1; i >= 0 && out.size() < n; --i)
                out.prepend(page_[i]);
        }
        if (out.size() == n)
            return out;
        if (forward ? pageTail_ : pageHead_)
            return out; // the page reaches the end of the table that way
        if (!out.isEmpty())
            edge = forward ? &out.last() : &out.first();
    }
    const int want = n - int(out.size());
    QList<Row> more;
    if (edge) {
        more = fetchBeyond(*edge, forward, want);
    } else {
        more = fetch(QString(), {}, !forward, want);
    }
    if (forward)
        out += more;
    else
        out = more + out;
    return out;
}

void Table::doOpen() {
    requireDatabase();
    if (tableName_.isEmpty())
        throw DbError(QStringLiteral("%1: nome da tabela não informado.").arg(objectName()));
    setFieldDefs(db_->columns(tableName_));
    // Text fields of the primary key store an empty text, never an empty
    // field: PostgreSQL keys admit no nulls, and a login typed empty must
    // find the row on both engines.
    keyText_ = QList<bool>(fields_.size(), false);
    for (const IndexInfo& ix : db_->indexes(tableName_))
        if (ix.primary)
            for (const QString& f : ix.fields)
                if (int i = fieldIndex(f); i >= 0 && isTextType(fields_[i].type)) {
                    keyText_[i] = true;
                    // PostgreSQL declares every key field NOT NULL; an empty
                    // text satisfies it, so only the product's own rule
                    // makes the field required.
                    const FieldDef* def = deliveredField(tableName_, fields_[i].name);
                    fields_[i].required = def && def->required;
                }
    buildOrder();
    setPage({}, -1, false, false);
}

void Table::doClose() {
    setPage({}, -1, false, false);
    order_.clear();
}

std::optional<Row> Table::doFirst() {
    QList<Row> rows = fetch(QString(), {}, false, kPageRows);
    const bool all = rows.size() < kPageRows;
    setPage(std::move(rows), 0, true, all);
    if (page_.isEmpty())
        return std::nullopt;
    return page_.first();
}

std::optional<Row> Table::doLast() {
    QList<Row> rows = fetch(QString(), {}, true, kPageRows);
    const bool all = rows.size() < kPageRows;
    const int pos = int(rows.size()) - 1;
    setPage(std::move(rows), pos, all, true);
    if (page_.isEmpty())
        return std::nullopt;
    return page_.last();
}

std::optional<Row> Table::stepFrom(const Row& from, bool forward) {
    QList<Row> rows = fetchBeyond(from, forward, kPageRows);
    if (rows.isEmpty())
        return std::nullopt;
    const bool short_ = rows.size() < kPageRows;
    const int pos = forward ? 0 : int(rows.size()) - 1;
    setPage(std::move(rows), pos, !forward && short_, forward && short_);
    return page_[pos_];
}

std::optional<Row> Table::doNext() {
    if (pos_ >= 0 && pos_ + 1 < page_.size())
        return page_[++pos_];
    return stepFrom(currentRow(), true);
}

std::optional<Row> Table::doPrior() {
    if (pos_ > 0 && pos_ < page_.size())
        return page_[--pos_];
    return stepFrom(currentRow(), false);
}

std::optional<Row> Table::doRefresh() {
    setPage({}, -1, false, false);
    if (!currentRow().rowId.isNull()) {
        if (auto r = rowById(currentRow().rowId)) {
            setPage({*r}, 0, false, false);
            return r;
        }
        // Deleted meanwhile: the row after it takes its place.
        if (auto r = stepFrom(currentRow(), true))
            return r;
    }
    return doFirst();
}

std::optional<Row> Table::doMatch(const QList<int>& fields, const QVariantList& values,
                                  LocateOptions opts, bool move) {
    const Dialect& d = db_->dialect();
    QStringList conds;
    QVariantList params;
    for (int i = 0; i < fields.size(); ++i) {
        const FieldDef& f = fields_[fields[i]];
        const QVariant& v = values[i];
        if (v.isNull() || (v.typeId() == QMetaType::QString && v.toString().isEmpty())) {
            conds << emptyTest(f.name, f.type);
            continue;
        }
        QString expr = f.name;
        QString param = QStringLiteral("?");
        if (isTextType(f.type) && opts.partialKey)
            expr = QStringLiteral("substr(%1, 1, %2)").arg(f.name).arg(v.toString().size());
        if (isTextType(f.type) && opts.caseInsensitive) {
            expr = d.ciField(expr);
            param = d.ciValue(param);
        }
        conds << expr + QStringLiteral(" = ") + param;
        params << d.toEngine(isTextType(f.type) ? QVariant(v.toString()) : v);
    }
    // Only the first match: the rows after it in the order are not the
    // other matches, so they must not become the page the cursor walks.
    QList<Row> rows = fetch(conds.join(QStringLiteral(" AND ")), params, false, 1);
    if (rows.isEmpty())
        return std::nullopt;
    if (!move)
        return rows.first();
    setPage(std::move(rows), 0, false, false);
    return page_.first();
}

QList<Row> Table::readAt(int offset, int n) {
    checkActive();
    if (n <= 0)
        return {};
    return fetch(QString(), {}, false, n, std::max(0, offset));
}

int Table::positionOf(const Row& row) {
    checkActive();
    QVariantList params;
    const QString where = keyCondition(row, false, false, params);
    return db_
        ->scalar(QStringLiteral("SELECT count(*) FROM ") + table() + QStringLiteral(" WHERE ") +
                     where,
                 params)
        .toInt();
}

bool Table::findKey(const QVariantList& values) {
    checkActive();
    checkBrowseMode();
    if (values.isEmpty() || values.size() > order_.size() - 1)
        throw DbError(QStringLiteral("%1: número de valores de chave inválido.").arg(objectName()));
    QStringList conds;
    QVariantList params;
    for (int i = 0; i < values.size(); ++i) {
        const OrderTerm& t = order_[i];
        QVariant v = values[i];
        if (isTextType(fields_[t.field].type))
            v = v.toString();
        if (v.isNull() || (v.typeId() == QMetaType::QString && v.toString().isEmpty())) {
            conds << emptyTest(fields_[t.field].name, fields_[t.field].type);
            continue;
        }
        conds << t.expr + QStringLiteral(" = ") + t.param;
        params << db_->dialect().toEngine(v);
    }
    QList<Row> rows = fetch(conds.join(QStringLiteral(" AND ")), params, false, 1);
    if (rows.isEmpty())
        return false;
    run(beforeScroll);
    setPage(std::move(rows), 0, false, false);
    setCurrent(page_.first(), false, false);
    emitDataChanged(-1);
    run(afterScroll);
    return true;
}

void Table::findNearest(const QVariantList& values) {
    checkActive();
    checkBrowseMode();
    if (values.isEmpty() || values.size() > order_.size() - 1)
        throw DbError(QStringLiteral("%1: número de valores de chave inválido.").arg(objectName()));
    // Rows at or after (v1, ..., vk) in the order.
    const Dialect& d = db_->dialect();
    QStringList alternatives;
    QVariantList params;
    for (int i = 0; i <= values.size(); ++i) {
        QStringList parts;
        for (int j = 0; j < i && j < values.size(); ++j) {
            QVariant v = values[j];
            if (v.isNull()) {
                parts << fields_[order_[j].field].name + QStringLiteral(" IS NULL");
            } else {
                parts << order_[j].expr + QStringLiteral(" = ") + order_[j].param;
                params << d.toEngine(
                    isTextType(fields_[order_[j].field].type) ? QVariant(v.toString()) : v);
            }
        }
        if (i < values.size()) {
            QVariant v = values[i];
            if (v.isNull()) {
                if (!d.nullsSortFirst())
                    continue;
                parts << fields_[order_[i].field].name + QStringLiteral(" IS NOT NULL");
            } else {
                parts << order_[i].expr + QStringLiteral(" > ") + order_[i].param;
                params << d.toEngine(
                    isTextType(fields_[order_[i].field].type) ? QVariant(v.toString()) : v);
            }
        }
        alternatives << QStringLiteral("(") + parts.join(QStringLiteral(" AND ")) +
                            QStringLiteral(")");
    }
    QList<Row> rows = fetch(alternatives.join(QStringLiteral(" OR ")), params, false, kPageRows);
    run(beforeScroll);
    if (rows.isEmpty()) {
        setCurrent(doLast(), false, true);
    } else {
        const bool tail = rows.size() < kPageRows;
        setPage(std::move(rows), 0, false, tail);
        setCurrent(page_.first(), false, false);
    }
    emitDataChanged(-1);
    run(afterScroll);
}

bool Table::gotoBookmark(const QVariant& bookmark) {
    checkActive();
    checkBrowseMode();
    auto r = rowById(bookmark);
    if (!r)
        return false;
    run(beforeScroll);
    setPage({*r}, 0, false, false);
    setCurrent(std::move(r), false, false);
    emitDataChanged(-1);
    run(afterScroll);
    return true;
}

int Table::recordCount() {
    checkActive();
    return db_->scalar(QStringLiteral("SELECT count(*) FROM ") + table()).toInt();
}

// An empty field: null, or for text also the empty text that key fields
// and other programs store.
QString Table::emptyTest(const QString& column, FieldType type) {
    if (isTextType(type))
        return QStringLiteral("(%1 IS NULL OR %1 = '')").arg(column);
    return column + QStringLiteral(" IS NULL");
}

QVariant Table::storedValue(int field, const QVariant& v) const {
    if (v.isNull() && keyText_.value(field))
        return QStringLiteral(""); // an empty text, not a null one
    return v;
}

Row Table::doInsertRow(const Row& row) {
    QStringList cols, marks;
    QVariantList params;
    for (int i = 0; i < fields_.size(); ++i) {
        if (row.values[i].isNull() && !keyText_.value(i))
            continue;
        cols << fields_[i].name;
        marks << QStringLiteral("?");
        params << storedValue(i, row.values[i]);
    }
    QString sql = cols.isEmpty() ? QStringLiteral("INSERT INTO %1 DEFAULT VALUES").arg(table())
                                 : QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                                       .arg(table(), cols.join(QStringLiteral(", ")),
                                            marks.join(QStringLiteral(", ")));
    QSqlQuery q = db_->exec(sql + db_->dialect().returningRowId(), params);
    QVariant rid = q.next() ? q.value(0) : QVariant();
    q.finish();
    auto stored = rowById(rid);
    setPage({}, -1, false, false);
    if (!stored)
        throw DbError(QStringLiteral("%1: o registro incluído não foi encontrado.").arg(table()));
    setPage({*stored}, 0, false, false);
    return *stored;
}

Row Table::doUpdateRow(const Row& before, const Row& after, const QList<int>& changed) {
    if (changed.isEmpty())
        return before;
    QStringList sets;
    QVariantList params;
    for (int i : changed) {
        sets << fields_[i].name + QStringLiteral(" = ?");
        params << storedValue(i, after.values[i]);
    }
    params << before.rowId;
    QSqlQuery q = db_->exec(
        QStringLiteral("UPDATE %1 SET %2 WHERE %3 = ?")
                .arg(table(), sets.join(QStringLiteral(", ")), db_->dialect().rowIdColumn()) +
            db_->dialect().returningRowId(),
        params);
    if (!q.next())
        throw DbError(QStringLiteral("O registro foi apagado por outro usuário."));
    QVariant rid = q.value(0);
    q.finish();
    auto stored = rowById(rid);
    setPage({}, -1, false, false);
    if (!stored)
        throw DbError(QStringLiteral("O registro foi apagado por outro usuário."));
    setPage({*stored}, 0, false, false);
    return *stored;
}

std::optional<Row> Table::doDeleteRow(const Row& row) {
    db_->exec(
        QStringLiteral("DELETE FROM %1 WHERE %2 = ?").arg(table(), db_->dialect().rowIdColumn()),
        {row.rowId});
    setPage({}, -1, false, false);
    // The row after the deleted one becomes current; at the end, the one
    // before it.
    if (auto r = stepFrom(row, true))
        return r;
    if (auto r = stepFrom(row, false))
        return r;
    return std::nullopt;
}

void Table::createTable(const QList<FieldDef>& fields, const QStringList& primaryKey) {
    requireDatabase();
    checkInactive("criar a tabela");
    TableDef def{table(), fields, primaryKey, {}};
    db_->exec(QStringLiteral("DROP TABLE IF EXISTS %1").arg(table()));
    for (const QString& sql : db_->dialect().createTableSql(def))
        db_->exec(sql);
    db_->invalidateCatalog();
}

void Table::deleteTable() {
    requireDatabase();
    checkInactive("apagar a tabela");
    db_->exec(QStringLiteral("DROP TABLE %1").arg(table()));
    db_->invalidateCatalog();
}

void Table::emptyTable() {
    requireDatabase();
    checkBrowseMode();
    db_->exec(QStringLiteral("DELETE FROM %1").arg(table()));
    if (isActive()) {
        setPage({}, -1, true, true);
        setCurrent(std::nullopt, true, true);
        emitDataChanged(-1);
    }
}

bool Table::exists() {
    requireDatabase();
    return db_->tableExists(tableName_);
}

void Table::addIndex(const IndexDef& index) {
    requireDatabase();
    checkInactive("criar índices");
    if (index.name.isEmpty())
        db_->dialect().rebuildPrimary(*db_, table());
    else
        db_->exec(db_->dialect().createIndexSql(table(), index));
    db_->invalidateCatalog();
}

void Table::deleteIndex(const QString& name) {
    requireDatabase();
    checkInactive("apagar índices");
    db_->exec(
        QStringLiteral("DROP INDEX IF EXISTS %1").arg(Dialect::indexObjectName(table(), name)));
    db_->invalidateCatalog();
}

} // namespace keldo::db
