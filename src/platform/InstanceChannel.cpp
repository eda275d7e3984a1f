#include "platform/InstanceChannel.h"

#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>
#include <QStandardPaths>

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
} // namespace

InstanceChannel::InstanceChannel(QString path, QObject *parent) : QObject(parent), m_path(std::move(path))
{
    if (m_path.isEmpty()) {
        auto folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
        if (folder.isEmpty())
            folder = QDir::tempPath();
        m_path = folder + QStringLiteral("/vespertone.socket");
    }
}

InstanceChannel::~InstanceChannel() = default;

bool InstanceChannel::send(Request request, int timeoutMs) const
{
    QLocalSocket socket;
    socket.connectToServer(m_path);
    if (!socket.waitForConnected(timeoutMs))
        return false;
    socket.write(word(request));
    if (!socket.waitForBytesWritten(timeoutMs))
        return false;
    // The running instance closes the connection once it has read the request.
    socket.waitForDisconnected(timeoutMs);
    return true;
}

bool InstanceChannel::listen()
{
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server->listen(m_path)) {
        // A socket left by a process that ended; nothing answers on it (send() failed before).
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
