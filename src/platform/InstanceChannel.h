#pragma once

#include <QObject>
#include <QString>

class QLocalServer;

/// Keeps the program to one process per user: the first one listens on a local socket, and a
/// later launch hands its request to it instead of starting a second recorder.
class InstanceChannel : public QObject {
    Q_OBJECT
public:
    /// What a later launch asks of the running instance.
    enum class Request { show, toggleRecording, showLibrary };

    /// The socket at \a path; empty means "vespertone.socket" in the user's runtime folder.
    explicit InstanceChannel(QString path = {}, QObject *parent = nullptr);
    ~InstanceChannel() override;

    /// Hands \a request to a running instance; false when none answers within \a timeoutMs.
    [[nodiscard]] bool send(Request request, int timeoutMs = 2000) const;
    /// Starts listening, replacing a socket that no process serves; false when that fails.
    bool listen();
    [[nodiscard]] const QString &path() const { return m_path; }
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
