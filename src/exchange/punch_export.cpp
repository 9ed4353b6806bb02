#include "punch_export.h"

#include "db/data_module.h"
#include "db/database.h"
#include "platform/cp1252.h"

#include <QFileInfo>
#include <QHash>
#include <cstring>

namespace keldo::exchange {
namespace {

// Columns of qyExporta's rows.
enum Column { kData, kHora, kRegistroMatricula, kFuncionaMatricula, kFuncionaNome };

char separatorByte(QChar c) {
    const QByteArray b = toCp1252(QString(c));
    return b.size() == 1 ? b[0] : '?';
}

// What a punch needs of its employee, read once per employee for the whole
// export: the export query cannot share its connection with look-ups while
// it streams on PostgreSQL, and one look-up per punch would be far too slow.
struct Employee {
    std::optional<int> empresa;
    QString codigo;
    QString companyName;
    QByteArray companyBytes; // the name as a fixed record holds it
};

QHash<QString, Employee> readEmployees(db::Database& db) {
    QHash<int, QString> companies;
    {
        QSqlQuery q = db.exec(QStringLiteral("select codigo, nome from empresa"));
        while (q.next())
            companies.insert(q.value(0).toInt(), q.value(1).toString());
        if (q.lastError().isValid())
            db.raise(q.lastError());
    }
    QHash<QString, Employee> employees;
    QSqlQuery q = db.exec(QStringLiteral("select matricula, empresa, codigo from funciona"));
    while (q.next()) {
        Employee e;
        if (!q.value(1).isNull()) {
            e.empresa = q.value(1).toInt();
            e.companyName = companies.value(*e.empresa);
            e.companyBytes = toCp1252(e.companyName);
        }
        e.codigo = q.value(2).toString();
        employees.insert(q.value(0).toString(), e);
    }
    if (q.lastError().isValid())
        db.raise(q.lastError());
    return employees;
}

// The rows of the period, joined with their employees. The text is replaced
// on every export: the filter decides whether the matricula condition is
// there. Both forms keep both days of the period.
QStringList exportQueryText(ExportMode mode, bool byEmployee) {
    QStringList sql = {QStringLiteral("select"),
                       QStringLiteral("registro.data,"),
                       QStringLiteral("registro.hora,"),
                       QStringLiteral("registro.matricula,"),
                       QStringLiteral("funciona.matricula,"),
                       QStringLiteral("funciona.nome from registro, funciona")};
    if (mode == ExportMode::Layout)
        sql << QStringLiteral("where ((registro.data >= :DINi) and (registro.data <= :Dfim))");
    else
        sql << QStringLiteral("where (registro.data between :dini and :dfim)");
    sql << QStringLiteral("and (registro.matricula = funciona.matricula)");
    // Qualified: both tables have a matricula, and an engine refuses the
    // bare name as ambiguous.
    if (byEmployee)
        sql << QStringLiteral("and funciona.MATRICULA = :mat");
    return sql;
}

qint64 countRows(db::Database& db, const PunchExportJob& job) {
    QString sql = QStringLiteral("select count(*) from registro, funciona where registro.data "
                                 ">= ? and registro.data <= ? and registro.matricula = "
                                 "funciona.matricula");
    QVariantList params{job.from, job.to};
    if (job.filters.matricula) {
        sql += QStringLiteral(" and funciona.matricula = ?");
        params << *job.filters.matricula;
    }
    return db.scalar(sql, params).toLongLong();
}

void appendLine(QByteArray& out, const QString& line) {
    appendCp1252(out, line);
    out += "\r\n";
}

// One text item of a fixed record: the length byte, then the first `size`
// bytes of the text in its slot, spaces after them.
void putText(char* record, int lengthOffset, int offset, int size, const QByteArray& bytes) {
    const int n = int(std::min<qsizetype>(bytes.size(), size));
    record[lengthOffset] = char(n);
    std::memcpy(record + offset, bytes.data(), size_t(n));
    std::memset(record + offset + n, ' ', size_t(size - n));
}

void putTwo(char* at, int v) {
    at[0] = char('0' + v / 10 % 10);
    at[1] = char('0' + v % 10);
}

class FixedRecordWriter {
public:
    explicit FixedRecordWriter(Separators s)
        : dateSep_(separatorByte(s.date)), timeSep_(separatorByte(s.time)) {}

    void append(QByteArray& out, const QDate& d, const QTime& t, const QString& matricula,
                const QString& name, const QByteArray& company) const {
        using namespace pto;
        char r[kRecordSize];
        r[kDateLengthOffset] = char(kDateSize);
        char* date = r + kDateOffset;
        const int y = d.year();
        putTwo(date, y / 100);
        putTwo(date + 2, y % 100);
        date[4] = dateSep_;
        putTwo(date + 5, d.month());
        date[7] = dateSep_;
        putTwo(date + 8, d.day());
        r[kTimeLengthOffset] = char(kTimeSize);
        char* time = r + kTimeOffset;
        putTwo(time, t.hour());
        time[2] = timeSep_;
        putTwo(time + 3, t.minute());
        putText(r, kMatriculaLengthOffset, kMatriculaOffset, kMatriculaSize, toCp1252(matricula));
        putText(r, kNameLengthOffset, kNameOffset, kNameSize, toCp1252(name));
        putText(r, kZerosLengthOffset, kZerosOffset, kZerosSize, kZerosText);
        putText(r, kCompanyLengthOffset, kCompanyOffset, kCompanySize, company);
        out.append(r, kRecordSize);
    }

private:
    char dateSep_, timeSep_;
};

// qyExporta read one way for the length of an export, closed afterwards
// whatever happens.
class OneWayRun {
public:
    explicit OneWayRun(db::Query& q) : q_(q), was_(q.unidirectional()) {
        q_.close();
        q_.setUnidirectional(true);
    }
    ~OneWayRun() {
        q_.close();
        q_.setUnidirectional(was_);
    }

private:
    db::Query& q_;
    bool was_;
};

// A dataset opened for a look-up and closed again when it was closed before.
class OpenFor {
public:
    explicit OpenFor(db::DataSet& ds) : ds_(ds), was_(ds.isActive()) { ds_.open(); }
    ~OpenFor() {
        if (!was_)
            ds_.close();
    }

private:
    db::DataSet& ds_;
    bool was_;
};

} // namespace

ExportMode configuredExportMode(db::TDDados& dm) {
    const platform::IniFile* ini = dm.session().ini.get();
    const bool pto = ini ? ini->readBool("CONFMEN", "EXPORTAPTO", true)
                         : platform::IniFile("KELDO32.INI").readBool("CONFMEN", "EXPORTAPTO", true);
    return pto ? ExportMode::FixedRecord : ExportMode::Layout;
}

QStringList employeeChoices(db::TDDados& dm) {
    return choicesByName(dm, kAllEmployees, "funciona");
}

ExportFilters resolveExportFilters(db::TDDados& dm, const QString& companyText,
                                   const QString& employeeText, UnknownName unknown) {
    const bool refuse = unknown == UnknownName::Refuse;
    ExportFilters f;
    f.company = refuse ? knownCompanyCode(dm, companyText) : companyCodeByName(dm, companyText);
    if (employeeText != QLatin1String(kAllEmployees)) {
        if (auto mat = firstByName(dm, "funciona", employeeText, "matricula"))
            f.matricula = mat->toString();
        else if (refuse)
            throw ExchangeError(
                QStringLiteral("Colaborador não encontrado: \"%1\"; nada foi exportado.")
                    .arg(employeeText));
    }
    return f;
}

QString exportFileName(const QString& chosen, ExportMode mode) {
    return withDefaultExtension(chosen, mode == ExportMode::Layout ? QStringLiteral(".txt")
                                                                   : QStringLiteral(".pto"));
}

bool bodyMaskDefined(db::TDDados& dm) {
    OpenFor open(*dm.tbLayOut);
    return !readLayoutRow(*dm.tbLayOut).corpoMascara.isEmpty();
}

QString exportFinishedText(qint64 exported) {
    return QStringLiteral("Fim da exportação !\r\rRegistros exportados: %1").arg(exported);
}

PunchExportResult exportPunches(db::TDDados& dm, const PunchExportJob& job) {
    const bool layout = job.mode == ExportMode::Layout;
    std::optional<BodyRenderer> body;
    LayoutRow row;
    if (layout) {
        {
            OpenFor open(*dm.tbLayOut);
            row = readLayoutRow(*dm.tbLayOut);
        }
        if (row.corpoMascara.isEmpty())
            throw ExchangeError(ExchangeError::Kind::NoBodyMask,
                                QString::fromUtf8(kNoBodyMaskText));
        body.emplace(compileBodyMask(row.corpoMascara), row, job.separators);
    }
    const QDateTime started = job.started.isValid() ? job.started : QDateTime::currentDateTime();

    db::Database& db = dm.database();
    const QHash<QString, Employee> employees = readEmployees(db);
    PunchExportResult result;
    result.fileName = exportFileName(job.fileName, job.mode);
    result.rows = countRows(db, job);

    ExportFile file(result.fileName);
    QByteArray& out = file.buffer();
    if (layout && row.producesHeader())
        appendLine(out, renderHeaderLine(row, started, job.separators));

    db::Query& q = *dm.qyExporta;
    OneWayRun oneWay(q);
    q.setSql(exportQueryText(job.mode, job.filters.matricula.has_value()));
    if (layout) {
        q.setParam(QStringLiteral("DINI"), job.from);
        q.setParam(QStringLiteral("DFIM"), job.to);
    } else {
        q.setParam(QStringLiteral("dini"), job.from);
        q.setParam(QStringLiteral("dfim"), job.to);
    }
    if (job.filters.matricula)
        q.setParam(QStringLiteral("MAT"), *job.filters.matricula);
    q.open();

    const FixedRecordWriter record(job.separators);
    const Employee nobody;
    PunchValues values;
    for (; !q.eof(); q.next()) {
        const QVariantList& v = q.currentValues();
        const QString matricula = v.value(kRegistroMatricula).toString();
        const auto found = employees.constFind(matricula);
        const Employee& e = found == employees.cend() ? nobody : *found;
        const bool otherCompany =
            job.filters.company && found != employees.cend() && e.empresa != job.filters.company;
        if (!otherCompany) {
            const QDate day = v.value(kData).toDate();
            const QTime at =
                v.value(kHora).toTime().isValid() ? v.value(kHora).toTime() : QTime(0, 0);
            const QString name = v.value(kFuncionaNome).toString();
            if (layout) {
                values.employeeCode = e.codigo;
                values.matricula = matricula;
                values.name = name;
                values.companyName = e.companyName;
                // A date-time without a zone: a punch at an hour that a
                // daylight-saving change skipped is still written as punched.
                values.dateTime = QDateTime(day, at, Qt::UTC);
                appendLine(out, body->render(values));
            } else {
                record.append(out, day, at, matricula, name, e.companyBytes);
            }
            ++result.exported;
            file.flushIfFull();
        }
        if (job.progress)
            job.progress(result.exported, result.rows);
    }
    file.commit();
    return result;
}

} // namespace keldo::exchange
