#include "support/PulseTestServer.h"

#include "platform/PulseSoundServer.h"
#include "support/AudioFixtures.h"
#include "support/SignalAnalysis.h"

#include <QTest>

#include <algorithm>
#include <atomic>

bool PrivateDaemon::start(bool withSink)
{
    auto environment = QProcessEnvironment::systemEnvironment();
    for (const auto *variable : {"XDG_RUNTIME_DIR", "HOME", "XDG_CONFIG_HOME"})
        environment.insert(variable, m_dir.path());
    m_process.setProcessEnvironment(environment);
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.setStandardOutputFile(QProcess::nullDevice());
    QStringList arguments{"--daemonize=no",
                          "--exit-idle-time=-1",
                          "--disallow-exit",
                          "--use-pid-file=no",
                          "-n",
                          "--realtime=no",
                          "--high-priority=no",
                          "--log-target=stderr",
                          "--log-level=error",
                          "--load=module-native-protocol-unix auth-anonymous=1 socket=" + server().mid(5)};
    if (withSink)
        arguments << "--load=module-null-sink sink_name=out rate=48000";
    m_process.start(QStringLiteral("pulseaudio"), arguments);
    return m_process.waitForStarted() && QTest::qWaitFor([this] { return serverAnswers(server()); }, 10000);
}

void PrivateDaemon::kill()
{
    m_process.kill();
    m_process.waitForFinished();
}

qint64 playTone(QObject *owner, const QString &folder, const QString &sink, double frequency, double level,
                double seconds, const QStringList &extraArguments)
{
    const auto tone = AudioFixtures::tone(QStringLiteral("%1/tone-%2.wav").arg(folder).arg(owner->children().size()),
                                          seconds, frequency, level);
    return playFile(owner, tone, sink, extraArguments);
}

qint64 playFile(QObject *owner, const QString &path, const QString &sink, const QStringList &extraArguments)
{
    auto *player = new QProcess(owner); // ~QProcess kills it
    player->start(QStringLiteral("paplay"), extraArguments + QStringList{"--device=" + sink, path});
    return player->waitForStarted() ? player->processId() : 0;
}

int runningTonePlayers()
{
    const auto streams = PulseSoundServer().playbackStreams();
    return int(std::count_if(streams.begin(), streams.end(), [](const auto &stream) {
        return !stream.corked && stream.appName == QStringLiteral("paplay");
    }));
}

bool warmUp(SoundServer::CaptureDevice device)
{
    std::atomic<bool> delivered = false;
    PulseSoundServer server;
    const auto source = server.openCapture(device, 48000, 2, {[&](CaptureBuffer &&) { delivered = true; }, [] {}});
    return QTest::qWaitFor([&] { return delivered.load(); }, 5000);
}
