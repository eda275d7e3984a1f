// Capture against a real PulseAudio daemon (scripts/with-test-services.sh): tones played into
// the default sink and into "mic_feed" (the default source's feed) are recorded in every
// format; killed recorders and vanishing daemons leave playable files.

#include "capture/AudioCaptureService.h"
#include "platform/PulseSoundServer.h"
#include "platform/SystemClock.h"
#include "support/PulseTestServer.h"
#include "support/SignalAnalysis.h"
#include "support/TaskRunner.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>

#include <cmath>
#include <csignal>

namespace {
constexpr float level = 0.5f;

RecordingEncodingSettings settingsFor(RecordingOutputFormat format)
{
    return {format, AudioBitRate::kbps192, 48000, 2};
}

/// Checks that \a path holds \a seconds (within \a early...+0.1 s) of the tone at \a frequency.
void verifyTone(const QString &path, double seconds, double early, double frequency)
{
    const auto signal = analyse(path, 0.1, 0.95);
    QCOMPARE(signal.sampleRate, 48000.0);
    QCOMPARE(signal.channels, 2);
    QCOMPARE(signal.decoded, signal.length);
    const double length = double(signal.length) / 48000;
    QVERIFY2(length > seconds - early && length < seconds + 0.1,
             qPrintable(QStringLiteral("%1 s kept of %2 s").arg(length).arg(seconds)));
    QVERIFY2(std::abs(signal.peak - level) < 0.05f, qPrintable(QString::number(signal.peak)));
    QVERIFY2(std::abs(signal.frequency - frequency) < frequency * 0.01, qPrintable(QString::number(signal.frequency)));
}
} // namespace

Q_DECLARE_METATYPE(RecordingOutputFormat)
Q_DECLARE_METATYPE(RecordingInputSource)

class TestCapturePulse : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    TonePlayers m_players;

    [[nodiscard]] QString folder() const { return m_dir.filePath(QStringLiteral("Library")); }
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
            QSKIP("No PulseAudio server answers: run under scripts/with-test-services.sh");
        if (QStandardPaths::findExecutable(QStringLiteral("paplay")).isEmpty())
            QSKIP("paplay (pulseaudio-utils) is not installed");
        QVERIFY(m_players.play(m_dir.path(), QStringLiteral("@DEFAULT_SINK@"), 440, level));
        QVERIFY(m_players.play(m_dir.path(), QStringLiteral("mic_feed"), 1000, level));
        QTRY_COMPARE_WITH_TIMEOUT(runningTonePlayers(), 2, 10000);
        QVERIFY(warmUp(SoundServer::CaptureDevice::defaultSinkMonitor));
        QVERIFY(warmUp(SoundServer::CaptureDevice::defaultSource));
    }

    void recordsEachFormatFromEachInput_data()
    {
        QTest::addColumn<RecordingOutputFormat>("format");
        QTest::addColumn<RecordingInputSource>("source");
        for (const auto source : RecordingInputSources::all)
            for (const auto format : RecordingOutputFormats::all)
                QTest::newRow(qPrintable(RecordingOutputFormats::rawValue(format) + u' '
                                         + RecordingInputSources::rawValue(source)))
                    << format << source;
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
        QVERIFY(captureBuffers(service, 50));
        QVERIFY(std::abs(service.livePeaks().back() - level) < 0.05f);
        QCOMPARE(finish(service.stopRecording()), url);
        verifyTone(url, double(elapsed.elapsed()) / 1000, 0.25, source == RecordingInputSource::macAudio ? 440 : 1000);
        QCOMPARE(service.droppedBufferCount(), 0);
    }

    void killedRecordersStartedTogetherKeepTwoPlayableFiles_data()
    {
        formats({RecordingOutputFormat::aacM4A, RecordingOutputFormat::wavPCM, RecordingOutputFormat::aiffPCM});
    }
    void killedRecordersStartedTogetherKeepTwoPlayableFiles()
    {
        QFETCH(RecordingOutputFormat, format);
        const auto child = QCoreApplication::applicationDirPath() + QStringLiteral("/capture_child");
        const QStringList arguments{folder() + QStringLiteral("/Killed"), RecordingOutputFormats::rawValue(format),
                                    QStringLiteral("macAudio")};
        QProcess first, second;
        first.start(child, arguments);
        second.start(child, arguments);
        auto nextLine = [](QProcess &recorder) {
            while (!recorder.canReadLine() && recorder.waitForReadyRead(10000)) {
            }
            return QString::fromUtf8(recorder.readLine()).trimmed();
        };
        const QStringList urls{nextLine(first).mid(10), nextLine(second).mid(10)};
        QElapsedTimer elapsed;
        elapsed.start();
        QVERIFY2(urls[0] != urls[1] && QFile::exists(urls[0]) && QFile::exists(urls[1]), qPrintable(urls.join(u' ')));
        while (!nextLine(first).startsWith(QStringLiteral("buffers 125"))) // about 2.5 s
            QVERIFY(first.state() == QProcess::Running);
        for (auto *recorder : {&first, &second})
            ::kill(pid_t(recorder->processId()), SIGKILL);
        const double seconds = double(elapsed.elapsed()) / 1000;
        for (auto *recorder : {&first, &second})
            recorder->waitForFinished();
        for (const auto &url : urls)
            verifyTone(url, seconds, 1.3, 440);
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
        PulseSoundServer server(daemon.server());
        SystemClock clock;
        AudioCaptureService service(server, clock);
        QSignalSpy interrupted(&service, &AudioCaptureService::recordingInterrupted);
        const auto url = finish(service.startRecording(folder() + QStringLiteral("/Vanishing"), settingsFor(format),
                                                       RecordingInputSource::macAudio));
        QVERIFY(captureBuffers(service, 50));
        daemon.kill();
        QVERIFY(interrupted.wait(10000));
        const auto message = QStringLiteral("The audio source stopped during the recording.");
        QCOMPARE(interrupted.first(), QVariantList({url, message}));
        QCOMPARE(service.state(), CaptureState::failed(message));
        const auto signal = analyse(url);
        QCOMPARE(signal.decoded, signal.length);
        QVERIFY2(signal.length > 48000 * 0.8, qPrintable(QString::number(signal.length)));
        QCOMPARE(failureOf(service.startRecording(folder(), settingsFor(format), RecordingInputSource::macAudio)),
                 QStringLiteral("The sound server could not be reached."));
    }

    void serverWithoutDevicesOrSocketFailsTheStart_data()
    {
        QTest::addColumn<bool>("socket");
        QTest::addColumn<RecordingInputSource>("source");
        QTest::addColumn<QString>("message");
        QTest::newRow("no sink") << true << RecordingInputSource::macAudio
                                 << QStringLiteral("No audio output was available for system audio capture.");
        QTest::newRow("no source") << true << RecordingInputSource::microphone
                                   << QStringLiteral("No microphone input was available.");
        QTest::newRow("no socket") << false << RecordingInputSource::macAudio
                                   << QStringLiteral("The sound server could not be reached.");
    }
    void serverWithoutDevicesOrSocketFailsTheStart()
    {
        QFETCH(bool, socket);
        QFETCH(RecordingInputSource, source);
        QFETCH(QString, message);
        PrivateDaemon daemon;
        QVERIFY(daemon.start({}));
        PulseSoundServer server(socket ? daemon.server() : "unix:" + m_dir.filePath("nothing").toUtf8());
        SystemClock clock;
        AudioCaptureService service(server, clock);
        const auto empty = folder() + QStringLiteral("/Empty");
        QCOMPARE(failureOf(service.startRecording(empty, settingsFor(RecordingOutputFormat::aacM4A), source)), message);
        QCOMPARE(service.state(), CaptureState::failed(message));
        QCOMPARE(QDir(empty).entryList(QDir::Files), QStringList());
    }
};

QTEST_GUILESS_MAIN(TestCapturePulse)
#include "test_capture_pulse.moc"
