#include "window/singleinstance.h"

#include <QDir>
#include <QLocalSocket>
#include <QLockFile>

#include <unistd.h>

namespace {

// A running keyboard answers at once; one that does not is stuck, and
// waiting longer would only hold up the start.
constexpr int kConnectMs = 500;
constexpr int kAnswerMs = 1000;
const QByteArray kAnswer = "ok\n";

QString runtimeFolder()
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    return runtime.isEmpty() || !QDir(runtime).exists() ? QDir::tempPath() : runtime;
}

}  // namespace

SingleInstance::SingleInstance(const QString& desktop, QObject* parent) : QObject(parent)
{
    QString tag = desktop;
    for (QChar& c : tag)
        if (!c.isLetterOrNumber())
            c = QLatin1Char('_');
    path_ = QStringLiteral("%1/sonarel-%2%3.socket").arg(runtimeFolder()).arg(getuid()).arg(tag.isEmpty() ? QString() : QLatin1Char('-') + tag);
    connect(&server_, &QLocalServer::newConnection, this, &SingleInstance::takeConnection);
}

SingleInstance::Outcome SingleInstance::start(const QString& song)
{
    // Two starts at the same moment take turns: the first listens, the
    // second finds it.
    QLockFile lock(path_ + QStringLiteral(".lock"));
    lock.tryLock(kConnectMs + kAnswerMs);

    QLocalSocket socket;
    socket.connectToServer(path_);
    if (socket.waitForConnected(kConnectMs)) {
        socket.write(song.toUtf8() + '\n');
        socket.flush();
        QByteArray answer;
        while (!answer.endsWith('\n') && socket.waitForReadyRead(kAnswerMs))
            answer += socket.readAll();
        return answer == kAnswer ? Outcome::HandedOver : Outcome::Alone;
    }
    // Nobody answers: a socket left by a keyboard that is gone.
    QLocalServer::removeServer(path_);
    server_.setSocketOptions(QLocalServer::UserAccessOption);
    return server_.listen(path_) ? Outcome::Listening : Outcome::Alone;
}

void SingleInstance::takeConnection()
{
    while (QLocalSocket* socket = server_.nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            if (!socket->canReadLine())
                return;
            const QString song = QString::fromUtf8(socket->readLine()).chopped(1);
            socket->write(kAnswer);
            socket->flush();
            socket->disconnectFromServer();
            emit songHanded(song);
        });
    }
}
