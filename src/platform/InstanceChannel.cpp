#include "platform/InstanceChannel.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>

#include <optional>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
constexpr int maxRequestLength = 64;

QByteArray word(InstanceChannel::Request request)
{
    switch (request) {
    case InstanceChannel::Request::show: return "show\n";
    case InstanceChannel::Request::toggleRecording: return "toggle-recording\n";
    case InstanceChannel::Request::showLibrary: return "show-library\n";
    }
    return "show\n";
}

/// The status of \a path itself, a symbolic link not followed.
std::optional<struct stat> linkStatus(const QString &path)
{
    struct stat status {};
    if (path.isEmpty() || ::lstat(QFile::encodeName(path).constData(), &status) != 0)
        return std::nullopt;
    return status;
}

/// The user at the other end of a connected local socket.
std::optional<uid_t> peerUser(qintptr descriptor)
{
    struct ucred credentials {};
    socklen_t length = sizeof credentials;
    if (descriptor < 0 || ::getsockopt(int(descriptor), SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0)
        return std::nullopt;
    return credentials.uid;
}

/// A private folder in the shared temporary folder, for a session without a runtime folder:
/// made with mode 0700, and used only when it then is ours alone (not somebody's planted one).
QString fallbackFolder()
{
    const auto folder = QDir::tempPath() + QStringLiteral("/vespertone-") + QString::number(::geteuid());
    ::mkdir(QFile::encodeName(folder).constData(), 0700);
    return InstanceChannel::isPrivateFolder(folder) ? folder : QString();
}
} // namespace

InstanceChannel::InstanceChannel(QString path, QObject *parent) : QObject(parent), m_path(std::move(path))
{
    if (!m_path.isEmpty())
        return;
    auto folder = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (folder.isEmpty() || !isPrivateFolder(folder))
        folder = fallbackFolder();
    if (!folder.isEmpty())
        m_path = folder + QStringLiteral("/vespertone.socket");
}

InstanceChannel::~InstanceChannel() = default;

bool InstanceChannel::isPrivateFolder(const QString &folder)
{
    const auto status = linkStatus(folder);
    return status && S_ISDIR(status->st_mode) && status->st_uid == ::geteuid() && (status->st_mode & 077) == 0;
}

bool InstanceChannel::isUsable() const
{
    return isPrivateFolder(QFileInfo(m_path).path());
}

bool InstanceChannel::send(Request request, int timeoutMs) const
{
    // Only a socket of this user, in a folder nobody else can enter, served by this user.
    const auto status = linkStatus(m_path);
    if (!isUsable() || !status || !S_ISSOCK(status->st_mode) || status->st_uid != ::geteuid())
        return false;
    QLocalSocket socket;
    socket.connectToServer(m_path);
    if (!socket.waitForConnected(timeoutMs))
        return false;
    if (peerUser(socket.socketDescriptor()) != ::geteuid()) {
        socket.abort();
        return false;
    }
    socket.write(word(request));
    if (!socket.waitForBytesWritten(timeoutMs))
        return false;
    // The running instance closes the connection once it has read the request.
    socket.waitForDisconnected(timeoutMs);
    return true;
}

bool InstanceChannel::listen()
{
    if (!isUsable())
        return false;
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server->listen(m_path)) {
        // A socket left by a process that ended; nothing answers on it (send() failed before).
        const auto status = linkStatus(m_path);
        if (!status || !S_ISSOCK(status->st_mode) || status->st_uid != ::geteuid())
            return false;
        QLocalServer::removeServer(m_path);
        if (!m_server->listen(m_path))
            return false;
    }
    connect(m_server, &QLocalServer::newConnection, this, &InstanceChannel::accept);
    return true;
}

InstanceChannel::Request InstanceChannel::requestFor(const QStringList &arguments)
{
    if (arguments.contains(QLatin1String("--toggle-recording")))
        return Request::toggleRecording;
    if (arguments.contains(QLatin1String("--show-library")))
        return Request::showLibrary;
    return Request::show;
}

void InstanceChannel::accept()
{
    while (auto *socket = m_server->nextPendingConnection()) {
        // Another user's process never asks anything of this one.
        if (peerUser(socket->socketDescriptor()) != ::geteuid()) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            if (!socket->canReadLine()) {
                if (socket->bytesAvailable() > maxRequestLength)
                    socket->disconnectFromServer();
                return;
            }
            const auto line = socket->readLine(maxRequestLength).trimmed();
            socket->disconnectFromServer();
            if (line == "toggle-recording")
                emit requested(Request::toggleRecording);
            else if (line == "show-library")
                emit requested(Request::showLibrary);
            else if (line == "show")
                emit requested(Request::show);
        });
    }
}
