#pragma once

#include "platform/SoundServer.h"

#include <QProcess>
#include <QTemporaryDir>

/// A PulseAudio daemon of a test's own, on its own socket, that the test may kill.
class PrivateDaemon {
public:
    ~PrivateDaemon() { kill(); }
    /// Starts the daemon, with one null sink (its default) when \a withSink, and waits until it
    /// answers.
    bool start(bool withSink);
    [[nodiscard]] QByteArray server() const { return "unix:" + m_dir.filePath(QStringLiteral("native")).toUtf8(); }
    void kill();

private:
    QTemporaryDir m_dir;
    QProcess m_process;
};

/// Plays \a seconds of \a frequency Hz at \a level into \a sink ("@DEFAULT_SINK@", "mic_feed")
/// of the default server with paplay and \a extraArguments, until \a owner goes; the tone file
/// is made in \a folder. Returns the player's process id, 0 when it did not start.
qint64 playTone(QObject *owner, const QString &folder, const QString &sink, double frequency, double level,
                double seconds = 90, const QStringList &extraArguments = {});

/// Plays the audio file \a path into \a sink of the default server with paplay until \a owner
/// goes. Returns the player's process id, 0 when it did not start.
qint64 playFile(QObject *owner, const QString &path, const QString &sink, const QStringList &extraArguments = {});

/// paplay streams now running (not corked) on the default server.
int runningTonePlayers();

/// Waits for the first buffer of \a device: once one flowed, the server's null sinks run in
/// small blocks and later takes start at once.
bool warmUp(SoundServer::CaptureDevice device);
