// The employee registry as fixed-width text: the export that hands it to
// another program and the import that fills it from another program's list.
//
// Export file: one line per employee, no header, lines ended by CR LF,
// Windows-1252, kEmployeeLineLength characters a line: matricula, codigo and
// nome, each cut to its width or padded with spaces on the right.
//
//   int n = exportEmployees(dm, "Todas", "/tmp/func", progress);   // writes /tmp/func.txt
//
// Import: the operator gives, for name, matricula and code, the 1-based
// column where each starts and how many characters it takes; they are kept
// as texts in section CORDENADAS of the shared INI file.
//
//   ImportColumnTexts texts = readImportSettings(*dm.session().ini);
//   ImportColumns columns = parseImportColumns(texts);   // throws ExchangeError
//   int added = importEmployees(dm, columns, fileName);  // throws Refusal, DbError, ExchangeError
//
// Plain Qt Core: no widgets, so keldoctl, the tests and the windows share it.
#pragma once

#include "exchange_common.h"

#include <QString>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>

class QIODevice;

namespace keldo::db {
class TDDados;
}
namespace keldo::platform {
class IniFile;
}

namespace keldo::exchange {

// Columns of an export line.
inline constexpr int kExportMatriculaWidth = 20; // columns 1-20
inline constexpr int kExportCodigoWidth = 20;    // columns 21-40
inline constexpr int kExportNomeWidth = 70;      // columns 41-110
inline constexpr int kEmployeeLineLength =
    kExportMatriculaWidth + kExportCodigoWidth + kExportNomeWidth;

// ---------------------------------------------------------------- export

// One export line without its line end, in Windows-1252 bytes: exactly
// kEmployeeLineLength bytes. A character Windows-1252 cannot hold becomes
// "?"; a line break inside a value becomes a space, so that a value never
// splits its line in two.
std::string employeeExportLine(const QString& matricula, const QString& codigo,
                               const QString& nome);

// The name the export writes to: the chosen name, with ".txt" appended when
// its last component has no extension.
QString exportFileName(const QString& chosen);

// Called after each line with the lines written so far and the number of
// employees the query returned.
using ExportProgress = std::function<void(int count, int total)>;

// Writes the employees (all, or those of the company named by companyText)
// to exportFileName(fileName), replacing an existing file without asking,
// through the data module's qyExporta (its text is replaced). Returns the
// number of lines written. The file appears whole or not at all: on any
// failure an existing file keeps its old contents; a device, a FIFO or a
// terminal is written in place (see ExportFile). Throws ExchangeError
// naming the file when it cannot be written, db::DbError from the engine.
int exportEmployees(db::TDDados& dm, const QString& companyText, const QString& fileName,
                    const ExportProgress& progress = {});

// ---------------------------------------------------------------- import

// The six settings as the operator typed them (INI section CORDENADAS).
struct ImportColumnTexts {
    QString posNome = QStringLiteral("1"); // POSNOME
    QString tamNom = QStringLiteral("1");  // TAMNOM
    QString posMat = QStringLiteral("1");  // POSMAT
    QString tamMat = QStringLiteral("1");  // TAMMAT
    QString posCod = QStringLiteral("1");  // POScod
    QString tamCod = QStringLiteral("1");  // TAMcod
    bool operator==(const ImportColumnTexts&) const = default;
};

// The INI key of each text, in the order of the window's fields.
struct ImportSettingKey {
    const char* key;
    QString ImportColumnTexts::*text;
};
inline constexpr ImportSettingKey kImportSettingKeys[] = {
    {"POSNOME", &ImportColumnTexts::posNome}, {"TAMNOM", &ImportColumnTexts::tamNom},
    {"POSMAT", &ImportColumnTexts::posMat},   {"TAMMAT", &ImportColumnTexts::tamMat},
    {"POScod", &ImportColumnTexts::posCod},   {"TAMcod", &ImportColumnTexts::tamCod},
};

// Each key read as text, "1" when missing.
ImportColumnTexts readImportSettings(const platform::IniFile& ini);
// Writes the six texts as they stand, numbers or not. Throws
// platform::IniWriteError when the file cannot be written.
void writeImportSettings(platform::IniFile& ini, const ImportColumnTexts& texts);

// Where each value starts in a line (1-based) and how many characters it
// takes.
struct ImportColumns {
    int posNome = 1, tamNome = 1;
    int posMat = 1, tamMat = 1;
    int posCod = 1, tamCod = 1;
};

// Converts the texts in the order name position, matricula position, code
// position, name size, matricula size, code size. The first text that is not
// a whole number (decimal, optional sign, surrounding blanks allowed, 32
// bits) throws ExchangeError "<label> não é um valor inteiro válido!" with
// the labels "Posição do nome", "Posição da matrícula", "Posição do código",
// "Tamanho do nome", "Tamanho da matrícula", "Tamanho do código".
ImportColumns parseImportColumns(const ImportColumnTexts& texts);

// size characters of line from the 1-based position, with Delphi's Copy
// rules: nothing when the position lies beyond the end, fewer when the slice
// reaches beyond it, nothing for a size below 1; a position below 1 counts
// from the first character. Then the trailing spaces are dropped: fixed-width
// files pad their columns, and a padded matricula would never match the one
// the operator types.
std::string_view sliceColumn(std::string_view line, int position, int size);

// The three values of one line (Windows-1252 bytes, without its line end).
struct ImportSlices {
    QString nome, matricula, codigo;
};
ImportSlices sliceImportLine(std::string_view line, const ImportColumns& columns);

// Reads the next line of a text file into line (without its CR LF or LF);
// false at the end. A last line without a line end is still a line; a file
// ending in a line end has no empty line after it.
bool readImportLine(QIODevice& file, std::string& line);

// Adds the employees of fileName whose matricula is not registered yet,
// posting each through the data module's tbFuncs (left in "Matricula"
// order) so that the module's rules for new employees apply. Returns the
// number added.
//
// The import stops at the first line the database refuses: db::Refusal when
// a rule of the module refused it (it has told the operator), db::DbError
// from the engine (a code that another employee has, ...). That line's
// employee is not added, the row is cancelled, the ones before it stay.
// Throws ExchangeError when the file cannot be read.
int importEmployees(db::TDDados& dm, const ImportColumns& columns, const QString& fileName);

} // namespace keldo::exchange
