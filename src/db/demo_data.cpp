#include "demo_data.h"

#include "database.h"

#include <QSqlQuery>
#include <random>

namespace keldo::db {
namespace {

// Easter Sunday (Gregorian computus, anonymous algorithm).
QDate easter(int y) {
    int a = y % 19, b = y / 100, c = y % 100, d = b / 4, e = b % 4;
    int f = (b + 8) / 25, g = (b - f + 1) / 3, h = (19 * a + b - d - g + 15) % 30;
    int i = c / 4, k = c % 4, l = (32 + 2 * e + 2 * i - h - k) % 7;
    int m = (a + 11 * h + 22 * l) / 451;
    int month = (h + l - 7 * m + 114) / 31, day = ((h + l - 7 * m + 114) % 31) + 1;
    return QDate(y, month, day);
}

} // namespace

QList<QPair<QDate, QString>> nationalHolidays(int year) {
    const QDate e = easter(year);
    QList<QPair<QDate, QString>> h = {
        {QDate(year, 1, 1), QStringLiteral("Confraternização")},
        {e.addDays(-48), QStringLiteral("Carnaval")},
        {e.addDays(-47), QStringLiteral("Carnaval")},
        {e.addDays(-2), QStringLiteral("Sexta-feira Santa")},
        {QDate(year, 4, 21), QStringLiteral("Tiradentes")},
        {QDate(year, 5, 1), QStringLiteral("Dia do Trabalho")},
        {e.addDays(60), QStringLiteral("Corpus Christi")},
        {QDate(year, 9, 7), QStringLiteral("Independência")},
        {QDate(year, 10, 12), QStringLiteral("N. Sra. Aparecida")},
        {QDate(year, 11, 2), QStringLiteral("Finados")},
        {QDate(year, 11, 15), QStringLiteral("Proclamação Repúb.")},
        {QDate(year, 11, 20), QStringLiteral("Consciência Negra")},
        {QDate(year, 12, 25), QStringLiteral("Natal")},
    };
    std::sort(h.begin(), h.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    return h;
}

DemoSummary addDemoData(Database& db, QDate today, unsigned seed) {
    std::mt19937 rng(seed);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    DemoSummary s;
    static const char* const kFirst[] = {
        "Ana",     "Bruno",  "Carla",  "Daniel", "Eduarda",  "Fábio",   "Gabriela", "Heitor",
        "Isabela", "João",   "Karina", "Lucas",  "Mariana",  "Nícolas", "Otávio",   "Patrícia",
        "Rafael",  "Sílvia", "Tiago",  "Úrsula", "Vinícius", "Wagner",  "Yasmin",   "Álvaro",
        "Érica",   "Luís",   "Márcia", "Renata", "Sérgio",   "Tânia"};
    static const char* const kLast[] = {"Silva",     "Santos", "Oliveira", "Souza",    "Rodrigues",
                                        "Ferreira",  "Alves",  "Pereira",  "Lima",     "Gomes",
                                        "Conceição", "Araújo", "Ribeiro",  "Carvalho", "Simões"};
    static const char* const kCities[][2] = {{"São Paulo", "SP"},
                                             {"Campinas", "SP"},
                                             {"Belo Horizonte", "MG"},
                                             {"Curitiba", "PR"},
                                             {"Porto Alegre", "RS"}};
    db.begin();
    try {
        const QStringList companies = {QStringLiteral("Metalúrgica Andrade Ltda"),
                                       QStringLiteral("Comércio Boa Vista S.A."),
                                       QStringLiteral("Transportes Cruzeiro Ltda")};
        const QStringList cnpj = {"12.345.678/0001-90", "23.456.789/0001-01", "34.567.890/0001-12"};
        for (int i = 0; i < companies.size(); ++i)
            db.exec(QStringLiteral("INSERT INTO empresa (codigo, nome, Cgc, Endereco, Cidade) "
                                   "VALUES (?, ?, ?, ?, ?)"),
                    {i + 1, companies[i], cnpj[i],
                     QStringLiteral("Av. Industrial, %1").arg(100 * (i + 1)),
                     QString::fromUtf8(kCities[i][0])});
        s.companies = int(companies.size());

        QStringList matriculas;
        for (int i = 0; i < 40; ++i) {
            const QString mat = QStringLiteral("%1").arg(1001 + i);
            const QString nome = QString::fromUtf8(kFirst[i % 30]) + QLatin1Char(' ') +
                                 QString::fromUtf8(kLast[pick(0, 14)]) + QLatin1Char(' ') +
                                 QString::fromUtf8(kLast[pick(0, 14)]);
            const auto& city = kCities[pick(0, 4)];
            db.exec(QStringLiteral("INSERT INTO funciona (matricula, nome, endereco, cidade, uf, "
                                   "telefone, empresa, codigo, obs, imagem, acesso, Usadigital) "
                                   "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"),
                    {mat, nome, QStringLiteral("Rua das Flores, %1").arg(pick(1, 999)),
                     QString::fromUtf8(city[0]), QString::fromUtf8(city[1]),
                     QStringLiteral("(11) 9%1-%2").arg(pick(1000, 9999)).arg(pick(1000, 9999)),
                     i % 3 + 1, QStringLiteral("%1").arg(5000 + i * 7), QString(), QString(),
                     i == 39 ? -1 : 0, -1});
            matriculas << mat;
        }
        s.employees = int(matriculas.size());

        db.exec(QStringLiteral("INSERT INTO faixa (Cod_faixa, Descricao, Horaini, Horafim, "
                               "Domingo, Segunda, Terca, Quarta, Quinta, Sexta, Sabado, Feriado) "
                               "VALUES ('001', 'EXPEDIENTE NORMAL', '07:00', '18:30', -1, 0, 0, "
                               "0, 0, 0, -1, -1)"));
        for (const QString& m : matriculas)
            db.exec(QStringLiteral("INSERT INTO grupof (matricula, faixa) VALUES (?, '001')"), {m});

        for (const auto& [day, name] : nationalHolidays(today.year())) {
            db.exec(QStringLiteral("INSERT INTO feriados (dia, descricao) VALUES (?, ?)"),
                    {day, name});
            ++s.holidays;
        }
        // Nobody punches on a holiday, last year's included when the two
        // months reach into it.
        QSet<QDate> holidayDays;
        for (int year : {today.year() - 1, today.year()})
            for (const auto& h : nationalHolidays(year))
                holidayDays.insert(h.first);

        const QString insertPunch =
            QStringLiteral("INSERT INTO registro (matricula, data, hora) VALUES (?, ?, ?)");
        for (QDate d = today.addMonths(-2).addDays(1); d <= today; d = d.addDays(1)) {
            if (d.dayOfWeek() >= 6 || holidayDays.contains(d))
                continue;
            for (const QString& m : matriculas) {
                if (pick(1, 100) <= 6)
                    continue; // an absence
                // Usually four punches; some days two (half day), three (a
                // forgotten punch) or six (overtime with a second break).
                const int r = pick(1, 100);
                const int n = r <= 8 ? 2 : r <= 16 ? 3 : r <= 90 ? 4 : r <= 96 ? 5 : 6;
                int minute = 7 * 60 + pick(30, 70);
                const int gaps[] = {pick(200, 260), pick(55, 75), pick(220, 270), pick(50, 70),
                                    pick(90, 150)};
                for (int k = 0; k < n; ++k) {
                    db.exec(insertPunch, {m, d, QTime(minute / 60, minute % 60)});
                    ++s.punches;
                    minute += gaps[k % 5];
                    if (minute >= 23 * 60)
                        break;
                }
            }
        }

        static const char* const kOccurrences[][2] = {{"01", "Colaborador não cadastrado"},
                                                      {"02", "Acesso fora da faixa de horário"},
                                                      {"03", "Digital não reconhecida"},
                                                      {"05", "Acesso não liberado"},
                                                      {"07", "Cartão inválido"}};
        for (int i = 0; i < 8; ++i) {
            const auto& occ = kOccurrences[i % 5];
            QDateTime when(today.addDays(-pick(0, 55)),
                           QTime(pick(6, 19), pick(0, 59), pick(0, 59)));
            db.exec(QStringLiteral("INSERT INTO anormal (contador, datahora, CODOCORRENCIA, "
                                   "Descricao) VALUES (?, ?, ?, ?)"),
                    {i + 1, when, QString::fromLatin1(occ[0]), QString::fromUtf8(occ[1])});
            ++s.anomalies;
        }

        db.exec(QStringLiteral("INSERT INTO permisso (Login, Senha) VALUES ('', '')"));
        db.commit();
    } catch (...) {
        db.rollback();
        throw;
    }
    return s;
}

} // namespace keldo::db
