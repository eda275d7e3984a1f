#include "support/PulseTestServer.h"

#include "platform/PulseSoundServer.h"
#include "support/AudioFixtures.h"
#include "support/SignalAnalysis.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QThread>

#include <algorithm>
#include <atomic>

bool PrivateDaemon::start(const QStringList &lines)
{
    const auto runtime = m_dir.filePath(QStringLiteral("runtime"));
    QDir().mkpath(runtime);
    QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QFile config(m_dir.filePath(QStringLiteral("default.pa")));
    if (!config.open(QIODevice::WriteOnly))
        return false;
    config.write("load-module module-native-protocol-unix auth-anonymous=1 socket=" + server().mid(5) + "\n");
    config.write(lines.join(u'\n').toUtf8() + "\n");
    config.close();
    auto environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
    environment.insert(QStringLiteral("HOME"), m_dir.path());
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), m_dir.filePath(QStringLiteral("config")));
    m_process.setProcessEnvironment(environment);
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.setStandardOutputFile(QProcess::nullDevice());
    m_process.start(QStringLiteral("pulseaudio"),
                    {"--daemonize=no", "--exit-idle-time=-1", "--disallow-exit", "--use-pid-file=no", "-n",
                     "--realtime=no", "--high-priority=no", "--log-target=stderr", "--log-level=error", "-F",
                     config.fileName()});
    if (!m_process.waitForStarted())
        return false;
    for (QDeadlineTimer deadline(10000); !deadline.hasExpired(); QThread::msleep(50)) {
        if (serverAnswers(server()))
            return true;
    }
    return false;
}

void PrivateDaemon::kill()
{
    m_process.kill();
    m_process.waitForFinished();
}

TonePlayers::~TonePlayers()
{
    stop();
}

bool TonePlayers::play(const QString &folder, const QString &sink, double frequency, double level, double seconds,
                       const QStringList &extraArguments)
{
    const auto name = QStringLiteral("%1/tone-%2.wav").arg(folder).arg(m_players.size());
    const auto tone = AudioFixtures::tone(name, seconds, frequency, level);
    auto player = std::make_unique<QProcess>();
    player->start(QStringLiteral("paplay"), extraArguments + QStringList{QStringLiteral("--device=") + sink, tone});
    m_players.push_back(std::move(player));
    return m_players.back()->waitForStarted();
}

void TonePlayers::stop()
{
    for (auto &player : m_players) {
        player->kill();
        player->waitForFinished();
    }
    m_players.clear();
}

bool warmUp(SoundServer::CaptureDevice device)
{
    std::atomic<bool> delivered = false;
    PulseSoundServer server;
    const auto source = server.openCapture(device, 48000, 2, {[&](CaptureBuffer &&) { delivered = true; }, [] {}});
    for (QDeadlineTimer deadline(5000); !delivered && !deadline.hasExpired();)
        QThread::msleep(10);
    return delivered;
}

int runningTonePlayers()
{
    const auto streams = PulseSoundServer().playbackStreams();
    return int(std::count_if(streams.begin(), streams.end(), [](const auto &stream) {
        return !stream.corked && stream.appName == QStringLiteral("paplay");
    }));
}
