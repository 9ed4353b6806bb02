// Field, index and table descriptions shared by the schema, the dialects and
// the datasets.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

namespace keldo::db {

enum class FieldType {
    String,   // text with a width (0 = unbounded)
    Memo,     // text of several lines
    SmallInt, // 16-bit integer; permission flags
    Integer,
    Float,
    Boolean,
    Date,     // QDate; stored "YYYY-MM-DD" on SQLite
    Time,     // QTime; stored "HH:MM:SS" on SQLite
    DateTime, // QDateTime (local, naive); stored "YYYY-MM-DD HH:MM:SS" on SQLite
    Blob,
};

struct FieldDef {
    QString name;
    FieldType type = FieldType::String;
    int size = 0; // width of a String field; 0 = no width
    bool required = false;
};

// A secondary index as the program names it ("IDX_NOME"); the engine object
// is named "<table>_<name>" because both engines keep one namespace of index
// names for the whole database.
struct IndexDef {
    QString name;
    QStringList fields;
    bool caseInsensitive = false;
};

struct TableDef {
    QString name;
    QList<FieldDef> fields;
    QStringList primaryKey; // empty: no primary index
    QList<IndexDef> indexes;
};

// What the engine reports about an existing index.
struct IndexInfo {
    QString name; // program's name (without the table prefix); empty for the primary
    QStringList fields;
    bool primary = false;
    bool caseInsensitive = false;
};

bool isTextType(FieldType t);

} // namespace keldo::db
