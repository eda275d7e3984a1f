#pragma once

#include "platform/SoundServer.h"

#include <QByteArray>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>
#include <vector>

/// A PulseAudio daemon of a test's own, on its own socket, that the test may kill.
class PrivateDaemon {
public:
    ~PrivateDaemon() { kill(); }
    /// Starts the daemon with these default.pa lines (the socket module is added) and waits
    /// until it answers.
    bool start(const QStringList &lines);
    [[nodiscard]] QByteArray server() const { return "unix:" + m_dir.filePath(QStringLiteral("native")).toUtf8(); }
    void kill();

private:
    QTemporaryDir m_dir;
    QProcess m_process;
};

/// Tone players on the sound server of scripts/with-test-services.sh, stopped on destruction.
class TonePlayers {
public:
    ~TonePlayers();
    /// Plays \a seconds of \a frequency Hz at \a level into \a sink ("@DEFAULT_SINK@",
    /// "mic_feed"), with \a extraArguments for paplay; a tone file is made in \a folder.
    bool play(const QString &folder, const QString &sink, double frequency, double level, double seconds = 90,
              const QStringList &extraArguments = {});
    /// Stops every player.
    void stop();
    [[nodiscard]] QProcess &last() { return *m_players.back(); }

private:
    std::vector<std::unique_ptr<QProcess>> m_players;
};

/// paplay streams now running (not corked) on the default server.
int runningTonePlayers();

/// Waits for the first buffer of \a device: once one flowed, the server's null sinks run in
/// small blocks and later takes start at once.
bool warmUp(SoundServer::CaptureDevice device);
