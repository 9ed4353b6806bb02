#include "single_instance.h"

#include "platform/paths.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QThread>
#include <unistd.h>

namespace keldo::app {
namespace {

constexpr char kRequest[] = "raise\n";
constexpr char kAnswer[] = "ok\n";

QString runtimeFolder() {
    QString dir;
    if (!qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR"))
        dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (dir.isEmpty() || !QFileInfo(dir).isWritable())
        dir = QDir::tempPath();
    return dir;
}

} // namespace

QString applicationTitle(const QString& programFile) {
    const QString base = QFileInfo(programFile).completeBaseName();
    if (base.isEmpty())
        return base;
    return base.left(1) + base.mid(1).toLower();
}

SingleInstance::SingleInstance(const QString& title, QObject* parent) : QObject(parent) {
    const QByteArray root = QByteArray::fromStdString(platform::keldoRoot().string());
    const QString installation = QString::fromLatin1(
        QCryptographicHash::hash(root, QCryptographicHash::Sha1).toHex().left(12));
    const QString key =
        QStringLiteral("%1-%2-%3").arg(title, QString::number(getuid()), installation);
    const QString folder = runtimeFolder();
    serverName_ = folder + QLatin1Char('/') + key + QStringLiteral(".sock");

    lock_ = std::make_unique<QLockFile>(folder + QLatin1Char('/') + key + QStringLiteral(".lock"));
    if (!lock_->tryLock(0)) {
        second_ = true;
        return;
    }
    server_ = std::make_unique<QLocalServer>();
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    QLocalServer::removeServer(serverName_); // left by a copy that died
    connect(server_.get(), &QLocalServer::newConnection, this, &SingleInstance::onConnection);
    server_->listen(serverName_);
}

SingleInstance::~SingleInstance() {
    if (server_)
        server_->close();
    if (lock_ && !second_)
        lock_->unlock();
}

void SingleInstance::onConnection() {
    while (QLocalSocket* s = server_->nextPendingConnection()) {
        connect(s, &QLocalSocket::disconnected, s, &QObject::deleteLater);
        connect(s, &QLocalSocket::readyRead, this, [this, s] {
            if (!s->canReadLine()) {
                // Anything longer than the request is not a copy of ours.
                if (s->bytesAvailable() > qint64(sizeof kRequest))
                    s->disconnectFromServer();
                return;
            }
            const QByteArray line = s->readLine();
            if (line == kRequest) {
                s->write(kAnswer);
                s->flush();
                emit activationRequested();
            }
            s->disconnectFromServer();
        });
    }
}

bool SingleInstance::activateFirstCopy(int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        QLocalSocket s;
        s.connectToServer(serverName_);
        if (s.waitForConnected(int(std::max<qint64>(1, deadline.remainingTime())))) {
            s.write(kRequest);
            if (!s.waitForBytesWritten(int(std::max<qint64>(1, deadline.remainingTime()))))
                return false;
            while (!s.canReadLine())
                if (!s.waitForReadyRead(int(std::max<qint64>(1, deadline.remainingTime()))))
                    return false;
            return s.readLine() == kAnswer;
        }
        // The first copy holds the lock but may not listen yet.
        QThread::msleep(50);
    }
    return false;
}

} // namespace keldo::app
