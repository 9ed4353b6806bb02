// The punch export: the punches of a period, optionally of one company or one
// employee, written into a file for a payroll program, either as lines built
// from the operator's layout (layout_engine.h) or as fixed 105-byte records.
//
//   ExportFilters f = resolveExportFilters(dm, "Todas", "Todos");
//   PunchExportJob job{configuredExportMode(dm), from, to, f, chosenName};
//   job.progress = [&](qint64 done, qint64 rows) { ... };
//   PunchExportResult r = exportPunches(dm, job); // r.exported punches in r.fileName
//
// The window, keldoctl and the benchmark all go through exportPunches. It
// reads the rows through the data module's qyExporta one way (memory stays
// flat however many punches there are) and writes the file beside its target
// first, so that a failure leaves an existing file as it was and no partial
// file behind.
//
// Plain Qt Core: no widgets.
#pragma once

#include "exchange_common.h"
#include "layout_engine.h"

#include <QDate>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>
#include <stdexcept>

namespace keldo::db {
class TDDados;
}

namespace keldo::exchange {

enum class ExportMode {
    Layout,      // text lines from the layout row, CR LF, optional header
    FixedRecord, // 105-byte records, ".pto"
};

// The mode the collector configuration chooses: CONFMEN/EXPORTAPTO of the
// shared INI file, true (also when absent) for fixed records. Reads the data
// module's INI handle, or KELDO32.INI itself when the module has none yet.
ExportMode configuredExportMode(db::TDDados& dm);

// The texts of the employee list: "Todos" then every employee name in name
// order (the company list is companyChoices).
inline constexpr const char* kAllEmployees = "Todos";
QStringList employeeChoices(db::TDDados& dm);

struct ExportFilters {
    std::optional<int> company;       // empresa.codigo
    std::optional<QString> matricula; // funciona.matricula
};

// The filters for what the operator typed or picked. "Todas" / "Todos" give
// no filter; otherwise the company with exactly that name gives its code,
// and the first employee in name order with exactly that name gives its
// matricula. A text that names nobody gives no filter either, or with
// UnknownName::Refuse throws ExchangeError ("Empresa não encontrada: …",
// "Colaborador não encontrado: …"). Leaves the data module's shared tables
// where they were. Throws db::DbError.
ExportFilters resolveExportFilters(db::TDDados& dm, const QString& companyText,
                                   const QString& employeeText,
                                   UnknownName unknown = UnknownName::NoFilter);

// The file an export writes for the chosen name: ".txt" (layout) or ".pto"
// (fixed records) added when the name has no extension; any extension kept.
QString exportFileName(const QString& chosen, ExportMode mode);

// Whether the layout row holds a body mask; layout mode has nothing to write
// without one. Opens tbLayOut when it is closed. Throws db::DbError.
bool bodyMaskDefined(db::TDDados& dm);

// The fixed record, offset and size of every item. Each text is a length
// byte followed by a slot; slot bytes beyond the length are spaces.
namespace pto {
inline constexpr int kRecordSize = 105;
inline constexpr int kDateLengthOffset = 0;
inline constexpr int kDateOffset = 1;
inline constexpr int kDateSize = 10; // yyyy/mm/dd
inline constexpr int kTimeLengthOffset = 11;
inline constexpr int kTimeOffset = 12;
inline constexpr int kTimeSize = 5; // HH:NN
inline constexpr int kMatriculaLengthOffset = 17;
inline constexpr int kMatriculaOffset = 18;
inline constexpr int kMatriculaSize = 10;
inline constexpr int kNameLengthOffset = 28;
inline constexpr int kNameOffset = 29;
inline constexpr int kNameSize = 40;
inline constexpr int kZerosLengthOffset = 69;
inline constexpr int kZerosOffset = 70;
inline constexpr int kZerosSize = 4;
inline constexpr const char* kZerosText = "0000";
inline constexpr int kCompanyLengthOffset = 74;
inline constexpr int kCompanyOffset = 75;
inline constexpr int kCompanySize = 30;
static_assert(kCompanyOffset + kCompanySize == kRecordSize);
} // namespace pto

// Why an export did not write its file: Kind::NoBodyMask or Kind::File, with
// a Portuguese text that names the file where there is one.
using PunchExportError = ExchangeError;

inline constexpr const char* kNoBodyMaskText =
    "Nenhuma Máscara p/ formação do arquivo de saída definida!";

struct PunchExportJob {
    ExportMode mode = ExportMode::FixedRecord;
    QDate from, to; // both days included
    ExportFilters filters;
    QString fileName; // as chosen; see exportFileName
    // The date and time the header shows; invalid: when the export starts.
    QDateTime started;
    Separators separators = Separators::ofLocale();
    // Called after every row of the query with the punches exported so far
    // and the rows of the query; the caller decides how often to repaint.
    std::function<void(qint64 exported, qint64 rows)> progress;
};

struct PunchExportResult {
    qint64 exported = 0; // punches written (rows of other companies are not)
    qint64 rows = 0;     // rows of the query
    QString fileName;    // the file written
};

// Runs the export into job's file, replacing an existing one (a device, a
// FIFO or a terminal is written in place; see ExportFile). Throws
// ExchangeError (no body mask in layout mode, before anything is done;
// the file cannot be created or written, with nothing left of the attempt)
// and db::DbError.
PunchExportResult exportPunches(db::TDDados& dm, const PunchExportJob& job);

// The closing message, "Fim da exportação !\r\rRegistros exportados: N".
QString exportFinishedText(qint64 exported);

} // namespace keldo::exchange
