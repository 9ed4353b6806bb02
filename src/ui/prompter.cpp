#include "ui/prompter.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>

namespace keldo::ui {

namespace {

Prompter* g_current = nullptr;

QtPrompter& qtPrompter() {
    static QtPrompter instance;
    return instance;
}

QString captionOr(const QString& caption) {
    if (!caption.isEmpty())
        return caption;
    const QString title = QGuiApplication::applicationDisplayName();
    return title.isEmpty() ? QStringLiteral("Cronalto") : title;
}

// The program's messages break lines with "\r" (and "\r\n"), as the boxes of
// Windows did; a Qt label breaks only at "\n".
QString displayText(QString text) {
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return text;
}

// QMessageBox's own buttons carry the translated texts of the desktop; the
// program's boxes have always said these words whatever the desktop language.
Answer runBox(QWidget* parent, QMessageBox::Icon icon, const QString& text, Buttons buttons,
              const QString& caption) {
    QMessageBox box(icon, captionOr(caption), displayText(text), QMessageBox::NoButton, parent);
    struct Choice {
        QString label;
        QMessageBox::ButtonRole role;
        Answer answer;
    };
    std::vector<Choice> choices;
    switch (buttons) {
    case Buttons::Ok:
        choices = {{QStringLiteral("OK"), QMessageBox::AcceptRole, Answer::Ok}};
        break;
    case Buttons::YesNo:
        choices = {{QStringLiteral("&Sim"), QMessageBox::YesRole, Answer::Yes},
                   {QStringLiteral("&Não"), QMessageBox::NoRole, Answer::No}};
        break;
    case Buttons::OkCancel:
        choices = {{QStringLiteral("OK"), QMessageBox::AcceptRole, Answer::Ok},
                   {QStringLiteral("Cancelar"), QMessageBox::RejectRole, Answer::Cancel}};
        break;
    case Buttons::OkAbort:
        choices = {{QStringLiteral("OK"), QMessageBox::AcceptRole, Answer::Ok},
                   {QStringLiteral("&Abortar"), QMessageBox::RejectRole, Answer::Abort}};
        break;
    }
    std::vector<QPushButton*> pushed;
    for (const Choice& c : choices)
        pushed.push_back(box.addButton(c.label, c.role));
    box.setDefaultButton(pushed.front());
    // Escape picks the last choice: No, Cancel or Abort; on a lone OK box, OK.
    box.setEscapeButton(pushed.back());
    box.exec();
    for (std::size_t i = 0; i < pushed.size(); ++i)
        if (box.clickedButton() == pushed[i])
            return choices[i].answer;
    return choices.back().answer;
}

QString buttonsName(Buttons b) {
    switch (b) {
    case Buttons::Ok:
        return QStringLiteral("Ok");
    case Buttons::YesNo:
        return QStringLiteral("YesNo");
    case Buttons::OkCancel:
        return QStringLiteral("OkCancel");
    case Buttons::OkAbort:
        return QStringLiteral("OkAbort");
    }
    return {};
}

bool answerFits(Answer a, Buttons b) {
    switch (b) {
    case Buttons::Ok:
        return a == Answer::Ok;
    case Buttons::YesNo:
        return a == Answer::Yes || a == Answer::No;
    case Buttons::OkCancel:
        return a == Answer::Ok || a == Answer::Cancel;
    case Buttons::OkAbort:
        return a == Answer::Ok || a == Answer::Abort;
    }
    return false;
}

} // namespace

QString dialogFilter(const QString& windowsFilter) {
    const QStringList parts = windowsFilter.split(QLatin1Char('|'));
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QStringList patterns;
        for (const QString& p : parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
            if (p == QLatin1String("*.*")) {
                patterns << QStringLiteral("*");
                continue;
            }
            for (const QString& v : {p, p.toLower(), p.toUpper()})
                if (!patterns.contains(v))
                    patterns << v;
        }
        filters << parts[i] + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) +
                       QLatin1Char(')');
    }
    return filters.join(QStringLiteral(";;"));
}

Prompter::~Prompter() = default;

Prompter& Prompter::current() {
    return g_current ? *g_current : qtPrompter();
}

void Prompter::setCurrent(Prompter* p) {
    g_current = p;
}

// ---- QtPrompter ---------------------------------------------------------

void QtPrompter::information(QWidget* parent, const QString& text, const QString& caption) {
    runBox(parent, QMessageBox::Information, text, Buttons::Ok, caption);
}

void QtPrompter::error(QWidget* parent, const QString& text, const QString& caption) {
    runBox(parent, QMessageBox::Critical, text, Buttons::Ok, caption);
}

void QtPrompter::warning(QWidget* parent, const QString& text, const QString& caption) {
    runBox(parent, QMessageBox::Warning, text, Buttons::Ok, caption);
}

Answer QtPrompter::confirm(QWidget* parent, const QString& text, Buttons buttons,
                           const QString& caption) {
    return runBox(parent, QMessageBox::Question, text, buttons, caption);
}

QString QtPrompter::openFile(QWidget* parent, const QString& caption, const QString& dir,
                             const QString& filter) {
    // The descriptions already name their patterns, as the program's filters always did.
    return QFileDialog::getOpenFileName(parent, captionOr(caption), dir, filter, nullptr,
                                        QFileDialog::HideNameFilterDetails);
}

QString QtPrompter::saveFile(QWidget* parent, const QString& caption, const QString& dir,
                             const QString& filter, const QString& defaultSuffix) {
    QFileDialog dialog(parent, captionOr(caption), dir, filter);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    // Files the program writes replace an existing one without asking.
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    if (!defaultSuffix.isEmpty())
        dialog.setDefaultSuffix(defaultSuffix);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().front();
}

QString QtPrompter::chooseFolder(QWidget* parent, const QString& caption, const QString& dir) {
    return QFileDialog::getExistingDirectory(parent, captionOr(caption), dir);
}

// ---- ScriptedPrompter ---------------------------------------------------

ScriptedPrompter::ScriptedPrompter(bool install) : installed_(install) {
    if (installed_) {
        previous_ = g_current;
        Prompter::setCurrent(this);
    }
}

ScriptedPrompter::~ScriptedPrompter() {
    if (installed_ && g_current == this)
        Prompter::setCurrent(previous_);
}

QStringList ScriptedPrompter::texts(Kind kind) const {
    QStringList out;
    for (const Call& c : calls)
        if (c.kind == kind)
            out << c.text;
    return out;
}

void ScriptedPrompter::fail(const QString& what) {
    failures.push_back(what);
    throw UnexpectedPrompt(what.toStdString());
}

void ScriptedPrompter::information(QWidget*, const QString& text, const QString& caption) {
    calls.push_back({Kind::Information, caption, text, Buttons::Ok, {}, {}});
}

void ScriptedPrompter::error(QWidget*, const QString& text, const QString& caption) {
    calls.push_back({Kind::Error, caption, text, Buttons::Ok, {}, {}});
}

void ScriptedPrompter::warning(QWidget*, const QString& text, const QString& caption) {
    calls.push_back({Kind::Warning, caption, text, Buttons::Ok, {}, {}});
}

Answer ScriptedPrompter::confirm(QWidget*, const QString& text, Buttons buttons,
                                 const QString& caption) {
    calls.push_back({Kind::Confirm, caption, text, buttons, {}, {}});
    if (answers.empty())
        fail(QStringLiteral("pergunta não prevista: ") + text);
    const Answer a = answers.front();
    answers.pop_front();
    if (!answerFits(a, buttons))
        fail(
            QStringLiteral("resposta prevista não cabe nos botões %1: ").arg(buttonsName(buttons)) +
            text);
    return a;
}

QString ScriptedPrompter::nextPath(const Call& call) {
    calls.push_back(call);
    if (paths.empty())
        fail(QStringLiteral("diálogo de arquivo não previsto: ") + call.caption);
    QString p = paths.front();
    paths.pop_front();
    return p;
}

QString ScriptedPrompter::openFile(QWidget*, const QString& caption, const QString& dir,
                                   const QString& filter) {
    return nextPath({Kind::OpenFile, caption, filter, Buttons::Ok, dir, {}});
}

QString ScriptedPrompter::saveFile(QWidget*, const QString& caption, const QString& dir,
                                   const QString& filter, const QString& defaultSuffix) {
    QString p = nextPath({Kind::SaveFile, caption, filter, Buttons::Ok, dir, defaultSuffix});
    // Do what the real dialog does with a name typed without an extension.
    if (!p.isEmpty() && !defaultSuffix.isEmpty() && QFileInfo(p).suffix().isEmpty())
        p += QLatin1Char('.') + defaultSuffix;
    return p;
}

QString ScriptedPrompter::chooseFolder(QWidget*, const QString& caption, const QString& dir) {
    return nextPath({Kind::ChooseFolder, caption, {}, Buttons::Ok, dir, {}});
}

} // namespace keldo::ui
