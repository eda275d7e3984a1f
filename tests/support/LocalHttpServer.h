#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QTcpServer>
#include <QUrl>

/// A small HTTP/1.0 server on a local port, over TLS when given a certificate. Each path answers
/// with a scripted response; a response can stall or hang up partway through its body.
class LocalHttpServer : public QTcpServer {
    Q_OBJECT
public:
    struct Response {
        int status = 200;
        QByteArray contentType = "application/octet-stream";
        QByteArray body;
        QByteArray location;        ///< a Location header (for redirects)
        qint64 declaredLength = -1; ///< Content-Length to state; -1: the body's size, -2: none
        qint64 stallAfter = -1;     ///< stop sending (keeping the connection) after this many bytes
        qint64 closeAfter = -1;     ///< hang up after this many body bytes
        QByteArray headers;         ///< further header lines, each ending in "\r\n"
    };

    /// Listens on 127.0.0.1; with \a certificate and \a key (PEM), speaks TLS.
    explicit LocalHttpServer(QByteArray certificate = {}, QByteArray key = {}, QObject *parent = nullptr);

    void route(const QString &path, Response response) { m_routes.insert(path, std::move(response)); }
    /// http(s)://127.0.0.1:PORT + \a path.
    [[nodiscard]] QUrl url(const QString &path) const;

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    void answer(QTcpSocket *socket, const QByteArray &request);

    QByteArray m_certificate;
    QByteArray m_key;
    QHash<QString, Response> m_routes;
};

/// A self-signed certificate and key for 127.0.0.1 made by openssl; empty when that fails.
struct TestCertificate {
    QByteArray certificate;
    QByteArray key;
    static TestCertificate make();
};
