// What the punch export and the employee export and import share: the error
// they report, the company choice of their filter lists, the rule that gives
// a chosen file name its extension, and how their files are written.
//
// Plain Qt Core: no widgets.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <memory>
#include <optional>
#include <stdexcept>
#include <system_error>

namespace keldo::platform {
class OutputFile;
}

namespace keldo::db {
class TDDados;
}

namespace keldo::exchange {

// A failure of an export or an import that is not the database's: a file
// that cannot be created, read or written, a column setting that is not a
// whole number, a layout without a body mask. text() is the Portuguese
// message for the operator.
class ExchangeError : public std::runtime_error {
public:
    // What kind of failure, for callers that act on it (the punch export's
    // window offers to define the missing body mask).
    enum class Kind { Other, File, NoBodyMask };
    ExchangeError(Kind kind, const QString& text)
        : std::runtime_error(text.toStdString()), kind_(kind), text_(text) {}
    explicit ExchangeError(const QString& text) : ExchangeError(Kind::Other, text) {}
    Kind kind() const { return kind_; }
    const QString& text() const { return text_; }

private:
    Kind kind_;
    QString text_;
};

// Text as the exported files hold it: Windows-1252 bytes, "?" for a
// character that Windows-1252 cannot hold.
void appendCp1252(QByteArray& out, const QString& text);
QByteArray toCp1252(const QString& text);

// An export file being written, through a buffer, by platform::OutputFile:
// a regular file (links resolved) gets a temporary file beside it, renamed
// over it only by commit(), so that until then an existing file stays as it
// was and a failed or abandoned export leaves nothing behind; a device, a
// FIFO, a terminal or an open descriptor (/dev/stdout) is written in place
// and never replaced. Throws ExchangeError (Kind::File) naming the file.
class ExportFile {
public:
    explicit ExportFile(const QString& name);
    ~ExportFile();
    // Where the caller appends its bytes; flushIfFull() writes them out
    // once there are enough of them.
    QByteArray& buffer() { return buffer_; }
    void flushIfFull();
    void commit();

private:
    void flush();
    [[noreturn]] void fail(const std::system_error& e);

    QString name_;
    std::unique_ptr<platform::OutputFile> file_;
    QByteArray buffer_;
};

// Whether an export's name stands for something written in place (a device,
// a FIFO, a terminal, an open descriptor such as /dev/stdout) rather than a
// file to create or replace. A name that cannot be resolved is not.
bool writtenInPlace(const QString& name);

// The company text that filters nothing.
inline constexpr const char* kAllCompanies = "Todas";

// "Todas" followed by the name of every company in name order, as the
// company lists of the export windows show them. Leaves the data module's
// shared tables where they were. Throws db::DbError.
QStringList companyChoices(db::TDDados& dm);

// The code of the first company, in name order, whose name is exactly
// `companyText`; nothing for "Todas" and for a name no company has. Leaves
// the shared tables where they were. Throws db::DbError.
std::optional<int> companyCodeByName(db::TDDados& dm, const QString& companyText);

// What a name that names nobody means. The windows pick from lists and read
// a text that matches nothing as no filter; a command line that names an
// unknown company or employee is refused, so a typing mistake never exports
// everybody.
enum class UnknownName { NoFilter, Refuse };

// companyCodeByName, with a name that is neither "Todas" nor a company's
// refused: ExchangeError "Empresa não encontrada: "X"; nada foi exportado.".
std::optional<int> knownCompanyCode(db::TDDados& dm, const QString& companyText);

// The lists and look-ups above, for any table with a `nome`: `first` followed
// by every name in name order, and a field of the first row in name order
// whose name is exactly `name` (nothing when none is). Both read a table of
// their own. Throw db::DbError.
QStringList choicesByName(db::TDDados& dm, const char* first, const char* table);
std::optional<QVariant> firstByName(db::TDDados& dm, const char* table, const QString& name,
                                    const char* keyField);

// The chosen name with `extension` (".txt") appended when the last component
// of the name has none; a name with any extension, or ending in a dot, is
// used as typed, and so is one written in place (/dev/stdout, a FIFO): there
// is no file to name.
QString withDefaultExtension(const QString& chosen, const QString& extension);

} // namespace keldo::exchange
