#include "exchange_common.h"

#include "db/data_module.h"
#include "platform/cp1252.h"
#include "platform/file_io.h"

#include <QFile>
#include <QFileInfo>

namespace keldo::exchange {
namespace {

// Bytes gathered before they go to the file.
constexpr qsizetype kWriteChunk = 1 << 16;

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

// Latin-1 characters are their own Windows-1252 bytes; only the others go
// through the full conversion, so a long export does not convert every text
// twice.
void appendCp1252(QByteArray& out, const QString& text) {
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) {
            out.append(char(c));
            continue;
        }
        const qsizetype n = QChar::isHighSurrogate(c) && i + 1 < text.size() &&
                                    QChar::isLowSurrogate(text[i + 1].unicode())
                                ? 2
                                : 1;
        out += platform::utf8ToCp1252(QStringView(text).mid(i, n).toUtf8().toStdString());
        i += n - 1;
    }
}

QByteArray toCp1252(const QString& text) {
    QByteArray out;
    appendCp1252(out, text);
    return out;
}

namespace {

QString reason(const std::system_error& e) {
    return QString::fromLocal8Bit(e.code().message().c_str());
}

std::filesystem::path nativePath(const QString& name) {
    return std::filesystem::path(QFile::encodeName(name).toStdString());
}

} // namespace

ExportFile::ExportFile(const QString& name) : name_(name) {
    try {
        file_ = std::make_unique<platform::OutputFile>(nativePath(name));
    } catch (const std::system_error& e) {
        throw ExchangeError(
            ExchangeError::Kind::File,
            QStringLiteral("Não foi possível criar o arquivo %1: %2").arg(name, reason(e)));
    }
    buffer_.reserve(kWriteChunk + 512);
}

ExportFile::~ExportFile() = default;

bool writtenInPlace(const QString& name) {
    try {
        return platform::resolveOutputTarget(nativePath(name)).inPlace;
    } catch (const std::system_error&) {
        return false;
    }
}

void ExportFile::flushIfFull() {
    if (buffer_.size() >= kWriteChunk)
        flush();
}

void ExportFile::commit() {
    flush();
    try {
        if (!file_)
            throw std::system_error(std::make_error_code(std::errc::bad_file_descriptor));
        file_->commit();
    } catch (const std::system_error& e) {
        fail(e);
    }
}

void ExportFile::flush() {
    try {
        if (!file_)
            throw std::system_error(std::make_error_code(std::errc::bad_file_descriptor));
        if (!buffer_.isEmpty())
            file_->write(std::string_view(buffer_.constData(), std::size_t(buffer_.size())));
    } catch (const std::system_error& e) {
        fail(e);
    }
    buffer_.clear();
}

void ExportFile::fail(const std::system_error& e) {
    file_.reset(); // a temporary file goes; the target stays as it was
    throw ExchangeError(
        ExchangeError::Kind::File,
        QStringLiteral("Não foi possível gravar o arquivo %1: %2").arg(name_, reason(e)));
}

QStringList choicesByName(db::TDDados& dm, const char* first, const char* table) {
    QStringList list{QString::fromUtf8(first)};
    ByName b(dm, table);
    const int nome = b.t.fieldIndex(QStringLiteral("nome"));
    for (b.t.first(); !b.t.eof(); b.t.next())
        list << db::valueText(b.t.currentValues().value(nome));
    return list;
}

std::optional<int> knownCompanyCode(db::TDDados& dm, const QString& companyText) {
    std::optional<int> code = companyCodeByName(dm, companyText);
    if (!code && companyText != QLatin1String(kAllCompanies))
        throw ExchangeError(
            QStringLiteral("Empresa não encontrada: \"%1\"; nada foi exportado.").arg(companyText));
    return code;
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
    if (QFileInfo(chosen).fileName().contains(QLatin1Char('.')) || writtenInPlace(chosen))
        return chosen;
    return chosen + extension;
}

} // namespace keldo::exchange
