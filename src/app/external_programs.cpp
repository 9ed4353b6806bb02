#include "external_programs.h"

#include "platform/ini_file.h"
#include "platform/paths.h"

#include <QHash>
#include <QProcess>
#include <QStandardPaths>

namespace keldo::app {
namespace {

// Desktop programs that stand in for the Windows ones when platform.cfg
// names none.
QStringList desktopCandidates(const QString& name) {
    static const QHash<QString, QStringList> known = {
        {QStringLiteral("calc"),
         {QStringLiteral("gnome-calculator"), QStringLiteral("kcalc"), QStringLiteral("galculator"),
          QStringLiteral("mate-calc"), QStringLiteral("xcalc")}},
        {QStringLiteral("notepad"),
         {QStringLiteral("gnome-text-editor"), QStringLiteral("gedit"), QStringLiteral("mousepad"),
          QStringLiteral("kwrite"), QStringLiteral("kate"), QStringLiteral("pluma"),
          QStringLiteral("xed"), QStringLiteral("leafpad")}},
    };
    return known.value(name.toLower());
}

ProgramCommand resolve(const QString& command) {
    QStringList parts = QProcess::splitCommand(command);
    if (parts.isEmpty())
        return {};
    const QString exe = QStandardPaths::findExecutable(parts.takeFirst());
    if (exe.isEmpty())
        return {};
    return {exe, parts};
}

} // namespace

ProgramCommand findExternalProgram(const QString& name) {
    const platform::IniFile cfg((platform::keldoRoot() / "platform.cfg").string());
    const std::string mapped = cfg.readString("programs", name.toStdString(), "");
    if (!mapped.empty())
        return resolve(QString::fromStdString(mapped)); // configured: nothing else is tried
    QStringList tries{name, name.toLower()};
    tries += desktopCandidates(name);
    for (const QString& t : tries) {
        const QString exe = QStandardPaths::findExecutable(t);
        if (!exe.isEmpty())
            return {exe, {}};
    }
    return {};
}

bool startExternalProgram(const QString& name, QString* error) {
    const ProgramCommand cmd = findExternalProgram(name);
    if (cmd.program.isEmpty()) {
        if (error)
            *error =
                QStringLiteral("O programa \"%1\" não foi encontrado neste computador.\n"
                               "Indique-o na seção [programs] de %2.")
                    .arg(name,
                         QString::fromStdString((platform::keldoRoot() / "platform.cfg").string()));
        return false;
    }
    if (!QProcess::startDetached(cmd.program, cmd.arguments)) {
        if (error)
            *error = QStringLiteral("Não foi possível iniciar o programa \"%1\" (%2).")
                         .arg(name, cmd.program);
        return false;
    }
    return true;
}

} // namespace keldo::app
