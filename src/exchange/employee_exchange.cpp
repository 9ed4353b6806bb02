#include "employee_exchange.h"

#include "db/data_module.h"
#include "db/database.h"
#include "platform/cp1252.h"
#include "platform/ini_file.h"

#include <QFile>
#include <QFileInfo>
#include <algorithm>

namespace keldo::exchange {

namespace {

constexpr const char* kSettingsSection = "CORDENADAS";

// Windows-1252 bytes of value cut or padded to exactly width bytes. The
// conversion comes first, so that the width counts the characters of the
// file (one byte each) and not those of the program's text.
void appendColumn(std::string& line, const QString& value, int width) {
    QByteArray bytes = toCp1252(value);
    bytes.replace('\r', ' ').replace('\n', ' ');
    bytes = bytes.leftJustified(width, ' ', true);
    line.append(bytes.constData(), std::size_t(bytes.size()));
}

QString fromCp1252(std::string_view bytes) {
    return QString::fromStdString(platform::cp1252ToUtf8(bytes));
}

} // namespace

// ---------------------------------------------------------------- export

std::string employeeExportLine(const QString& matricula, const QString& codigo,
                               const QString& nome) {
    std::string line;
    line.reserve(kEmployeeLineLength);
    appendColumn(line, matricula, kExportMatriculaWidth);
    appendColumn(line, codigo, kExportCodigoWidth);
    appendColumn(line, nome, kExportNomeWidth);
    return line;
}

QString exportFileName(const QString& chosen) {
    return withDefaultExtension(chosen, QStringLiteral(".txt"));
}

int exportEmployees(db::TDDados& dm, const QString& companyText, const QString& fileName,
                    const ExportProgress& progress) {
    ExportFile file(exportFileName(fileName));

    const std::optional<int> code = companyCodeByName(dm, companyText);
    const bool filtered = code.has_value();
    db::Query& q = *dm.qyExporta;
    q.close();
    QStringList sql{QStringLiteral("select"), QStringLiteral("* from funciona")};
    if (filtered)
        sql << QStringLiteral("where empresa = :pemp");
    q.setSql(sql);
    if (filtered)
        q.setParam(QStringLiteral("pemp"), *code);

    // The rows stream one way and none is kept; the total for the progress
    // is counted first.
    const int total =
        dm.database()
            .scalar(filtered ? QStringLiteral("select count(*) from funciona where empresa = ?")
                             : QStringLiteral("select count(*) from funciona"),
                    filtered ? QVariantList{*code} : QVariantList{})
            .toInt();
    int count = 0;
    int matricula = -1, codigo = -1, nome = -1;
    q.forEachRow([&](const db::Row& r) {
        if (matricula < 0) {
            matricula = q.fieldIndex(QStringLiteral("matricula"));
            codigo = q.fieldIndex(QStringLiteral("codigo"));
            nome = q.fieldIndex(QStringLiteral("nome"));
        }
        std::string line = employeeExportLine(db::valueText(r.values.value(matricula)),
                                              db::valueText(r.values.value(codigo)),
                                              db::valueText(r.values.value(nome)));
        file.buffer().append(line.data(), qsizetype(line.size())).append("\r\n");
        file.flushIfFull();
        ++count;
        if (progress)
            progress(count, std::max(total, count));
        return true;
    });
    file.commit();
    return count;
}

// ---------------------------------------------------------------- import

ImportColumnTexts readImportSettings(const platform::IniFile& ini) {
    ImportColumnTexts t;
    for (const ImportSettingKey& k : kImportSettingKeys)
        t.*k.text = QString::fromStdString(ini.readString(kSettingsSection, k.key, "1"));
    return t;
}

void writeImportSettings(platform::IniFile& ini, const ImportColumnTexts& t) {
    for (const ImportSettingKey& k : kImportSettingKeys)
        ini.writeString(kSettingsSection, k.key, (t.*k.text).toStdString());
}

ImportColumns parseImportColumns(const ImportColumnTexts& t) {
    auto number = [](const QString& text, const char* label) {
        bool ok = false;
        const int n = text.trimmed().toInt(&ok, 10);
        if (!ok)
            throw ExchangeError(QString::fromUtf8(label) +
                                QStringLiteral(" não é um valor inteiro válido!"));
        return n;
    };
    ImportColumns c;
    c.posNome = number(t.posNome, "Posição do nome");
    c.posMat = number(t.posMat, "Posição da matrícula");
    c.posCod = number(t.posCod, "Posição do código");
    c.tamNome = number(t.tamNom, "Tamanho do nome");
    c.tamMat = number(t.tamMat, "Tamanho da matrícula");
    c.tamCod = number(t.tamCod, "Tamanho do código");
    return c;
}

std::string_view sliceColumn(std::string_view line, int position, int size) {
    if (size < 1)
        return {};
    const std::size_t start = position < 1 ? 0 : std::size_t(position) - 1;
    if (start >= line.size())
        return {};
    std::string_view slice = line.substr(start, std::size_t(size));
    const std::size_t end = slice.find_last_not_of(' ');
    return end == std::string_view::npos ? std::string_view{} : slice.substr(0, end + 1);
}

ImportSlices sliceImportLine(std::string_view line, const ImportColumns& c) {
    return {fromCp1252(sliceColumn(line, c.posNome, c.tamNome)),
            fromCp1252(sliceColumn(line, c.posMat, c.tamMat)),
            fromCp1252(sliceColumn(line, c.posCod, c.tamCod))};
}

bool readImportLine(QIODevice& file, std::string& line) {
    if (file.atEnd())
        return false;
    const QByteArray bytes = file.readLine();
    if (bytes.isEmpty())
        return false; // a read error; the caller asks the device
    qsizetype n = bytes.size();
    if (n > 0 && bytes[n - 1] == '\n') {
        --n;
        if (n > 0 && bytes[n - 1] == '\r')
            --n;
    }
    line.assign(bytes.constData(), std::size_t(n));
    return true;
}

int importEmployees(db::TDDados& dm, const ImportColumns& columns, const QString& fileName) {
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        throw ExchangeError(QStringLiteral("Não foi possível abrir o arquivo %1: %2")
                                .arg(fileName, file.errorString()));
    db::Table& funcs = *dm.tbFuncs;
    if (!funcs.isActive())
        funcs.open();
    // The import leaves tbFuncs in matricula order on the last row it
    // stored; a failure (a refused line too) puts order and row back.
    db::OrderGuard guard(funcs);
    funcs.setIndexFieldNames(QStringLiteral("Matricula"));
    // The stored matricula is cut to its field; the one looked up must be
    // too, or a long slice would never be found and come back as a key
    // violation on the next import of the same file.
    const int matriculaWidth = funcs.fieldByName(QStringLiteral("matricula")).size();

    int count = 0;
    std::string line;
    while (readImportLine(file, line)) {
        ImportSlices s = sliceImportLine(line, columns);
        if (matriculaWidth > 0)
            s.matricula.truncate(matriculaWidth);
        if (funcs.findKey({s.matricula}))
            continue;
        try {
            funcs.insert();
            funcs.fieldByName(QStringLiteral("nome")).setAsString(s.nome);
            funcs.fieldByName(QStringLiteral("matricula")).setAsString(s.matricula);
            funcs.fieldByName(QStringLiteral("codigo")).setAsString(s.codigo);
            funcs.fieldByName(QStringLiteral("ACESSO")).setValue(0);
            funcs.post();
        } catch (...) {
            // The refused row is not left pending for the next window to store.
            funcs.cancel();
            throw;
        }
        ++count;
    }
    if (file.error() != QFileDevice::NoError)
        throw ExchangeError(QStringLiteral("Não foi possível ler o arquivo %1: %2")
                                .arg(fileName, file.errorString()));
    guard.keep();
    return count;
}

} // namespace keldo::exchange
