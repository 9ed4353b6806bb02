#pragma once

// Every message box, question, file dialog and folder choice of the program goes
// through the current Prompter, so that windows can be driven by tests without a
// human at the keyboard. No window calls QMessageBox or QFileDialog itself.
//
//   ui::Prompter::current().error(this, "Arquivo não encontrado.");
//   if (ui::Prompter::current().confirm(this, text, ui::Buttons::YesNo) == ui::Answer::Yes) ...

#include <QString>
#include <QStringList>

#include <deque>
#include <stdexcept>
#include <vector>

class QWidget;

namespace keldo::ui {

enum class Buttons { Ok, YesNo, OkCancel, OkAbort };
enum class Answer { Ok, Cancel, Yes, No, Abort };

class Prompter {
public:
    virtual ~Prompter();

    virtual void information(QWidget* parent, const QString& text, const QString& caption = {}) = 0;
    virtual void error(QWidget* parent, const QString& text, const QString& caption = {}) = 0;
    virtual void warning(QWidget* parent, const QString& text, const QString& caption = {}) = 0;
    virtual Answer confirm(QWidget* parent, const QString& text, Buttons buttons,
                           const QString& caption = {}) = 0;
    // Empty result = cancelled. Filters in Qt form ("Texto (*.txt);;Todos (*.*)").
    virtual QString openFile(QWidget* parent, const QString& caption, const QString& dir,
                             const QString& filter) = 0;
    // defaultSuffix (without the dot) is appended when the chosen name has none.
    virtual QString saveFile(QWidget* parent, const QString& caption, const QString& dir,
                             const QString& filter, const QString& defaultSuffix = {}) = 0;
    virtual QString chooseFolder(QWidget* parent, const QString& caption, const QString& dir) = 0;

    // The QtPrompter unless a test set another.
    static Prompter& current();
    // nullptr restores the QtPrompter. The caller keeps ownership of p.
    static void setCurrent(Prompter* p);
};

// A file filter written the Windows way ("Arquivos texto (*.TXT)|*.txt|Todos os
// arquivos|*.*": description and patterns alternating) in the form the Prompter
// takes. The descriptions are kept as they read; each pattern also matches the
// other letter case of its extension, since Linux names are case-sensitive
// where Windows ones were not, and "*.*" (every file on Windows, also those
// without a dot) becomes "*".
QString dialogFilter(const QString& windowsFilter);

// The real dialogs, with Portuguese button texts. An empty caption shows the
// application's name, as the message boxes of the program always did.
class QtPrompter final : public Prompter {
public:
    void information(QWidget* parent, const QString& text, const QString& caption = {}) override;
    void error(QWidget* parent, const QString& text, const QString& caption = {}) override;
    void warning(QWidget* parent, const QString& text, const QString& caption = {}) override;
    Answer confirm(QWidget* parent, const QString& text, Buttons buttons,
                   const QString& caption = {}) override;
    QString openFile(QWidget* parent, const QString& caption, const QString& dir,
                     const QString& filter) override;
    QString saveFile(QWidget* parent, const QString& caption, const QString& dir,
                     const QString& filter, const QString& defaultSuffix = {}) override;
    QString chooseFolder(QWidget* parent, const QString& caption, const QString& dir) override;
};

// Thrown by ScriptedPrompter when a window asks something the test did not script.
class UnexpectedPrompt : public std::logic_error {
public:
    using std::logic_error::logic_error;
};

// The test prompter: answers from queues and records every call.
//
//   ScriptedPrompter p;           // installs itself as current, restores on destruction
//   p.answers.push_back(Answer::No);
//   ...                           // drive the window
//   ASSERT_EQ(p.calls.size(), 1u);
//   EXPECT_EQ(p.calls[0].text, "Tem certeza que deseja apagar registro atual?");
//
// A confirm or file dialog with its queue empty is recorded, counted in
// `failures` and throws UnexpectedPrompt, so the test sees it either way (Qt
// may swallow an exception thrown inside a slot, the counter survives that).
class ScriptedPrompter final : public Prompter {
public:
    enum class Kind { Information, Error, Warning, Confirm, OpenFile, SaveFile, ChooseFolder };
    struct Call {
        Kind kind;
        QString caption;
        QString text; // the message; for file dialogs the filter
        Buttons buttons = Buttons::Ok;
        QString dir; // file dialogs only
        QString defaultSuffix;
    };

    // install = true makes this the current prompter until it is destroyed.
    explicit ScriptedPrompter(bool install = true);
    ~ScriptedPrompter() override;
    ScriptedPrompter(const ScriptedPrompter&) = delete;
    ScriptedPrompter& operator=(const ScriptedPrompter&) = delete;

    std::deque<Answer> answers; // for confirm
    std::deque<QString> paths;  // for openFile, saveFile, chooseFolder ("" = cancelled)
    std::vector<Call> calls;
    std::vector<QString> failures;

    // Texts of the recorded calls of one kind, in order.
    QStringList texts(Kind kind) const;

    void information(QWidget* parent, const QString& text, const QString& caption = {}) override;
    void error(QWidget* parent, const QString& text, const QString& caption = {}) override;
    void warning(QWidget* parent, const QString& text, const QString& caption = {}) override;
    Answer confirm(QWidget* parent, const QString& text, Buttons buttons,
                   const QString& caption = {}) override;
    QString openFile(QWidget* parent, const QString& caption, const QString& dir,
                     const QString& filter) override;
    QString saveFile(QWidget* parent, const QString& caption, const QString& dir,
                     const QString& filter, const QString& defaultSuffix = {}) override;
    QString chooseFolder(QWidget* parent, const QString& caption, const QString& dir) override;

private:
    QString nextPath(const Call& call);
    [[noreturn]] void fail(const QString& what);
    bool installed_;
    Prompter* previous_ = nullptr;
};

} // namespace keldo::ui
