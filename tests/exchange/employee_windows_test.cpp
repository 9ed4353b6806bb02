#include "../db/test_support.h"
#include "db/data_module.h"
#include "db/location.h"
#include "exchange/TfmExpFun.h"
#include "exchange/TfmImportaf.h"
#include "platform/ini_file.h"
#include "ui/prompter.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSqlQuery>
#include <gtest/gtest.h>

using namespace keldo;
using namespace keldo::exchange;
using Kind = ui::ScriptedPrompter::Kind;

namespace {

class EmployeeWindows : public ::testing::Test {
protected:
    EmployeeWindows() {
        dm.openSessionTables();
        dm.tellOperator = [this](const QString& text) { prompter.information(nullptr, text); };
        tdb->exec("insert into empresa (codigo, nome) values (2, 'Beta'), (1, 'Alfa')");
        tdb->exec("insert into funciona (matricula, codigo, nome, empresa) values "
                  "('10', '100', 'Ana', 1), ('20', '200', 'Bruno', 2), ('30', '300', 'Caio', 2)");
    }
    QString path(const QString& name) const { return QDir(tdb.root()).filePath(name); }
    int employees() { return tdb->scalar("select count(*) from funciona").toInt(); }
    template <typename T> static T* child(QWidget& w, const char* name) {
        T* c = w.findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(c, nullptr) << name;
        return c;
    }
    static void setColumns(TfmImportaf& w, const QStringList& texts) {
        const char* names[] = {"edPosNome", "edTamNom", "edPosMat",
                               "edTamMat",  "edPosCod", "edTamCod"};
        for (int i = 0; i < 6; ++i)
            child<QLineEdit>(w, names[i])->setText(texts[i]);
    }
    static QStringList columns(TfmImportaf& w) {
        QStringList t;
        for (const char* n :
             {"edPosNome", "edTamNom", "edPosMat", "edTamMat", "edPosCod", "edTamCod"})
            t << child<QLineEdit>(w, n)->text();
        return t;
    }

    keldo::testing::TestDatabase tdb;
    keldo::testing::BoundDataModule bound{tdb};
    db::TDDados& dm = *bound;
    ui::ScriptedPrompter prompter;
};

TEST_F(EmployeeWindows, ExportWritesTheChosenCompanyAndSaysHowMany) {
    TfmExpFun w(dm);
    EXPECT_EQ(w.windowTitle(), QString::fromUtf8("Exportação de colaboradores"));
    auto* combo = child<QComboBox>(w, "ComboBox1");
    ASSERT_EQ(combo->count(), 3);
    EXPECT_EQ(combo->itemText(0), "Todas");
    EXPECT_EQ(combo->itemText(1), "Alfa");
    EXPECT_EQ(combo->itemText(2), "Beta");
    auto* exportar = child<QPushButton>(w, "SpeedButton1");
    EXPECT_EQ(exportar->text(), "&Exportar");

    prompter.paths.push_back(QString()); // cancelled: nothing but the button again
    exportar->click();
    EXPECT_TRUE(exportar->isEnabled());
    ASSERT_EQ(prompter.calls.size(), 1u);
    EXPECT_EQ(prompter.calls[0].kind, Kind::SaveFile);

    combo->setEditText("Beta");
    prompter.paths.push_back(path("beta"));
    exportar->click();
    EXPECT_EQ(prompter.texts(Kind::Information),
              QStringList{QString::fromUtf8("Fim da exportação !\r\rColaboradores exportados: 2")});
    EXPECT_EQ(child<QLabel>(w, "Label5")->text(), "Exportando... 2/2");
    QFile f(path("beta.txt"));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.size(), 2 * 112);
    EXPECT_TRUE(exportar->isEnabled());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);

    prompter.paths.push_back(path("sem/pasta/x.txt"));
    exportar->click();
    ASSERT_EQ(prompter.texts(Kind::Error).size(), 1);
    EXPECT_TRUE(prompter.texts(Kind::Error)[0].contains(path("sem/pasta/x.txt")));
    EXPECT_TRUE(exportar->isEnabled());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_TRUE(prompter.failures.empty());
}

TEST_F(EmployeeWindows, ImportSettingsSurviveEveryWayOfClosing) {
    const QStringList typed{"abc", "70", "1", "", "21", "-2"};
    const struct {
        const char* how;
        std::function<void(TfmImportaf&)> close;
    } ways[] = {
        {"Retornar", [](TfmImportaf& w) { child<QPushButton>(w, "Button2")->click(); }},
        {"close box", [](TfmImportaf& w) { w.close(); }},
        {"Escape", [](TfmImportaf& w) { w.reject(); }},
    };
    for (const auto& way : ways) {
        SCOPED_TRACE(way.how);
        platform::IniFile("KELDO32.INI").eraseSection("CORDENADAS");
        {
            TfmImportaf w(dm);
            EXPECT_EQ(columns(w), QStringList(6, "1"));
            w.show();
            setColumns(w, typed);
            way.close(w);
        }
        TfmImportaf again(dm);
        EXPECT_EQ(columns(again), typed);
    }
    EXPECT_TRUE(prompter.calls.empty());
}

TEST_F(EmployeeWindows, ImportReportsTheCountOrTheRefusal) {
    {
        QFile f(path("lista.txt"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("10 100Ana\r\n40 400Davi\r\n50 500\r\n60 600Depois\r\n");
    }
    TfmImportaf w(dm);
    EXPECT_EQ(w.windowTitle(), QString::fromUtf8("Importação de colaboradores"));
    auto* importar = child<QPushButton>(w, "Button1");
    EXPECT_TRUE(importar->isDefault());
    auto* memo = child<QPlainTextEdit>(w, "Memo1");

    setColumns(w, {"7", "x", "1", "3", "4", "3"});
    importar->click();
    EXPECT_EQ(prompter.texts(Kind::Error),
              QStringList{QString::fromUtf8("Tamanho do nome não é um valor inteiro válido!")});
    EXPECT_EQ(prompter.calls.size(), 1u); // no file was asked for

    setColumns(w, {"7", "20", "1", "3", "4", "3"});
    prompter.paths.push_back(QString());
    importar->click();
    EXPECT_EQ(memo->toPlainText(), "Colaboradores cadastrados: 0");
    EXPECT_EQ(prompter.calls.back().kind, Kind::OpenFile);
    EXPECT_EQ(prompter.calls.back().caption, "Selecione o arquivo de colaborador");

    prompter.paths.push_back(path("lista.txt"));
    importar->click();
    EXPECT_EQ(prompter.texts(Kind::Information),
              QStringList{QString::fromUtf8("Digite um nome para esse colaborador!")});
    EXPECT_EQ(memo->toPlainText(), "Colaboradores cadastrados: 0"); // not a result line
    EXPECT_EQ(employees(), 4);
    EXPECT_EQ(tdb->scalar("select nome from funciona where matricula = '40'").toString(), "Davi");
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);

    {
        QFile f(path("lista.txt"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("60 600Depois\r\n");
    }
    prompter.paths.push_back(path("lista.txt"));
    importar->click();
    EXPECT_EQ(memo->toPlainText(), "Colaboradores cadastrados: 1");
    EXPECT_TRUE(prompter.failures.empty());
}

} // namespace
