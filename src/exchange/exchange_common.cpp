#include "exchange_common.h"

#include "db/data_module.h"

#include <QFileInfo>

namespace keldo::exchange {
namespace {

// A table of its own, so that the lists and look-ups of a window that is
// only opening do not move the rows the other windows stand on.
struct ByName {
    db::Table t;
    ByName(db::TDDados& dm, const char* table) {
        t.setDatabase(&dm.database());
        t.setTableName(QString::fromLatin1(table));
        t.setIndexFieldNames(QStringLiteral("nome"));
        t.open();
    }
};

} // namespace

QStringList choicesByName(db::TDDados& dm, const char* first, const char* table) {
    QStringList list{QString::fromUtf8(first)};
    ByName b(dm, table);
    const int nome = b.t.fieldIndex(QStringLiteral("nome"));
    for (b.t.first(); !b.t.eof(); b.t.next())
        list << db::valueText(b.t.currentValues().value(nome));
    return list;
}

std::optional<QVariant> firstByName(db::TDDados& dm, const char* table, const QString& name,
                                    const char* keyField) {
    ByName b(dm, table);
    if (!b.t.locate(QStringLiteral("nome"), name))
        return std::nullopt;
    return b.t.fieldByName(QString::fromLatin1(keyField)).value();
}

QStringList companyChoices(db::TDDados& dm) {
    return choicesByName(dm, kAllCompanies, "empresa");
}

std::optional<int> companyCodeByName(db::TDDados& dm, const QString& companyText) {
    if (companyText == QLatin1String(kAllCompanies))
        return std::nullopt;
    const auto code = firstByName(dm, "empresa", companyText, "codigo");
    if (!code || code->isNull())
        return std::nullopt;
    return code->toInt();
}

QString withDefaultExtension(const QString& chosen, const QString& extension) {
    // Only the last component counts: "c:/dados.old/func" has no extension.
    if (QFileInfo(chosen).fileName().contains(QLatin1Char('.')))
        return chosen;
    return chosen + extension;
}

} // namespace keldo::exchange
