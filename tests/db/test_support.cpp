#include "test_support.h"

#include "db/location.h"

#include "db/schema.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QUuid>

namespace keldo::testing {

bool onPostgres() {
    return !qEnvironmentVariableIsEmpty("KELDO_TEST_PG");
}

db::PostgresParams postgresParams() {
    db::PostgresParams p;
    const QStringList parts =
        qEnvironmentVariable("KELDO_TEST_PG").split(QLatin1Char(' '), Qt::SkipEmptyParts);
    for (const QString& part : parts) {
        const QString key = part.section(QLatin1Char('='), 0, 0);
        const QString value = part.section(QLatin1Char('='), 1);
        if (key == QLatin1String("host"))
            p.host = value;
        else if (key == QLatin1String("port"))
            p.port = value.toInt();
        else if (key == QLatin1String("dbname"))
            p.database = value;
        else if (key == QLatin1String("user"))
            p.user = value;
        else if (key == QLatin1String("password"))
            p.password = value;
    }
    return p;
}

TempRoot::TempRoot() : hadOld_(qEnvironmentVariableIsSet("KELDO_ROOT")) {
    old_ = qgetenv("KELDO_ROOT");
    qputenv("KELDO_ROOT", dir_.path().toLocal8Bit());
}

TempRoot::~TempRoot() {
    if (hadOld_)
        qputenv("KELDO_ROOT", old_);
    else
        qunsetenv("KELDO_ROOT");
}

void useSchema(db::Database& db, const QString& schema) {
    db.exec(QStringLiteral("SET search_path TO %1").arg(schema));
}

TestDatabase::TestDatabase(bool delivered) {
    if (onPostgres()) {
        schema_ = QStringLiteral("t_") + QUuid::createUuid().toString(QUuid::Id128).left(16);
        db_ = db::Database::openPostgres(postgresParams());
        db_->exec(QStringLiteral("CREATE SCHEMA %1").arg(schema_));
        useSchema(*db_, schema_);
    } else {
        db_ = db::Database::openSqlite(sqliteFile(), true);
    }
    if (delivered)
        db::createDeliveredSchema(*db_);
}

QString TestDatabase::sqliteFile() const {
    return QDir(root_.path()).filePath(QStringLiteral("keldoran32.sqlite"));
}

TestDatabase::~TestDatabase() {
    if (!schema_.isEmpty() && db_) {
        try {
            db_->exec(QStringLiteral("DROP SCHEMA %1 CASCADE").arg(schema_));
        } catch (...) {
        }
    }
}

void TestDatabase::writeAlias() const {
    QFile f(QDir(root_.path()).filePath(QStringLiteral("engine.cfg")));
    f.open(QIODevice::WriteOnly);
    QString text = QStringLiteral("[Keldoran32]\r\nPATH=%1\r\n").arg(root_.path());
    if (onPostgres()) {
        const db::PostgresParams p = postgresParams();
        text += QStringLiteral("DEFAULT DRIVER=POSTGRESQL\r\nHOST=%1\r\nPORT=%2\r\nDATABASE=%3"
                               "\r\nUSER=%4\r\nSCHEMA=%5\r\n")
                    .arg(p.host)
                    .arg(p.port)
                    .arg(p.database, p.user, schema_);
    } else {
        text += QStringLiteral("DEFAULT DRIVER=SQLITE\r\n");
    }
    f.write(text.toUtf8());
}

std::unique_ptr<db::Database> TestDatabase::connectAgain() {
    if (onPostgres()) {
        auto other = db::Database::openPostgres(postgresParams());
        useSchema(*other, schema_);
        return other;
    }
    return db::Database::openSqlite(sqliteFile());
}

BoundDataModule::BoundDataModule(TestDatabase& tdb) {
    tdb.writeAlias();
    db::ensureRunAlias(engine_);
    dm_ = std::make_unique<db::TDDados>(engine_);
    dm_->resolveDatabaseDirectory();
    dm_->createIniHandle();
    dm_->bindComponents();
}

} // namespace keldo::testing

// QtSql needs an application object for its drivers.
namespace {
struct AppHolder {
    AppHolder() {
        static int argc = 1;
        static char name[] = "keldo_tests";
        static char* argv[] = {name, nullptr};
        if (!QCoreApplication::instance())
            app = new QCoreApplication(argc, argv);
    }
    QCoreApplication* app = nullptr;
} appHolder;

} // namespace
