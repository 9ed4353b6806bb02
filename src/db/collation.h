// The case- and accent-insensitive order of Portuguese names.
//
// "álvaro", "Alvaro" and "ALVARO" are equal; all of them sort before
// "Bruno". Comparison is at the primary level only, like ICU's strength 1
// (the collation the PostgreSQL dialect declares), so both engines order and
// find names alike: blanks first, then punctuation and symbols, digits, and
// letters by their base letter.
#pragma once

#include <QByteArray>
#include <QString>
#include <string_view>

namespace keldo::db {

// The name of the collation on SQLite connections (registered by Database),
// for queries that order by name.
inline constexpr const char* kSqliteCiCollation = "KELDO_CI";
// The function whose value the name indexes hold on SQLite: the folded key,
// a blob whose byte order is the order of compareFolded.
inline constexpr const char* kSqliteFoldFunction = "keldo_fold";

QByteArray foldKey(std::string_view utf8);

// <0, 0, >0 as a sorts before, with or after b. Both are UTF-8; invalid bytes
// compare by their value.
int compareFolded(std::string_view a, std::string_view b);
int compareFolded(const QString& a, const QString& b);

} // namespace keldo::db
