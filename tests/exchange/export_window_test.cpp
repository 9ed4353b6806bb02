#include "db/data_module.h"
#include "db/location.h"
#include "exchange/TfmExporta.h"
#include "exchange/exchange_windows.h"
#include "platform/ini_file.h"
#include "platform/paths.h"
#include "test_support.h"
#include "ui/portuguese_qt.h"
#include "ui/prompter.h"
#include "ui/window_registry.h"

#include <QApplication>
#include <QComboBox>
#include <QDateEdit>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace keldo;
using namespace keldo::exchange;
using Kind = ui::ScriptedPrompter::Kind;

namespace {

class ExportWindowTest : public ::testing::Test {
protected:
    keldo::testing::TestDatabase tdb;
    keldo::testing::BoundDataModule dm{tdb};
    QTemporaryDir out;
    ui::ScriptedPrompter prompter;

    void SetUp() override {
        dm->tbLayOut->open();
        tdb->exec("INSERT INTO empresa (codigo, nome) VALUES (2, 'Beta'), (1, 'Alfa')");
        tdb->exec("INSERT INTO funciona (matricula, nome, empresa) VALUES ('1', 'Zé', 1), "
                  "('2', 'Ana', 2)");
        const QDate today = QDate::currentDate();
        for (QDate d : {today.addDays(-30), today, today.addDays(1)})
            tdb->exec("INSERT INTO registro (matricula, data, hora) VALUES ('1', ?, '08:00:00')",
                      {d});
    }

    void useLayoutMode(const QString& body) {
        platform::ensureDirectory(platform::windowsDirectory());
        platform::IniFile("KELDO32.INI").writeBool("CONFMEN", "EXPORTAPTO", false);
        tdb->exec("UPDATE layoutar SET Corpo_mascara = ?", {body});
        dm->tbLayOut->close();
        dm->tbLayOut->open();
    }

    template <typename W> W* child(QWidget& w, const char* name) {
        W* c = w.findChild<W*>(QString::fromLatin1(name));
        EXPECT_NE(c, nullptr) << name;
        return c;
    }
};

TEST_F(ExportWindowTest, OpensWithTheLastThirtyDaysAndEveryNameInOrder) {
    registerExchangeWindows();
    ASSERT_TRUE(ui::hasWindow("TfmExporta"));
    TfmExporta w(*dm);
    EXPECT_EQ(w.windowTitle(), "Exportação de pontos");
    EXPECT_EQ(child<QDateEdit>(w, "DateTimePicker1")->date(), QDate::currentDate().addDays(-30));
    EXPECT_EQ(child<QDateEdit>(w, "DateTimePicker2")->date(), QDate::currentDate());
    EXPECT_TRUE(child<QDateEdit>(w, "DateTimePicker1")->calendarPopup());
    EXPECT_EQ(child<QDateEdit>(w, "DateTimePicker1")->displayFormat(), "dd/MM/yyyy");
    auto items = [](QComboBox* c) {
        QStringList l;
        for (int i = 0; i < c->count(); ++i)
            l << c->itemText(i);
        return l;
    };
    QComboBox* companies = child<QComboBox>(w, "ComboBox1");
    QComboBox* employees = child<QComboBox>(w, "ComboBox2");
    EXPECT_EQ(items(companies), QStringList({"Todas", "Alfa", "Beta"}));
    EXPECT_EQ(items(employees), QStringList({"Todos", "Ana", "Zé"}));
    EXPECT_TRUE(companies->isEditable() && employees->isEditable());
    EXPECT_EQ(companies->currentText(), "Todas");
    const struct {
        const char* name;
        const char* hint;
    } hints[] = {
        {"DateTimePicker1", "Período inicial para exportação de pontos"},
        {"DateTimePicker2", "Periodo final para exportação de pontos"},
        {"ComboBox1", "Selecione a empresa para exportação de pontos "},
        {"ComboBox2", "Selecione o colaborador para exportção de pontos"},
        {"SpeedButton1", "Cria o arquivo de saida referente ao periodo escolhido"},
    };
    for (const auto& h : hints)
        EXPECT_EQ(child<QWidget>(w, h.name)->toolTip(), QString::fromUtf8(h.hint)) << h.name;
    EXPECT_EQ(child<QPushButton>(w, "SpeedButton1")->text(), "&Exportar");
    EXPECT_EQ(child<QPushButton>(w, "SpeedButton5")->text(), "&Retorna");
}

TEST_F(ExportWindowTest, ExportAsksForTheFileAndEndsWithTheCount) {
    TfmExporta w(*dm);
    w.show();
    QPushButton* exportar = child<QPushButton>(w, "SpeedButton1");

    prompter.paths.push_back(""); // the operator cancels the save dialog
    exportar->click();
    ASSERT_EQ(prompter.calls.size(), 1u);
    EXPECT_EQ(prompter.calls[0].kind, Kind::SaveFile);
    EXPECT_EQ(prompter.calls[0].text,
              ui::dialogFilter("Arquivos Corvaldi (*.PTO)|*.PTO|Todos os arquivos|*.*"));
    EXPECT_TRUE(QDir(out.path()).isEmpty());

    prompter.paths.push_back(out.filePath("pontos"));
    exportar->click();
    EXPECT_EQ(prompter.texts(Kind::Information),
              QStringList{"Fim da exportação !\r\rRegistros exportados: 2"});
    EXPECT_EQ(QFile(out.filePath("pontos.pto")).size(), 2 * pto::kRecordSize);
    EXPECT_EQ(child<QLabel>(w, "Label5")->text(), "Exportando... 2/2");
    EXPECT_TRUE(exportar->isEnabled());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);

    // Layout mode asks with its own filter; a failure gives everything back.
    useLayoutMode("1");
    prompter.paths.push_back(out.filePath("falta/linhas"));
    exportar->click();
    EXPECT_EQ(prompter.calls.back().kind, Kind::Error);
    EXPECT_EQ(prompter.calls[prompter.calls.size() - 2].text,
              ui::dialogFilter("Arquivos texto (*.TXT)|*.txt|Todos os arquivos|*.*"));
    EXPECT_TRUE(prompter.calls.back().text.contains(out.filePath("falta/linhas.txt")))
        << prompter.calls.back().text.toStdString();
    EXPECT_TRUE(exportar->isEnabled());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_TRUE(prompter.failures.empty());
}

TEST_F(ExportWindowTest, EmptyBodyMaskOffersTheLayoutWindow) {
    useLayoutMode("");
    int opened = 0;
    ui::registerWindow("TfmLayOutAr", [&](QWidget*, db::TDDados&) { ++opened; });
    TfmExporta w(*dm);
    for (ui::Answer a : {ui::Answer::No, ui::Answer::Yes}) {
        prompter.answers.push_back(a);
        child<QPushButton>(w, "SpeedButton1")->click();
    }
    ui::registerWindow("TfmLayOutAr", {});
    EXPECT_EQ(opened, 1);
    EXPECT_EQ(prompter.texts(Kind::Confirm),
              QStringList(2, "Nenhuma Máscara p/ formação do arquivo de saída "
                             "definida!\rDefinir agora?"));
    EXPECT_EQ(prompter.calls.size(), 2u) << "no save dialog, nothing exported";
    EXPECT_TRUE(QDir(out.path()).isEmpty());
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    ui::installPortugueseQt(app);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
