#include "app/SingleInstance.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QThread>

namespace quillary {
namespace {

// A request is one short word; anything longer is not from Quillary.
constexpr qint64 kLongestRequest = 256;

} // namespace

SingleInstance::SingleInstance(const QString& directory, QObject* parent)
    : QObject(parent)
    , m_directory(directory)
    , m_lock(QDir(directory).filePath(QStringLiteral("Quillary.lock")))
{
    // The lock is held for the whole session: only a dead owner makes it stale, never its age.
    m_lock.setStaleLockTime(0);
}

SingleInstance::~SingleInstance()
{
    m_server.close();
}

QString SingleInstance::defaultDirectory()
{
    const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (!runtime.isEmpty())
        return runtime;
    return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation))
        .filePath(QStringLiteral("Quillary"));
}

QString SingleInstance::lockPath() const
{
    return m_lock.fileName();
}

QString SingleInstance::socketPath() const
{
    return QDir(m_directory).filePath(QStringLiteral("Quillary.socket"));
}

SingleInstance::Claim SingleInstance::claim(QString* problem)
{
    QDir().mkpath(m_directory);
    if (m_lock.tryLock(0))
        return Claim::first;
    if (m_lock.error() == QLockFile::LockFailedError)
        return Claim::alreadyRunning;
    *problem =
        QStringLiteral("⚠️ Quillary: Cannot create the lock file %1; starting without checking for "
                       "another running Quillary")
            .arg(lockPath());
    return Claim::first;
}

bool SingleInstance::listen(std::function<QString(const QString&)> handler, QString* problem)
{
    m_answer = std::move(handler);
    // Whatever socket is there was left by an instance that is gone: the lock is ours.
    QLocalServer::removeServer(socketPath());
    m_server.setSocketOptions(QLocalServer::UserAccessOption);
    connect(&m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = m_server.nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] { answer(socket); });
        }
    });
    if (m_server.listen(socketPath()))
        return true;
    *problem =
        QStringLiteral("⚠️ Quillary: Cannot listen on %1 (%2); a second launch will not reach this one")
            .arg(socketPath(), m_server.errorString());
    return false;
}

void SingleInstance::answer(QLocalSocket* socket)
{
    if (!socket->canReadLine()) {
        if (socket->bytesAvailable() > kLongestRequest)
            socket->abort();
        return;
    }
    const QString request = QString::fromUtf8(socket->readLine(kLongestRequest)).trimmed();
    socket->write(m_answer(request).toUtf8() + '\n');
    // Written now: the request may end the event loop before it would write.
    socket->flush();
    socket->disconnectFromServer();
}

std::optional<QString> SingleInstance::send(const QString& request, int msecs)
{
    const QDeadlineTimer deadline(msecs);
    QLocalSocket socket;
    for (;;) {
        socket.connectToServer(socketPath());
        if (socket.waitForConnected(static_cast<int>(deadline.remainingTime())))
            break;
        if (deadline.hasExpired())
            return std::nullopt;
        QThread::msleep(50);
    }
    socket.write(request.toUtf8() + '\n');
    socket.flush();
    while (!socket.canReadLine()) {
        if (!socket.waitForReadyRead(static_cast<int>(deadline.remainingTime())))
            return std::nullopt;
    }
    return QString::fromUtf8(socket.readLine()).trimmed();
}

} // namespace quillary
