// Capture against a real PulseAudio daemon (started by scripts/with-test-services.sh): tones
// played into the default sink and into "mic_feed" (the default source's feed) are recorded in
// every format; killed recorders and vanishing daemons leave playable files.

#include "base/AppError.h"
#include "capture/AudioCaptureService.h"
#include "media/AudioFileReader.h"
#include "platform/PulseSoundServer.h"
#include "platform/SystemClock.h"
#include "support/AudioFixtures.h"
#include "support/SignalAnalysis.h"
#include "support/TaskRunner.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <qcoro/qcorotask.h>

#include <atomic>
#include <cmath>
#include <csignal>

namespace {

constexpr double speakerTone = 440;
constexpr double microphoneTone = 1000;
constexpr float toneLevel = 0.5f;

RecordingEncodingSettings settingsFor(RecordingOutputFormat format)
{
    return {format, AudioBitRate::kbps192, 48000, 2};
}

/// A PulseAudio daemon of a test's own, on its own socket, that the test may kill.
class PrivateDaemon {
public:
    /// Starts the daemon with the given default.pa lines (the socket module is added).
    bool start(const QStringList &lines)
    {
        const auto runtime = m_dir.filePath(QStringLiteral("runtime"));
        QDir().mkpath(runtime);
        QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QFile config(m_dir.filePath(QStringLiteral("default.pa")));
        if (!config.open(QIODevice::WriteOnly))
            return false;
        config.write(("load-module module-native-protocol-unix auth-anonymous=1 socket=" + socket() + "\n").toUtf8());
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
        return m_process.waitForStarted();
    }
    [[nodiscard]] QString socket() const { return m_dir.filePath(QStringLiteral("native")); }
    [[nodiscard]] QByteArray server() const { return "unix:" + socket().toUtf8(); }
    void kill()
    {
        m_process.kill();
        m_process.waitForFinished();
    }
    ~PrivateDaemon() { kill(); }

private:
    QTemporaryDir m_dir;
    QProcess m_process;
};

} // namespace

Q_DECLARE_METATYPE(RecordingOutputFormat)
Q_DECLARE_METATYPE(RecordingInputSource)

class TestCapturePulse : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    std::vector<std::unique_ptr<QProcess>> m_players;

    [[nodiscard]] QString folder() const { return m_dir.filePath(QStringLiteral("Library")); }

    /// Plays a tone file into \a sink for the rest of the suite.
    bool play(const QString &sink, double frequency)
    {
        const auto tone = AudioFixtures::tone(m_dir.filePath(sink + QStringLiteral(".wav")), 90, frequency, toneLevel);
        auto player = std::make_unique<QProcess>();
        player->start(QStringLiteral("paplay"), {QStringLiteral("--device=") + sink, tone});
        const bool started = player->waitForStarted();
        m_players.push_back(std::move(player));
        return started;
    }
    [[nodiscard]] int playingTones() const
    {
        const auto streams = PulseSoundServer().playbackStreams();
        return int(std::count_if(streams.begin(), streams.end(), [](const auto &stream) {
            return !stream.corked && stream.appName == QStringLiteral("paplay");
        }));
    }
    /// Waits for the first buffer of \a device: once one flowed, the server's null sinks run
    /// in small blocks and later takes start at once.
    static bool warmUp(SoundServer::CaptureDevice device)
    {
        std::atomic<bool> delivered = false;
        PulseSoundServer server;
        const auto source = server.openCapture(device, 48000, 2, {[&](CaptureBuffer &&) { delivered = true; }, [] {}});
        QElapsedTimer waited;
        waited.start();
        while (!delivered && waited.elapsed() < 5000)
            QThread::msleep(10);
        return delivered;
    }

    static void formats(std::initializer_list<RecordingOutputFormat> formats)
    {
        QTest::addColumn<RecordingOutputFormat>("format");
        for (const auto format : formats)
            QTest::newRow(qPrintable(RecordingOutputFormats::rawValue(format))) << format;
    }

private slots:
    void initTestCase()
    {
        if (!serverAnswers())
            QSKIP("No PulseAudio server answers (PULSE_SERVER, pactl info): run under scripts/with-test-services.sh");
        if (QStandardPaths::findExecutable(QStringLiteral("paplay")).isEmpty())
            QSKIP("paplay (pulseaudio-utils) is not installed");
        QVERIFY(play(QStringLiteral("@DEFAULT_SINK@"), speakerTone));
        QVERIFY(play(QStringLiteral("mic_feed"), microphoneTone));
        QTRY_COMPARE_WITH_TIMEOUT(playingTones(), 2, 10000);
        QVERIFY(warmUp(SoundServer::CaptureDevice::defaultSinkMonitor));
        QVERIFY(warmUp(SoundServer::CaptureDevice::defaultSource));
    }

    void cleanupTestCase()
    {
        for (auto &player : m_players) {
            player->kill();
            player->waitForFinished();
        }
    }

    void recordsEachFormatFromEachInput_data()
    {
        QTest::addColumn<RecordingOutputFormat>("format");
        QTest::addColumn<RecordingInputSource>("source");
        for (const auto source : RecordingInputSources::all) {
            for (const auto format : RecordingOutputFormats::all) {
                const auto name =
                    RecordingOutputFormats::rawValue(format) + u' ' + RecordingInputSources::rawValue(source);
                QTest::newRow(qPrintable(name)) << format << source;
            }
        }
    }
    void recordsEachFormatFromEachInput()
    {
        QFETCH(RecordingOutputFormat, format);
        QFETCH(RecordingInputSource, source);
        PulseSoundServer server;
        SystemClock clock;
        AudioCaptureService service(server, clock);

        const auto url = finish(service.startRecording(folder(), settingsFor(format), source));
        QElapsedTimer elapsed;
        elapsed.start();
        QVERIFY(service.state().is(CaptureState::Kind::recording));
        QVERIFY(captureBuffers(service, 50));
        QVERIFY(std::abs(service.livePeaks().back() - toneLevel) < 0.05f);
        QCOMPARE(finish(service.stopRecording()), url);
        const double seconds = double(elapsed.elapsed()) / 1000;

        QCOMPARE(QFileInfo(url).absolutePath(),
                 format == RecordingOutputFormat::mp3LAME ? folder() + QStringLiteral("/.vespertone/tmp") : folder());
        const auto signal = analyse(url);
        QCOMPARE(signal.sampleRate, 48000.0);
        QCOMPARE(signal.channels, 2);
        QCOMPARE(signal.decoded, signal.length);
        const double length = double(signal.length) / 48000;
        QVERIFY2(length > seconds - 0.25 && length < seconds + 0.1,
                 qPrintable(QStringLiteral("%1 s recorded in %2 s").arg(length).arg(seconds)));
        QVERIFY2(std::abs(signal.peak - toneLevel) < 0.05f, qPrintable(QString::number(signal.peak)));
        const double tone = source == RecordingInputSource::macAudio ? speakerTone : microphoneTone;
        QVERIFY2(std::abs(signal.frequency - tone) < tone * 0.01, qPrintable(QString::number(signal.frequency)));
        QCOMPARE(service.droppedBufferCount(), 0);
    }

    void killedRecorderLeavesAPlayableFile_data()
    {
        formats({RecordingOutputFormat::aacM4A, RecordingOutputFormat::wavPCM, RecordingOutputFormat::aiffPCM});
    }
    void killedRecorderLeavesAPlayableFile()
    {
        QFETCH(RecordingOutputFormat, format);
        const auto child = QCoreApplication::applicationDirPath() + QStringLiteral("/capture_child");
        QVERIFY2(QFileInfo(child).isExecutable(), qPrintable(child));
        const auto killed = folder() + QStringLiteral("/Killed");
        QProcess recorder;
        recorder.start(child, {killed, RecordingOutputFormats::rawValue(format), QStringLiteral("macAudio")});
        auto nextLine = [&recorder] {
            while (!recorder.canReadLine() && recorder.waitForReadyRead(10000)) {
            }
            return QString::fromUtf8(recorder.readLine()).trimmed();
        };
        const auto first = nextLine();
        QVERIFY2(first.startsWith(QStringLiteral("recording ")), qPrintable(first));
        const auto url = first.mid(10);
        QElapsedTimer elapsed;
        elapsed.start();
        while (!nextLine().startsWith(QStringLiteral("buffers 125"))) // about 2.5 s
            QVERIFY(recorder.state() == QProcess::Running);
        ::kill(pid_t(recorder.processId()), SIGKILL);
        const double seconds = double(elapsed.elapsed()) / 1000;
        recorder.waitForFinished();

        const auto signal = analyse(url, 0.1, 0.95);
        QCOMPARE(signal.decoded, signal.length);
        const double length = double(signal.length) / 48000;
        QVERIFY2(length > seconds - 1.3 && length < seconds + 0.1,
                 qPrintable(QStringLiteral("%1 s kept of %2 s").arg(length).arg(seconds)));
        QVERIFY2(std::abs(signal.peak - toneLevel) < 0.05f, qPrintable(QString::number(signal.peak)));
        QVERIFY2(std::abs(signal.frequency - speakerTone) < 4, qPrintable(QString::number(signal.frequency)));
    }

    void vanishingServerKeepsThePartialTake_data()
    {
        formats({RecordingOutputFormat::aacM4A, RecordingOutputFormat::wavPCM});
    }
    void vanishingServerKeepsThePartialTake()
    {
        QFETCH(RecordingOutputFormat, format);
        PrivateDaemon daemon;
        QVERIFY(daemon.start({QStringLiteral("load-module module-null-sink sink_name=out rate=48000"),
                              QStringLiteral("set-default-sink out")}));
        QTRY_VERIFY_WITH_TIMEOUT(serverAnswers(daemon.server()), 10000);
        PulseSoundServer server(daemon.server());
        SystemClock clock;
        AudioCaptureService service(server, clock);
        QSignalSpy interrupted(&service, &AudioCaptureService::recordingInterrupted);
        const auto url = finish(service.startRecording(folder() + QStringLiteral("/Vanishing"), settingsFor(format),
                                                       RecordingInputSource::macAudio));
        QVERIFY(captureBuffers(service, 50));
        daemon.kill();
        QVERIFY(interrupted.wait(10000));
        QCOMPARE(interrupted.first().first().toString(), url);
        QCOMPARE(service.state(),
                 CaptureState::failed(QStringLiteral("The audio source stopped during the recording.")));
        QVERIFY(!service.activeURL());
        const auto signal = analyse(url);
        QCOMPARE(signal.decoded, signal.length);
        QVERIFY2(signal.length > 48000 * 0.8, qPrintable(QString::number(signal.length)));

        // With the server gone, the next start fails cleanly.
        QCOMPARE(failureOf(service.startRecording(folder(), settingsFor(format), RecordingInputSource::macAudio)),
                 QStringLiteral("The sound server could not be reached."));
        QVERIFY(service.state().is(CaptureState::Kind::failed));
    }

    void serverWithoutDevicesOrSocketFailsTheStart()
    {
        PrivateDaemon daemon;
        QVERIFY(daemon.start({}));
        QTRY_VERIFY_WITH_TIMEOUT(serverAnswers(daemon.server()), 10000);
        const auto empty = folder() + QStringLiteral("/Empty");
        auto failure = [&](const QByteArray &address, RecordingInputSource source) {
            PulseSoundServer server(address);
            SystemClock clock;
            AudioCaptureService service(server, clock);
            const auto message =
                failureOf(service.startRecording(empty, settingsFor(RecordingOutputFormat::aacM4A), source));
            return service.state() == CaptureState::failed(message) ? message : QStringLiteral("state not failed");
        };
        QCOMPARE(failure(daemon.server(), RecordingInputSource::macAudio),
                 QStringLiteral("No audio output was available for system audio capture."));
        QCOMPARE(failure(daemon.server(), RecordingInputSource::microphone),
                 QStringLiteral("No microphone input was available."));
        QCOMPARE(failure("unix:" + m_dir.filePath(QStringLiteral("no-such-socket")).toUtf8(),
                         RecordingInputSource::macAudio),
                 QStringLiteral("The sound server could not be reached."));
        QCOMPARE(QDir(empty).entryList(QDir::Files), QStringList());
    }
};

QTEST_GUILESS_MAIN(TestCapturePulse)
#include "test_capture_pulse.moc"
