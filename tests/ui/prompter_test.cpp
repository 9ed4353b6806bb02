#include "ui/prompter.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

using namespace keldo::ui;
using Kind = ScriptedPrompter::Kind;

TEST(ScriptedPrompter, AnswersInOrderAndRecordsEveryCall) {
    ScriptedPrompter p;
    p.answers = {Answer::No, Answer::Yes};
    p.paths = {"/tmp/a.txt", ""};
    Prompter& cur = Prompter::current();
    ASSERT_EQ(&cur, &p);

    cur.information(nullptr, "Operação concluída.", "Aviso");
    EXPECT_EQ(cur.confirm(nullptr, "Deseja sair?", Buttons::YesNo), Answer::No);
    EXPECT_EQ(cur.confirm(nullptr, "Apagar?", Buttons::YesNo, "Atenção"), Answer::Yes);
    EXPECT_EQ(cur.openFile(nullptr, "Abrir", "/tmp", "Texto (*.txt)"), "/tmp/a.txt");
    EXPECT_EQ(cur.chooseFolder(nullptr, "Pasta", "/tmp"), ""); // cancelled
    cur.error(nullptr, "Falhou.");

    ASSERT_EQ(p.calls.size(), 6u);
    EXPECT_EQ(p.calls[0].kind, Kind::Information);
    EXPECT_EQ(p.calls[0].caption, "Aviso");
    EXPECT_EQ(p.calls[2].caption, "Atenção");
    EXPECT_EQ(p.calls[2].buttons, Buttons::YesNo);
    EXPECT_EQ(p.calls[3].kind, Kind::OpenFile);
    EXPECT_EQ(p.calls[3].dir, "/tmp");
    EXPECT_EQ(p.calls[3].text, "Texto (*.txt)");
    EXPECT_EQ(p.texts(Kind::Confirm), QStringList({"Deseja sair?", "Apagar?"}));
    EXPECT_EQ(p.texts(Kind::Error), QStringList({"Falhou."}));
    EXPECT_TRUE(p.failures.empty());
}

TEST(ScriptedPrompter, UnscriptedOrMisfittingQuestionsFailLoudly) {
    ScriptedPrompter p;
    EXPECT_THROW(p.confirm(nullptr, "Salvar?", Buttons::YesNo), UnexpectedPrompt);
    EXPECT_THROW(p.saveFile(nullptr, "Salvar", "/tmp", "*.pto"), UnexpectedPrompt);
    p.answers = {Answer::Yes}; // not one of OK / Cancel
    EXPECT_THROW(p.confirm(nullptr, "Continuar?", Buttons::OkCancel), UnexpectedPrompt);
    EXPECT_EQ(p.failures.size(), 3u);
    EXPECT_EQ(p.calls.size(), 3u); // recorded even though they failed
}

TEST(ScriptedPrompter, SaveAddsTheDefaultSuffixOnlyWhenMissing) {
    ScriptedPrompter p;
    p.paths = {"/tmp/saida", "/tmp/saida.txt", ""};
    EXPECT_EQ(p.saveFile(nullptr, "S", "/tmp", "*.pto", "pto"), "/tmp/saida.pto");
    EXPECT_EQ(p.saveFile(nullptr, "S", "/tmp", "*.pto", "pto"), "/tmp/saida.txt");
    EXPECT_EQ(p.saveFile(nullptr, "S", "/tmp", "*.pto", "pto"), "");
}

TEST(ScriptedPrompter, RestoresThePreviousPrompterWhenDestroyed) {
    Prompter* real = &Prompter::current();
    {
        ScriptedPrompter outer;
        {
            ScriptedPrompter inner;
            EXPECT_EQ(&Prompter::current(), &inner);
        }
        EXPECT_EQ(&Prompter::current(), &outer);
    }
    EXPECT_EQ(&Prompter::current(), real);
    EXPECT_NE(dynamic_cast<QtPrompter*>(real), nullptr);
}

// The real box: Portuguese buttons, and the clicked one maps to its answer.
TEST(QtPrompter, YesNoBoxSaysSimNaoAndMapsTheClick) {
    struct Case {
        Buttons buttons;
        QStringList labels;
        int click;
        Answer expected;
    };
    const Case cases[] = {
        {Buttons::YesNo, {"&Sim", "&Não"}, 1, Answer::No},
        {Buttons::YesNo, {"&Sim", "&Não"}, 0, Answer::Yes},
        {Buttons::OkCancel, {"OK", "Cancelar"}, 1, Answer::Cancel},
        {Buttons::OkAbort, {"OK", "&Abortar"}, 1, Answer::Abort},
    };
    for (const Case& c : cases) {
        QStringList seen;
        QTimer::singleShot(0, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            ASSERT_NE(box, nullptr);
            EXPECT_EQ(box->windowTitle(), "Cronalto");
            const auto buttons = box->buttons();
            for (const QString& label : c.labels)
                for (QAbstractButton* b : buttons)
                    if (b->text() == label)
                        seen << label;
            for (QAbstractButton* b : buttons)
                if (b->text() == c.labels[c.click])
                    b->click();
        });
        QtPrompter real;
        EXPECT_EQ(real.confirm(nullptr, "Pergunta?", c.buttons), c.expected);
        EXPECT_EQ(seen, c.labels);
    }
    // Lines broken the Windows way show as lines.
    QString shown;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        shown = box->text();
        box->buttons().front()->click();
    });
    QtPrompter().information(nullptr, "Fim da exportação !\r\rRegistros exportados: 3");
    EXPECT_EQ(shown, "Fim da exportação !\n\nRegistros exportados: 3");
}

TEST(DialogFilter, WindowsFiltersMatchBothCasesAndEveryFile) {
    EXPECT_EQ(dialogFilter("Arquivos texto (*.TXT)|*.txt|Todos os arquivos|*.*"),
              "Arquivos texto (*.TXT) (*.txt *.TXT);;Todos os arquivos (*)");
    EXPECT_EQ(dialogFilter("Imagens|*.jpg;*.BMP"), "Imagens (*.jpg *.JPG *.BMP *.bmp)");
}
