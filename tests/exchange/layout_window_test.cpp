// The layout window driven as the operator drives it, on the data module's
// tbLayOut over a real database: the header rule, both previews from unsaved
// field texts, and what each way of closing leaves in the stored row.
#include "db/data_module.h"
#include "db/location.h"
#include "exchange/TfmLayOutAr.h"
#include "exchange/exchange_windows.h"
#include "test_support.h"
#include "ui/data_controls.h"
#include "ui/prompter.h"
#include "ui/window_registry.h"

#include <QApplication>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

using namespace keldo;
using exchange::TfmLayOutAr;
using Kind = ui::ScriptedPrompter::Kind;

namespace {

class LayoutWindowTest : public ::testing::Test {
protected:
    keldo::testing::TestDatabase tdb;
    keldo::testing::BoundDataModule dm{tdb}; // tbLayOut stays closed: the window opens it
    ui::ScriptedPrompter prompter;

    void TearDown() override { EXPECT_TRUE(prompter.failures.empty()); }

    template <class T = QLineEdit> static T* child(QWidget& w, const char* name) {
        T* c = w.findChild<T*>(QLatin1String(name));
        EXPECT_NE(c, nullptr) << name;
        return c;
    }
    // Replaces the field's text by typing, as the operator does.
    static void type(QWidget& w, const char* name, const QString& text) {
        auto* ed = child(w, name);
        ed->selectAll();
        QTest::keyClick(ed, Qt::Key_Delete);
        QTest::keyClicks(ed, text);
    }
    static void click(QWidget& w, const char* name) { child<QAbstractButton>(w, name)->click(); }
    QVariant stored(const char* field) {
        return tdb->scalar(QStringLiteral("SELECT %1 FROM layoutar").arg(QLatin1String(field)));
    }
};

TEST_F(LayoutWindowTest, HeaderMaskIsEnabledExactlyWhenGerarCabecalhoIsChecked) {
    for (int flag : {-1, 0}) {
        SCOPED_TRACE(flag);
        tdb->exec("UPDATE layoutar SET Cabecalho = ?", {flag});
        if (dm->tbLayOut->isActive())
            dm->tbLayOut->refresh();
        TfmLayOutAr w(*dm);
        auto* mask = child(w, "edCabecalhoMascara");
        auto* apply = child<QPushButton>(w, "btAplicarCabecalho");
        const bool checked = flag == 0;
        EXPECT_EQ(child<QCheckBox>(w, "cbCabecalho")->isChecked(), checked);
        EXPECT_EQ(mask->isEnabled(), checked);
        EXPECT_EQ(apply->isEnabled(), checked);
        click(w, "cbCabecalho");
        EXPECT_EQ(mask->isEnabled(), !checked);
        EXPECT_EQ(apply->isEnabled(), !checked);
        EXPECT_EQ(dm->tbLayOut->fieldByName("Cabecalho").asInteger(), checked ? -1 : 0);
        click(w, "cbCabecalho");
        EXPECT_EQ(mask->isEnabled(), checked);
        w.reject();
    }
    EXPECT_TRUE(prompter.calls.empty());
}

// The window's own example, typed over the delivered layout and not saved.
TEST_F(LayoutWindowTest, PreviewsRenderWhatTheFieldsShowNow) {
    TfmLayOutAr w(*dm);
    type(w, "edCorpoMascara", "1;2;4");
    type(w, "edMatriTam", "6");
    type(w, "edMatriBrancos", "0");
    type(w, "edNomeTam", " 10 ");
    type(w, "edDataFormato", "ddmmyyyy");
    click(w, "rgAlinhamento_1");
    click(w, "rgAlinhamento_0");
    EXPECT_EQ(child(w, "edDataFormato")->text(), "DDMMYYYY");
    click(w, "btAplicarCorpo");
    const QDate today = QDate::currentDate();
    EXPECT_EQ(child(w, "edResultadoCorpo")->text(),
              "000521;NOME DO FU;" + today.toString("ddMMyyyy"));

    click(w, "rgAlinhamento_1");
    type(w, "edMatriBrancos", "*");
    type(w, "edCorpoMascara", "<1>");
    click(w, "btAplicarCorpo");
    EXPECT_EQ(child(w, "edResultadoCorpo")->text(), "<521***>");

    // A width far beyond the column previews at the column's capacity.
    type(w, "edNomeTam", "100000000");
    type(w, "edCorpoMascara", "2|");
    click(w, "btAplicarCorpo");
    EXPECT_EQ(child(w, "edResultadoCorpo")->text(), "NOME DO FUNCIONARIO" + QString(31, ' ') + "|");

    // The header: 3 is the fixed text brought to the company width, 1 and 2
    // are themselves, 4 the date, 5 the first fixed column.
    click(w, "cbCabecalho");
    type(w, "edCabecalhoMascara", "3|4|1|2|5");
    type(w, "edEmpresaTam", "8");
    type(w, "edDataFormato", "yyyy");
    type(w, "edConteudo6", "X");
    click(w, "btAplicarCabecalho");
    EXPECT_EQ(child(w, "edResultadoCabecalho")->text(),
              "CORVALDI|" + today.toString("yyyy") + "|1|2|X");

    EXPECT_TRUE(prompter.calls.empty());
    w.reject();
    EXPECT_EQ(stored("Matri_tam").toInt(), 10); // previews store nothing
    EXPECT_EQ(stored("Corpo_mascara").toString(), "");
}

TEST_F(LayoutWindowTest, PreviewsStopWithAMessage) {
    const struct {
        const char* what;
        const char* field;
        QString text;
        const char* button;
        const char* result;
        QString message;
    } cases[] = {
        {"empty body mask", "edCorpoMascara", "", "btAplicarCorpo", "edResultadoCorpo",
         "Nenhuma Máscara definida!"},
        {"matricula width", "edMatriTam", "6x", "btAplicarCorpo", "edResultadoCorpo",
         "'6x' não é um número inteiro válido."},
        {"name width", "edNomeTam", "1 0", "btAplicarCorpo", "edResultadoCorpo",
         "'1 0' não é um número inteiro válido."},
        {"company width in the header", "edEmpresaTam", "trinta", "btAplicarCabecalho",
         "edResultadoCabecalho", "'trinta' não é um número inteiro válido."},
        // An emptied field is no number either; only a stored row reads as 0.
        {"empty matricula width", "edMatriTam", "", "btAplicarCorpo", "edResultadoCorpo",
         "'' não é um número inteiro válido."},
        {"blank company width in the header", "edEmpresaTam", "  ", "btAplicarCabecalho",
         "edResultadoCabecalho", "'  ' não é um número inteiro válido."},
        {"a width beyond the whole numbers", "edNomeTam", "99999999999", "btAplicarCorpo",
         "edResultadoCorpo", "'99999999999' não é um número inteiro válido."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        prompter.calls.clear();
        TfmLayOutAr w(*dm);
        click(w, "cbCabecalho");
        type(w, "edCorpoMascara", "1;2");
        type(w, "edCabecalhoMascara", "3");
        click(w, c.button);
        EXPECT_FALSE(child(w, c.result)->text().isEmpty());
        type(w, c.field, c.text);
        click(w, c.button);
        EXPECT_EQ(prompter.texts(Kind::Error), QStringList{c.message});
        EXPECT_TRUE(child(w, c.result)->text().isEmpty());
        w.reject();
    }
}

// Grava stores; Retorna asks and stores or drops; the close box and Escape
// drop. An unchanged row closes without a question.
TEST_F(LayoutWindowTest, EachWayOfClosingStoresOrDropsTheEdit) {
    enum class How { Grava, RetornaYes, RetornaNo, CloseBox, Escape, RetornaUnchanged };
    const struct {
        const char* what;
        How how;
        bool stores;
    } cases[] = {
        {"Grava", How::Grava, true},
        {"Retorna, Yes", How::RetornaYes, true},
        {"Retorna, No", How::RetornaNo, false},
        {"close box", How::CloseBox, false},
        {"Escape", How::Escape, false},
        {"Retorna without a change", How::RetornaUnchanged, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        tdb->exec("UPDATE layoutar SET Nome_tam = 40, Corpo_mascara = NULL, Matri_align = 'D'");
        if (dm->tbLayOut->isActive())
            dm->tbLayOut->refresh();
        prompter.calls.clear();
        TfmLayOutAr w(*dm);
        w.show();
        if (c.how != How::RetornaUnchanged) {
            type(w, "edNomeTam", "25");
            type(w, "edCorpoMascara", "1;2");
            click(w, "rgAlinhamento_1");
        }
        switch (c.how) {
        case How::Grava:
            click(w, "btGrava");
            break;
        case How::RetornaYes:
        case How::RetornaNo:
            prompter.answers.push_back(c.how == How::RetornaYes ? ui::Answer::Yes : ui::Answer::No);
            [[fallthrough]];
        case How::RetornaUnchanged:
            click(w, "btRetorna");
            break;
        case How::CloseBox:
            w.close();
            break;
        case How::Escape:
            QTest::keyClick(&w, Qt::Key_Escape);
            break;
        }
        EXPECT_FALSE(w.isVisible());
        EXPECT_EQ(dm->tbLayOut->state(), db::DataSetState::Browse);
        const bool asked = c.how == How::RetornaYes || c.how == How::RetornaNo;
        EXPECT_EQ(prompter.texts(Kind::Confirm),
                  asked ? QStringList{"Dados não foram salvos. Salvar?"} : QStringList{});
        EXPECT_EQ(stored("Nome_tam").toInt(), c.stores ? 25 : 40);
        EXPECT_EQ(stored("Corpo_mascara").toString(), c.stores ? "1;2" : "");
        EXPECT_EQ(stored("Matri_align").toString(), c.stores ? "E" : "D");
        // The data module's table shows what is stored.
        EXPECT_EQ(dm->tbLayOut->fieldByName("Nome_tam").asInteger(), c.stores ? 25 : 40);
    }
}

// A width that is not a number cannot be stored: Grava says why and the
// window stays open with the edit, which the operator may still correct.
TEST_F(LayoutWindowTest, GravaWithAWidthThatIsNotANumberKeepsTheWindowOpen) {
    TfmLayOutAr w(*dm);
    w.show();
    type(w, "edMatriTam", "abc");
    click(w, "btGrava");
    ASSERT_EQ(prompter.texts(Kind::Error).size(), 1);
    EXPECT_TRUE(prompter.texts(Kind::Error)[0].contains("'abc'"));
    EXPECT_TRUE(w.isVisible());
    EXPECT_TRUE(dm->tbLayOut->isEditing());
    type(w, "edMatriTam", "7");
    click(w, "btGrava");
    EXPECT_FALSE(w.isVisible());
    EXPECT_EQ(stored("Matri_tam").toInt(), 7);
}

TEST_F(LayoutWindowTest, ATableWithoutItsRowIsReportedAndNothingCanBeEdited) {
    tdb->exec("DELETE FROM layoutar");
    TfmLayOutAr w(*dm);
    EXPECT_FALSE(w.hasRow());
    ASSERT_EQ(prompter.texts(Kind::Error).size(), 1);
    EXPECT_TRUE(prompter.texts(Kind::Error)[0].contains("layoutar"));
    for (const char* name :
         {"edMatriTam", "edMatriBrancos", "edNomeTam", "edEmpresaTam", "edDataFormato",
          "edConteudo6", "edCorpoMascara", "edCabecalhoMascara"})
        EXPECT_FALSE(child(w, name)->isEnabled()) << name;
    for (const char* name :
         {"rgAlinhamento_0", "cbCabecalho", "btAplicarCorpo", "btAplicarCabecalho"})
        EXPECT_FALSE(child<QWidget>(w, name)->isEnabled()) << name;
    w.show();
    click(w, "btRetorna");
    EXPECT_FALSE(w.isVisible());
    EXPECT_EQ(tdb->scalar("SELECT COUNT(*) FROM layoutar").toInt(), 0);
}

// The main menu and the punch export reach the window by its name.
TEST_F(LayoutWindowTest, OpensByNameAsAModalWindow) {
    exchange::registerExchangeWindows();
    ASSERT_TRUE(ui::hasWindow("TfmLayOutAr"));
    QString title;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        QWidget* w = QApplication::activeModalWidget();
        if (!w || !w->isVisible())
            return;
        title = w->windowTitle();
        if (auto* b = w->findChild<QPushButton*>("btRetorna"))
            b->click();
        else
            w->close();
    });
    poll.start(10);
    EXPECT_TRUE(ui::openWindow("TfmLayOutAr", nullptr, *dm));
    EXPECT_EQ(title, "Configuração Arquivo de Saída");
}

} // namespace
