#include "../db/test_support.h"
#include "platform/ini_file.h"
#include "run_keldoctl.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

using namespace keldo;
using keldo::testing::keldoctl;
using Result = keldo::testing::KeldoctlResult;

namespace {

class EmployeeVerbs : public ::testing::Test {
protected:
    void SetUp() override { tdb.writeAlias(); }
    QString path(const QString& name) const { return QDir(tdb.root()).filePath(name); }
    int employees() { return tdb->scalar("select count(*) from funciona").toInt(); }
    void setColumns(const char* posNome, const char* tamNom, const char* posMat, const char* tamMat,
                    const char* posCod, const char* tamCod) {
        platform::IniFile ini("KELDO32.INI");
        ini.writeString("CORDENADAS", "POSNOME", posNome);
        ini.writeString("CORDENADAS", "TAMNOM", tamNom);
        ini.writeString("CORDENADAS", "POSMAT", posMat);
        ini.writeString("CORDENADAS", "TAMMAT", tamMat);
        ini.writeString("CORDENADAS", "POScod", posCod);
        ini.writeString("CORDENADAS", "TAMcod", tamCod);
    }
    keldo::testing::TestDatabase tdb;
};

TEST_F(EmployeeVerbs, ExportThenImportIntoAnEmptyRegistry) {
    tdb->exec("insert into empresa (codigo, nome) values (1, 'Alfa'), (2, 'Beta')");
    tdb->exec("insert into funciona (matricula, codigo, nome, empresa) values "
              "('10', '100', 'Ana', 1), ('20', '200', 'Bruno', 2), ('30', '300', 'Carla', 2)");
    Result beta = keldoctl({"export-employees", "--company", "Beta", "--out", path("beta")});
    ASSERT_EQ(beta.status, 0) << beta.err.toStdString();
    EXPECT_EQ(beta.out, "Colaboradores exportados: 2\n");
    EXPECT_EQ(QFileInfo(path("beta.txt")).size(), 2 * 112);
    Result unknown = keldoctl({"export-employees", "--company", "Gama", "--out", path("gama")});
    EXPECT_EQ(unknown.status, 1);
    EXPECT_EQ(unknown.err,
              QString::fromUtf8("Empresa não encontrada: \"Gama\"; nada foi exportado.\n"));
    EXPECT_FALSE(QFileInfo::exists(path("gama.txt")));

    tdb->exec("delete from funciona");
    setColumns("41", "70", "1", "20", "21", "20");
    Result in = keldoctl({"import-employees", "--file", path("beta.txt")});
    ASSERT_EQ(in.status, 0) << in.err.toStdString();
    EXPECT_EQ(in.out, "Colaboradores cadastrados: 2\n");
    EXPECT_EQ(tdb->scalar("select nome from funciona where matricula = '30'").toString(), "Carla");
    Result again = keldoctl({"import-employees", "--file", path("beta.txt")});
    EXPECT_EQ(again.out, "Colaboradores cadastrados: 0\n");
    EXPECT_EQ(employees(), 2);
}

TEST_F(EmployeeVerbs, RefusalsAndBadSettingsGoToStderr) {
    {
        QFile f(path("lista.txt"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("1  Ana\r\n2\r\n3  Caio\r\n");
    }
    setColumns("4", "10", "1", "3", "1", "3");
    Result r = keldoctl({"import-employees", "--file", path("lista.txt")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, QString::fromUtf8("Digite um nome para esse colaborador!\n"));
    EXPECT_EQ(employees(), 1);

    setColumns("4", "10", "um", "3", "1", "3");
    Result bad = keldoctl({"import-employees", "--file", path("lista.txt")});
    EXPECT_EQ(bad.status, 1);
    EXPECT_EQ(bad.err, QString::fromUtf8("Posição da matrícula não é um valor inteiro válido!\n"));

    setColumns("4", "10", "1", "3", "1", "3");
    Result missing = keldoctl({"import-employees", "--file", path("nada.txt")});
    EXPECT_EQ(missing.status, 1);
    EXPECT_TRUE(missing.err.contains(path("nada.txt"))) << missing.err.toStdString();
}

} // namespace
