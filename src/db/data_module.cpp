#include "data_module.h"

#include "database.h"
#include "location.h"
#include "platform/paths.h"

#include <QDir>
#include <QFile>

namespace keldo::db {

TDDados::TDDados(platform::EngineConfig& engine, QObject* parent)
    : QObject(parent), engine_(engine) {
    setObjectName(QStringLiteral("DDados"));
    tbFuncs = table("tbFuncs", "funciona");
    tbFuncs->setIndexFieldNames(QStringLiteral("nome"));
    dsFuncs = new DataSource(this);
    dsFuncs->setObjectName(QStringLiteral("dsFuncs"));
    dsFuncs->setDataSet(tbFuncs);
    tbEmpresas = table("tbEmpresas", "empresa");
    tbEmpresas->setIndexFieldNames(QStringLiteral("nome"));
    tbFaixaH = table("tbFaixaH", "faixa");
    tbGrupof = table("tbGrupof", "grupof");
    tbGrupof->setIndexFieldNames(QStringLiteral("matricula;faixa"));
    tbFeriados = table("tbFeriados", "feriados");
    tbMens = table("tbMens", "mens");
    tbPermisso = table("tbPermisso", "permisso");
    tbSirene = table("tbSirene", "sirene");
    tbRegistros = table("tbRegistros", "registro");
    tbLayOut = table("tbLayOut", "layoutar");
    tbAux = table("tbAux", "");
    tbTemp = table("tbTemp", "");
    qyTemp = query("qyTemp", {});
    qyGrupof = query("qyGrupof", {"select grupof.faixa,", "faixa.descricao,", "faixa.cod_faixa,",
                                  "grupof.matricula from grupof, faixa",
                                  "where grupof.faixa = faixa.cod_faixa and grupof.matricula = "
                                  ":matricula"});
    qyGrupof->setMasterSource(dsFuncs);
    qyPontos = query("qyPontos", {"Select * from registro where",
                                  ":matricula = matricula and data = :diaponto", "order by hora"});
    qyPontos->setMasterSource(dsFuncs);
    qyExporta = query("qyExporta", {"select registro.data, registro.hora, registro.matricula,",
                                    "funciona.matricula, funciona.nome from registro, funciona",
                                    "where registro.matricula = funciona.matricula",
                                    "and registro.data between :dini and :dfim"});
    qyEmpresas = query("qyEmpresas", {"select * from empresa where codigo = :empresa"});
    qyAux = query("qyAux", {"Select * from registro where matricula = :matricula"});
    qySQL = query("qySQL", {});
    qyApaga = query("qyApaga", {});
    qyPontos2 = query("qyPontos2", {});
    qyFuncs = query("qyFuncs", {});
    qyCria = query("qyCria", {});
    installEmployeeRules();
    installCompanyRules();
}

// The rules of employee rows hold whichever window (or import) changes
// tbFuncs, so they live here rather than in the employee window.
void TDDados::installEmployeeRules() {
    tbFuncs->afterInsert.add(
        [](DataSet& ds) { ds.fieldByName(QStringLiteral("acesso")).setValue(0); });
    tbFuncs->beforePost.add([this](DataSet& ds) {
        static const struct {
            const char* field;
            const char* message;
        } required[] = {
            {"matricula", "Digite uma matrícula para esse colaborador!"},
            {"nome", "Digite um nome para esse colaborador!"},
            {"codigo", "Digite um código para esse colaborador!"},
        };
        for (const auto& r : required)
            if (ds.fieldByName(QLatin1String(r.field)).asString().isEmpty())
                refuse(QString::fromUtf8(r.message));
    });
    // The fingerprint file goes with its employee; one that cannot be deleted
    // is left, as the rows of other tables that name the employee are.
    tbFuncs->beforeDelete.add([this](DataSet& ds) {
        if (!session_.fingerprintsInUse)
            return;
        const QString file =
            fingerprintFile(ds.fieldByName(QStringLiteral("matricula")).asString());
        if (!file.isEmpty())
            QFile::remove(file);
    });
    dsFuncs->onDataChange = [this](DataSource& source, int) {
        if (!session_.photoDisplay || !showEmployeePhoto || !source.dataSet())
            return;
        const QString imagem =
            source.dataSet()->isActive()
                ? source.dataSet()->fieldByName(QStringLiteral("imagem")).asString()
                : QString();
        showEmployeePhoto(imagem.isEmpty() ? QString() : employeePhotoFile(imagem));
    };
}

void TDDados::installCompanyRules() {
    tbEmpresas->afterInsert.add([this](DataSet& ds) {
        ds.fieldByName(QStringLiteral("codigo")).setValue(firstFreeCompanyCode());
    });
}

QString TDDados::employeePhotoFile(const QString& imagem) const {
    return QDir(nativePath(session_.photoFolder)).filePath(imagem);
}

QString TDDados::fingerprintFile(const QString& matricula) const {
    if (matricula.isEmpty() || session_.fingerprintFolder.isEmpty())
        return {};
    // Compared by name rather than built into a path: a matricula is typed
    // text and must not reach outside the folder.
    const QDir folder(nativePath(session_.fingerprintFolder));
    const QString wanted = matricula + QStringLiteral(".dig");
    for (const QString& name : folder.entryList(QDir::Files | QDir::Hidden | QDir::System))
        if (name.size() == wanted.size() && name.startsWith(matricula) &&
            name.endsWith(QStringLiteral(".dig"), Qt::CaseInsensitive))
            return folder.filePath(name);
    return {};
}

int TDDados::firstFreeCompanyCode() {
    tbAux->close();
    tbAux->setTableName(QStringLiteral("empresa"));
    tbAux->setIndexFieldNames(QStringLiteral("codigo"));
    tbAux->open();
    // One statement finds the first gap, where a look-up per number would
    // grow with the companies.
    const QVariant gap = database().scalar(QStringLiteral(
        "SELECT CASE WHEN NOT EXISTS (SELECT 1 FROM empresa WHERE codigo = 1) THEN 1 "
        "ELSE (SELECT min(e.codigo) + 1 FROM empresa e WHERE e.codigo >= 1 AND NOT EXISTS "
        "(SELECT 1 FROM empresa f WHERE f.codigo = e.codigo + 1)) END"));
    return gap.toInt();
}

void TDDados::refuse(const QString& text) {
    if (tellOperator)
        tellOperator(text);
    throw Refusal(text);
}

TDDados::~TDDados() {
    // Datasets go before the connections they use.
    for (Table* t : tables_)
        t->close();
    for (Query* q : queries_)
        q->close();
    qDeleteAll(tables_);
    qDeleteAll(queries_);
    tables_.clear();
    queries_.clear();
}

Table* TDDados::table(const char* name, const char* tableName) {
    auto* t = new Table;
    t->setObjectName(QString::fromLatin1(name));
    if (*tableName)
        t->setTableName(QString::fromLatin1(tableName));
    tables_ << t;
    return t;
}

Query* TDDados::query(const char* name, const QStringList& lines) {
    auto* q = new Query;
    q->setObjectName(QString::fromLatin1(name));
    if (!lines.isEmpty())
        q->setSql(lines);
    queries_ << q;
    return q;
}

QList<DataSet*> TDDados::dataSets() const {
    return {tbFuncs,   tbTemp,   tbRegistros, tbEmpresas, tbAux,    tbLayOut,
            qyExporta, qyPontos, tbFeriados,  tbFaixaH,   tbGrupof, qyGrupof,
            tbMens,    qyAux,    qyTemp,      tbPermisso, qyApaga,  qyPontos2,
            qyFuncs,   tbSirene, qyEmpresas,  qySQL,      qyCria};
}

void TDDados::resolveDatabaseDirectory() {
    session_.databaseDirectory = db::resolveDatabaseDirectory(engine_);
}

Database& TDDados::database() {
    if (!db_)
        db_ = connectAlias(engine_, createWhenMissing_);
    return *db_;
}

QString TDDados::engineName() const {
    return db_ ? db_->engineName() : QString();
}

MaintenanceReport TDDados::runMaintenance(const std::function<void(const QString&)>& showError) {
    try {
        TfmReindexa form(&database(), showError);
        return form.run();
    } catch (const DbError& e) {
        if (showError)
            showError(e.text());
        MaintenanceReport r;
        r.stoppedAt = engineTableName(maintenanceList().first().table);
        r.error = e.text();
        return r;
    }
}

void TDDados::takeStartupDirectory() {
    const std::filesystem::path cwd = QDir::currentPath().toStdString();
    if (auto win = platform::toWindows(cwd))
        session_.startupDirectory = withSeparator(QString::fromStdString(*win));
    else
        session_.startupDirectory = withSeparator(QString::fromStdString(cwd.string()));
}

void TDDados::createIniHandle() {
    session_.ini = std::make_unique<platform::IniFile>("KELDO32.INI");
}

void TDDados::readSessionFolders() {
    const platform::IniFile& ini = *session_.ini;
    const std::string start = session_.startupDirectory.toStdString();
    session_.photoFolder = withSeparator(
        QString::fromStdString(ini.readString("CONFMEN", "PATHIMAGENS", start + "FOTOS")));
    session_.fingerprintsInUse = ini.readBool("CONFMEN", "DIGITAIS", false);
    if (!session_.fingerprintsInUse)
        session_.fingerprintsInUse = ini.readBool("CONFMEN", "esperaponto", false);
    QString fp = QString::fromStdString(ini.readString("DIGITAIS", "PATH", start + "DIGITAIS"));
    while (fp.size() > 1 && (fp.endsWith(QLatin1Char('\\')) || fp.endsWith(QLatin1Char('/'))))
        fp.chop(1);
    session_.fingerprintFolder = fp;
}

void TDDados::bindComponents() {
    Database& db = database();
    for (Table* t : tables_)
        t->setDatabase(&db);
    for (Query* q : queries_)
        q->setDatabase(&db);
    session_.boundToAlias = true;
}

void TDDados::bindTemporary() {
    session_.temporaryDirectory = QString::fromStdString(platform::temporaryDirectory());
    const QString folder =
        QString::fromStdString(platform::ensureDirectory(platform::temporaryDirectory()).string());
    tbTemp->close();
    qyTemp->close();
    temp_ = Database::openDirectory(folder);
    tbTemp->setDatabase(temp_.get());
    qyTemp->setDatabase(temp_.get());
}

void TDDados::openPermisso() {
    tbPermisso->open();
    if (tbPermisso->isEmpty()) {
        // A new installation admits an operator with an empty login and an
        // empty password, who holds every right.
        tbPermisso->append();
        tbPermisso->post();
    }
}

void TDDados::openSessionTables(const std::function<void(const QString&)>& progress) {
    const QList<QPair<const char*, Table*>> steps = {
        {"Abrindo tabela de colaboradores", tbFuncs},
        {"Abrindo tabela de registros", tbRegistros},
        {"Abrindo tabela de layout", tbLayOut},
        {"Abrindo tabela de feriados", tbFeriados},
        {"Abrindo tabela de empresas", tbEmpresas},
        {"Abrindo tabela de acionamento de sirene", tbSirene},
    };
    for (const auto& [text, t] : steps) {
        if (progress)
            progress(QString::fromUtf8(text));
        t->open();
    }
}

} // namespace keldo::db
