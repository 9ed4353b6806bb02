// A small but realistic installation for trying the program: three
// companies, forty employees with codes, a time band with its association,
// this year's national holidays, two months of punches (two to six a working
// day, with some days missing), a few anomalies, and the operator with an
// empty login and password. The same seed gives the same data.
#pragma once

#include <QDate>

namespace keldo::db {

class Database;

struct DemoSummary {
    int companies = 0;
    int employees = 0;
    int holidays = 0;
    int punches = 0;
    int anomalies = 0;
};

// Adds the demo rows to a database holding the delivered schema (empty
// tables). `today` ends the two months of punches.
DemoSummary addDemoData(Database& db, QDate today = QDate::currentDate(), unsigned seed = 2006);

// Brazil's national holidays of a year, with their names (at most 20
// characters, the width of feriados.descricao), in date order.
QList<QPair<QDate, QString>> nationalHolidays(int year);

} // namespace keldo::db
