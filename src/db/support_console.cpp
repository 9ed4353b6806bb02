#include "support_console.h"

namespace keldo::db {
namespace {

void setText(Query& q, const QString& text) {
    q.close();
    if (text.trimmed().isEmpty())
        throw DbError(QStringLiteral("O comando SQL está vazio."));
    q.setSql(text);
}

} // namespace

void runSupportStatement(Query& qySQL, const QString& text) {
    setText(qySQL, text);
    qySQL.execSql();
}

void openSupportQuery(Query& qySQL, const QString& text) {
    setText(qySQL, text);
    qySQL.open();
}

} // namespace keldo::db
