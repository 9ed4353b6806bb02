// The case- and accent-insensitive order of Portuguese names.
//
// "álvaro", "Alvaro" and "ALVARO" are equal; all of them sort before
// "Bruno". Comparison is at the primary level only, like ICU's strength 1
// (the collation the PostgreSQL dialect declares), so both engines order and
// find names alike: blanks first, then punctuation and symbols, digits, and
// letters by their base letter.
#pragma once

#include <QString>
#include <string_view>

namespace keldo::db {

// The name of the collation on SQLite connections (registered by Database).
inline constexpr const char* kSqliteCiCollation = "KELDO_CI";

// <0, 0, >0 as a sorts before, with or after b. Both are UTF-8; invalid bytes
// compare by their value.
int compareFolded(std::string_view a, std::string_view b);
int compareFolded(const QString& a, const QString& b);

} // namespace keldo::db
