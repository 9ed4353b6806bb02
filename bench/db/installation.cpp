#include "installation.h"

#include "db/database.h"
#include "db/demo_data.h"
#include "db/location.h"
#include "db/schema.h"
#include "platform/engine_config.h"

#include <QFile>
#include <QSet>
#include <QSqlError>
#include <QSqlQuery>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <unistd.h>

namespace keldo::bench {
namespace {

namespace fs = std::filesystem;

// Written beside the database once it is complete; a change of what is
// generated bumps the format so that old caches are made again.
constexpr const char* kMarkerName = "bench-installation.txt";
constexpr int kFormat = 1;
// Punches fall on the working days of the two years up to this day. A fixed
// day keeps the cached data independent of when it was made.
QDate lastDay() {
    return QDate(2026, 6, 30);
}

std::string describe(const InstallationSize& size) {
    std::ostringstream s;
    s << "format=" << kFormat << " punches=" << size.punches << " employees=" << size.employees
      << "\n";
    return s.str();
}

bool markerMatches(const fs::path& root, const InstallationSize& size) {
    std::ifstream in(root / kMarkerName);
    std::stringstream text;
    text << in.rdbuf();
    return in.is_open() && text.str() == describe(size);
}

QSqlQuery prepared(db::Database& db, const QString& sql) {
    QSqlQuery q(db.connection());
    if (!q.prepare(sql))
        db.raise(q.lastError(), sql);
    return q;
}

void run(db::Database& db, QSqlQuery& q, const QVariantList& values) {
    for (int i = 0; i < values.size(); ++i)
        q.bindValue(i, db.dialect().toEngine(values[i]));
    if (!q.exec())
        db.raise(q.lastError());
}

void checkpoint(db::Database& db) {
    QSqlQuery q = db.exec(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)"));
    if (q.next() && q.value(0).toInt() != 0)
        throw std::runtime_error("the checkpoint was blocked by another connection");
}

class Generator {
public:
    Generator(db::Database& db, const InstallationSize& size) : db_(db), size_(size) {}

    void fill() {
        companies();
        employees();
        timeBands();
        holidays();
        punches();
        messages();
        anomalies();
        operatorsAndSiren();
    }

private:
    int pick(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }

    void companies() {
        QSqlQuery q = prepared(db_, QStringLiteral("INSERT INTO empresa (codigo, nome, Cgc, "
                                                   "Endereco, Cidade) VALUES (?, ?, ?, ?, ?)"));
        const char* const names[] = {"Metalúrgica Andrade Ltda", "Comércio Boa Vista S.A.",
                                     "Transportes Cruzeiro Ltda"};
        for (int i = 0; i < 3; ++i)
            run(db_, q,
                {i + 1, QString::fromUtf8(names[i]),
                 QStringLiteral("%1.345.678/0001-90").arg(12 + 11 * i),
                 QStringLiteral("Av. Industrial, %1").arg(100 * (i + 1)),
                 QStringLiteral("São Paulo")});
    }

    void employees() {
        static const char* const first[] = {
            "Ana",     "Bruno",  "Carla",  "Daniel", "Eduarda",  "Fábio",   "Gabriela", "Heitor",
            "Isabela", "João",   "Karina", "Lucas",  "Mariana",  "Nícolas", "Otávio",   "Patrícia",
            "Rafael",  "Sílvia", "Tiago",  "Úrsula", "Vinícius", "Wagner",  "Yasmin",   "Álvaro",
            "Érica",   "Luís",   "Márcia", "Renata", "Sérgio",   "Tânia"};
        static const char* const last[] = {
            "Silva",   "Santos",  "Oliveira", "Souza",     "Rodrigues",  "Ferreira", "Alves",
            "Pereira", "Lima",    "Gomes",    "Conceição", "Araújo",     "Ribeiro",  "Carvalho",
            "Simões",  "Barbosa", "Rocha",    "Dias",      "Nascimento", "Andrade",  "Moreira"};
        static const char* const cities[][2] = {{"São Paulo", "SP"},
                                                {"Campinas", "SP"},
                                                {"Belo Horizonte", "MG"},
                                                {"Curitiba", "PR"},
                                                {"Porto Alegre", "RS"}};
        constexpr int kFirst = std::size(first), kLast = std::size(last);
        QSqlQuery q = prepared(
            db_, QStringLiteral("INSERT INTO funciona (matricula, nome, endereco, cidade, uf, "
                                "telefone, empresa, codigo, obs, imagem, acesso, Usadigital) "
                                "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
        for (int i = 0; i < size_.employees; ++i) {
            const QString mat = QString::number(100001 + i);
            const QString name = QString::fromUtf8(first[pick(0, kFirst - 1)]) + QLatin1Char(' ') +
                                 QString::fromUtf8(last[pick(0, kLast - 1)]) + QLatin1Char(' ') +
                                 QString::fromUtf8(last[pick(0, kLast - 1)]);
            const auto& city = cities[pick(0, 4)];
            run(db_, q,
                {mat, name, QStringLiteral("Rua das Flores, %1").arg(pick(1, 999)),
                 QString::fromUtf8(city[0]), QString::fromUtf8(city[1]),
                 QStringLiteral("(11) 9%1-%2").arg(pick(1000, 9999)).arg(pick(1000, 9999)),
                 i % 3 + 1, QString::number(500000 + 7 * i), QString(), QString(), 0, -1});
            matriculas_ << mat;
        }
    }

    void timeBands() {
        db_.exec(QStringLiteral(
            "INSERT INTO faixa (Cod_faixa, Descricao, Horaini, Horafim, Domingo, Segunda, Terca, "
            "Quarta, Quinta, Sexta, Sabado, Feriado) VALUES "
            "('001', 'EXPEDIENTE NORMAL', '07:00', '18:30', -1, 0, 0, 0, 0, 0, -1, -1), "
            "('002', 'TURNO DA TARDE', '13:00', '22:00', -1, 0, 0, 0, 0, 0, -1, -1), "
            "('003', 'SABADOS', '07:00', '12:00', -1, -1, -1, -1, -1, -1, 0, -1)"));
        QSqlQuery q =
            prepared(db_, QStringLiteral("INSERT INTO grupof (matricula, faixa) VALUES (?, ?)"));
        for (int i = 0; i < matriculas_.size(); ++i)
            run(db_, q, {matriculas_[i], QStringLiteral("00%1").arg(i % 3 + 1)});
    }

    void holidays() {
        QSqlQuery q =
            prepared(db_, QStringLiteral("INSERT INTO feriados (dia, descricao) VALUES (?, ?)"));
        const QDate from = lastDay().addYears(-2).addDays(1);
        for (int year = from.year(); year <= lastDay().year(); ++year)
            for (const auto& [day, name] : db::nationalHolidays(year))
                if (!holidays_.contains(day)) {
                    holidays_.insert(day);
                    run(db_, q, {day, name});
                }
        for (QDate d = from; d <= lastDay(); d = d.addDays(1))
            if (d.dayOfWeek() < 6 && !holidays_.contains(d))
                workingDays_ << d;
    }

    // The punches are spread evenly over the working days, as the collector
    // appends them day after day; each day the next employees in turn punch
    // two to six times.
    void punches() {
        const std::int64_t total = size_.punches;
        const std::int64_t days = workingDays_.size();
        const std::int64_t capacity = std::int64_t(size_.employees) * days * 4;
        if (total > capacity)
            throw std::runtime_error("more punches than the employees can make in two years");
        QSqlQuery q = prepared(
            db_, QStringLiteral("INSERT INTO registro (matricula, data, hora) VALUES (?, ?, ?)"));
        const db::Dialect& dialect = db_.dialect();
        std::int64_t written = 0;
        int next = 0;
        for (std::int64_t d = 0; d < days; ++d) {
            const QVariant day = dialect.toEngine(workingDays_[d]);
            const std::int64_t target = total * (d + 1) / days;
            while (written < target) {
                const QString& mat = matriculas_[next];
                next = (next + 1) % int(matriculas_.size());
                const int r = pick(1, 100);
                const int n = r <= 8 ? 2 : r <= 16 ? 3 : r <= 90 ? 4 : r <= 96 ? 5 : 6;
                int minute = 7 * 60 + pick(30, 70);
                const int gaps[] = {pick(200, 260), pick(55, 75), pick(220, 270), pick(50, 70),
                                    pick(90, 150)};
                for (int k = 0; k < n && written < total; ++k) {
                    q.bindValue(0, mat);
                    q.bindValue(1, day);
                    q.bindValue(2, dialect.toEngine(QTime(minute / 60, minute % 60, pick(0, 59))));
                    if (!q.exec())
                        db_.raise(q.lastError());
                    ++written;
                    minute += gaps[k % 5];
                }
            }
            if (d % (days / 10 + 1) == 0)
                std::fprintf(stderr, "  ... %lld of %lld punches\n", (long long)written,
                             (long long)total);
        }
    }

    void messages() {
        QSqlQuery q = prepared(
            db_, QStringLiteral("INSERT INTO mens (data, matricula, Observacao) VALUES (?, ?, ?)"));
        const int n = std::min<int>(200, workingDays_.size());
        for (int i = 0; i < n; ++i)
            run(db_, q,
                {workingDays_[i * workingDays_.size() / n],
                 matriculas_[(i * 37) % matriculas_.size()],
                 QStringLiteral("Comparecer ao RH para assinar o cartão de ponto.")});
    }

    void anomalies() {
        QSqlQuery q =
            prepared(db_, QStringLiteral("INSERT INTO anormal (contador, datahora, "
                                         "CODOCORRENCIA, Descricao) VALUES (?, ?, ?, ?)"));
        for (int i = 0; i < 100; ++i) {
            const QDate day = workingDays_[pick(0, int(workingDays_.size()) - 1)];
            run(db_, q,
                {i + 1, QDateTime(day, QTime(pick(6, 19), pick(0, 59), pick(0, 59))),
                 QStringLiteral("01"), QStringLiteral("Colaborador não cadastrado")});
        }
    }

    void operatorsAndSiren() {
        db_.exec(QStringLiteral("INSERT INTO permisso (Login, Senha) VALUES ('', '')"));
        db_.exec(QStringLiteral(
            "INSERT INTO sirene (hora, duracao, dom, seg, ter, qua, qui, sex, sab, fer, "
            "descricao) VALUES ('07:30', '10', 'N', 'S', 'S', 'S', 'S', 'S', 'N', 'N', 'Entrada'), "
            "('12:00', '5', 'N', 'S', 'S', 'S', 'S', 'S', 'N', 'N', 'Almoço'), "
            "('13:00', '5', 'N', 'S', 'S', 'S', 'S', 'S', 'N', 'N', 'Retorno'), "
            "('17:30', '10', 'N', 'S', 'S', 'S', 'S', 'S', 'N', 'N', 'Saída')"));
    }

    db::Database& db_;
    InstallationSize size_;
    std::mt19937 rng_{2006};
    QStringList matriculas_;
    QSet<QDate> holidays_;
    QList<QDate> workingDays_;
};

// Creates the delivered database at the alias path of the current
// KELDO_ROOT, as `keldoctl init-db` does, and fills it.
void generate(const InstallationSize& size) {
    auto db = db::Database::openSqlite(aliasDatabaseFile(), true);
    db::createDeliveredSchema(*db);
    // Only the generation runs without durability; the setting ends with
    // this connection.
    db->exec(QStringLiteral("PRAGMA synchronous = OFF"));
    db->exec(QStringLiteral("PRAGMA cache_size = -262144"));
    db->begin();
    try {
        Generator(*db, size).fill();
        db->commit();
    } catch (...) {
        db->rollback();
        throw;
    }
    checkpoint(*db);
}

// Whether the database under the current KELDO_ROOT holds what `size`
// describes; checkpoints it on the way.
bool holds(const InstallationSize& size) {
    const QString file = aliasDatabaseFile();
    if (!QFile::exists(file))
        return false;
    auto db = db::Database::openSqlite(file);
    checkpoint(*db);
    return db->scalar(QStringLiteral("SELECT count(*) FROM registro")).toLongLong() ==
               size.punches &&
           db->scalar(QStringLiteral("SELECT count(*) FROM funciona")).toInt() == size.employees;
}

} // namespace

fs::path cachedRoot(const InstallationSize& size) {
    const QByteArray override = qgetenv("KELDO_BENCH_DATA");
    const fs::path base = override.isEmpty()
                              ? fs::read_symlink("/proc/self/exe").parent_path() / "data"
                              : fs::path(override.toStdString());
    return base / ("punches-" + std::to_string(size.punches) + "-employees-" +
                   std::to_string(size.employees));
}

void useRoot(const fs::path& root) {
    qputenv("KELDO_ROOT", QByteArray::fromStdString(root.string()));
}

QString aliasDatabaseFile() {
    platform::EngineConfig engine;
    db::ensureRunAlias(engine);
    return db::aliasConnection(engine).sqliteFile;
}

void prepareInstallation(const fs::path& root, const InstallationSize& size) {
    useRoot(root);
    if (markerMatches(root, size) && holds(size))
        return;
    std::fprintf(stderr, "Generating %lld punches for %d employees in %s\n",
                 (long long)size.punches, size.employees, root.string().c_str());
    fs::path work = root;
    work += ".new-" + std::to_string(getpid());
    fs::remove_all(work);
    fs::create_directories(work);
    useRoot(work);
    generate(size);
    std::ofstream(work / kMarkerName) << describe(size);
    fs::remove_all(root);
    fs::rename(work, root);
    useRoot(root);
}

std::unique_ptr<db::TDDados> bindDataModule(platform::EngineConfig& engine) {
    db::ensureRunAlias(engine);
    auto dm = std::make_unique<db::TDDados>(engine);
    dm->setCreateWhenMissing(false);
    dm->resolveDatabaseDirectory();
    dm->bindComponents();
    return dm;
}

} // namespace keldo::bench
