#include "support/LocalHttpServer.h"

#include <QProcess>
#include <QSslKey>
#include <QSslSocket>
#include <QTemporaryDir>

LocalHttpServer::LocalHttpServer(QByteArray certificate, QByteArray key, QObject *parent)
    : QTcpServer(parent), m_certificate(std::move(certificate)), m_key(std::move(key))
{
    listen(QHostAddress::LocalHost);
}

QUrl LocalHttpServer::url(const QString &path) const
{
    return QUrl(QStringLiteral("%1://127.0.0.1:%2%3")
                    .arg(m_certificate.isEmpty() ? QStringLiteral("http") : QStringLiteral("https"))
                    .arg(serverPort())
                    .arg(path));
}

void LocalHttpServer::incomingConnection(qintptr descriptor)
{
    QTcpSocket *socket = nullptr;
    if (m_certificate.isEmpty()) {
        socket = new QTcpSocket(this);
        socket->setSocketDescriptor(descriptor);
    } else {
        auto *ssl = new QSslSocket(this);
        ssl->setSocketDescriptor(descriptor);
        ssl->setLocalCertificate(QSslCertificate(m_certificate));
        ssl->setPrivateKey(QSslKey(m_key, QSsl::Rsa));
        ssl->startServerEncryption();
        socket = ssl;
    }
    auto buffer = std::make_shared<QByteArray>();
    connect(socket, &QTcpSocket::readyRead, socket, [this, socket, buffer] {
        buffer->append(socket->readAll());
        if (buffer->contains("\r\n\r\n")) {
            socket->disconnect(this);
            answer(socket, *buffer);
        }
    });
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
}

void LocalHttpServer::answer(QTcpSocket *socket, const QByteArray &request)
{
    const auto path = QString::fromUtf8(request.split(' ').value(1));
    const auto found = m_routes.find(path.section(u'?', 0, 0));
    const Response response = found != m_routes.end() ? *found : Response{404, "text/plain", "not found"};
    QByteArray head = "HTTP/1.0 " + QByteArray::number(response.status) + " Scripted\r\n";
    head += "Content-Type: " + response.contentType + "\r\n";
    if (!response.location.isEmpty())
        head += "Location: " + response.location + "\r\n";
    if (response.declaredLength != -2)
        head += "Content-Length: "
            + QByteArray::number(response.declaredLength >= 0 ? response.declaredLength : response.body.size())
            + "\r\n";
    head += response.headers + "Connection: close\r\n\r\n";
    socket->write(head);
    auto body = response.body;
    if (response.stallAfter >= 0) {
        socket->write(body.left(response.stallAfter));
        return; // the connection stays open and silent
    }
    if (response.closeAfter >= 0) {
        socket->write(body.left(response.closeAfter));
        socket->flush();
        socket->abort();
        return;
    }
    socket->write(body);
    socket->disconnectFromHost();
}

TestCertificate TestCertificate::make()
{
    QTemporaryDir dir;
    QProcess openssl;
    openssl.start(QStringLiteral("openssl"),
                  {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj", "/CN=127.0.0.1", "-addext",
                   "subjectAltName=IP:127.0.0.1", "-keyout", dir.filePath("key.pem"), "-out",
                   dir.filePath("cert.pem")});
    if (!openssl.waitForFinished(30000) || openssl.exitCode() != 0)
        return {};
    QFile cert(dir.filePath("cert.pem")), key(dir.filePath("key.pem"));
    if (!cert.open(QIODevice::ReadOnly) || !key.open(QIODevice::ReadOnly))
        return {};
    return {cert.readAll(), key.readAll()};
}
