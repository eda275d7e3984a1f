#pragma once

#include <QObject>
#include <QString>

class QLocalServer;

/// Keeps the program to one process per user: the first one listens on a local socket, and a
/// later launch hands its request to it instead of starting a second recorder. The socket lives
/// in a folder only this user can enter, and both ends check that the other is this user.
class InstanceChannel : public QObject {
    Q_OBJECT
public:
    /// What a later launch asks of the running instance.
    enum class Request { show, toggleRecording, showLibrary };

    /// The socket at \a path; empty means "vespertone.socket" in the user's runtime folder, else in
    /// a private folder of the temporary folder (none when neither is private to this user).
    explicit InstanceChannel(QString path = {}, QObject *parent = nullptr);
    ~InstanceChannel() override;

    /// Hands \a request to a running instance; false when none answers within \a timeoutMs.
    [[nodiscard]] bool send(Request request, int timeoutMs = 2000) const;
    /// Starts listening, replacing a socket that no process serves; false when that fails.
    bool listen();
    [[nodiscard]] const QString &path() const { return m_path; }
    /// True when the socket's folder is private to this user, so the channel may be used.
    [[nodiscard]] bool isUsable() const;
    /// True for a directory (not a symbolic link) owned by this user that nobody else may enter.
    [[nodiscard]] static bool isPrivateFolder(const QString &folder);
    /// The request named by a command-line option ("--toggle-recording", "--show-library"), else show.
    [[nodiscard]] static Request requestFor(const QStringList &arguments);

signals:
    /// A later launch asked for \a request.
    void requested(InstanceChannel::Request request);

private:
    void accept();

    QString m_path;
    QLocalServer *m_server = nullptr;
};
