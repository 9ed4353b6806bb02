// The single-instance rule: one running copy per user and installation.
//
// The first copy holds a lock file and listens on a local socket; a later
// copy finds the lock taken, asks the first copy through the socket to bring
// its main window forward, and ends. The names come from the application's
// title at start (the program file's name), the user and the
// installation root, so copies of other users or other KELDO_ROOTs do not
// meet. A lock left by a copy that died is taken over.
//
//   SingleInstance justOne(applicationTitle(argv[0]));
//   if (justOne.isSecondCopy()) { justOne.activateFirstCopy(); return 0; }
//   connect(&justOne, &SingleInstance::activationRequested, ...);
#pragma once

#include <QLocalServer>
#include <QLockFile>
#include <QObject>
#include <memory>

namespace keldo::app {

// The program file's name without folder and extension, every letter after
// the first in lower case: "KELDO.EXE" gives "Keldo", "/usr/bin/keldo" "keldo".
QString applicationTitle(const QString& programFile);

class SingleInstance : public QObject {
    Q_OBJECT
public:
    explicit SingleInstance(const QString& title, QObject* parent = nullptr);
    ~SingleInstance() override;

    bool isSecondCopy() const { return second_; }
    // From a second copy: asks the first copy to bring its window forward.
    // Waits up to timeoutMs for the first copy to answer (it may still be
    // starting); false when it did not.
    bool activateFirstCopy(int timeoutMs = 5000);
    // The local socket's name (a path), for diagnostics.
    QString serverName() const { return serverName_; }

signals:
    // In the first copy: another copy asked for the main window.
    void activationRequested();

private:
    void onConnection();

    QString serverName_;
    std::unique_ptr<QLockFile> lock_;
    std::unique_ptr<QLocalServer> server_;
    bool second_ = false;
};

} // namespace keldo::app
