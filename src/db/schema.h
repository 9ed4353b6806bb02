// The delivered database: every table of the product with its fields,
// primary key and secondary indexes, and the one layout row.
//
//   createDeliveredSchema(*db);   // on an empty database
#pragma once

#include "schema_types.h"

namespace keldo::db {

class Database;

// Every table of the delivered database, in a stable order.
const QList<TableDef>& deliveredTables();
// The delivered definition of a table (name without case, ".db" allowed);
// nullptr for a table the product does not deliver (working tables).
const TableDef* deliveredTable(const QString& name);
// A field name spelled as the program spells it ("Cod_faixa" for the
// "cod_faixa" that PostgreSQL reports); unknown names come back unchanged.
QString programFieldName(const QString& table, const QString& engineName);

// The delivered definition of a field; nullptr when unknown.
const FieldDef* deliveredField(const QString& table, const QString& field);
// An index name spelled as the program spells it ("IDX_NOME").
QString programIndexName(const QString& table, const QString& engineName);

// Name of the extra index on registro that serves per-employee, per-day
// look-ups.
inline constexpr const char* kRegistroDayIndex = "IDX_MATDATAHORA";

// Creates every table, key and index and the layout row, in one transaction.
// Throws DbError when a table already exists.
void createDeliveredSchema(Database& db);

} // namespace keldo::db
