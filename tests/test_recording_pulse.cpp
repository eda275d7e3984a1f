// The recording workflow against the real PulseAudio daemon of scripts/with-test-services.sh:
// tones played into the default sink and into "mic_feed" are recorded through the store in
// every format, and by "vespertone-tool record", stopped on time or by SIGINT.

#include "capture/AudioCaptureService.h"
#include "library/Formatters.h"
#include "library/UniqueFileNamer.h"
#include "media/AudioFileReader.h"
#include "platform/PulseSoundServer.h"
#include "store/RecordingLibraryStore.h"
#include "support/AudioFixtures.h"
#include "support/PulseTestServer.h"
#include "support/SignalAnalysis.h"
#include "support/TaskRunner.h"
#include "support/TestEnvironment.h"
#include "support/ToolRunner.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>

#include <cmath>
#include <csignal>

namespace {

constexpr double speakerTone = 440;
constexpr double microphoneTone = 1000;
constexpr float toneLevel = 0.5f;

/// Waits until the running take has delivered \a batches batches of levels (a tenth of a second each).
bool takeBuffers(RecordingLibraryStore &store, int batches)
{
    QSignalSpy peaks(&store, &RecordingLibraryStore::livePeaksChanged);
    while (peaks.count() < batches && peaks.wait(5000)) {
    }
    return peaks.count() >= batches;
}

} // namespace

class RecordingPulseTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    std::vector<std::unique_ptr<QProcess>> m_players;
    PulseSoundServer m_server;

    bool play(const QString &sink, double frequency)
    {
        const auto tone = AudioFixtures::tone(m_dir.filePath(sink + ".wav"), 120, frequency, toneLevel);
        auto player = std::make_unique<QProcess>();
        player->start("paplay", {"--device=" + sink, tone});
        const bool started = player->waitForStarted();
        m_players.push_back(std::move(player));
        return started;
    }
    [[nodiscard]] int playingTones()
    {
        const auto streams = m_server.playbackStreams();
        return int(std::count_if(streams.begin(), streams.end(),
                                 [](const auto &stream) { return !stream.corked && stream.appName == "paplay"; }));
    }
    std::unique_ptr<RecordingLibraryStore> openStore(TestEnvironment &env)
    {
        auto environment = env.storeEnvironment();
        environment.soundServer = &m_server;
        return startStore(environment);
    }
    /// A take of about a second; the final path, or none.
    std::optional<QString> take(RecordingLibraryStore &store, RecordingInputSource input)
    {
        finish(store.startRecording(input));
        if (!store.isRecording(input) || !takeBuffers(store, 10))
            return std::nullopt;
        return finish(store.stopRecording());
    }

private slots:
    void initTestCase()
    {
        if (!serverAnswers())
            QSKIP("No PulseAudio server answers: run under scripts/with-test-services.sh");
        if (QStandardPaths::findExecutable("paplay").isEmpty())
            QSKIP("paplay (pulseaudio-utils) is not installed");
        QVERIFY(play("@DEFAULT_SINK@", speakerTone));
        QVERIFY(play("mic_feed", microphoneTone));
        QTRY_COMPARE_WITH_TIMEOUT(playingTones(), 2, 10000);
    }

    void cleanupTestCase()
    {
        for (auto &player : m_players) {
            player->kill();
            player->waitForFinished();
        }
    }

    // A stop keeps what the server captured up to the moment it was asked for.
    void aTakeHoldsTheAudioUpToTheStop()
    {
        TestEnvironment env;
        auto store = openStore(env);
        store->setRecordingFormat(RecordingOutputFormat::wavPCM);
        // A fresh null sink starts rendering late; the measured take is the second.
        QVERIFY(take(*store, RecordingInputSource::macAudio));
        finish(store->startRecording(RecordingInputSource::macAudio));
        QElapsedTimer running;
        running.start();
        QVERIFY(takeBuffers(*store, 8));
        const double elapsed = running.nsecsElapsed() / 1e9;
        const auto final = finish(store->stopRecording());
        QVERIFY(final);
        const auto seconds = analyse(*final).seconds();
        QVERIFY2(seconds >= elapsed - 0.03, qPrintable(QStringLiteral("%1 s of %2 s").arg(seconds).arg(elapsed)));
    }

    void theToolRecordsForSomeSeconds()
    {
        const auto folder = m_dir.filePath("tool-timed");
        const auto run =
            runTool({"record", "--seconds", "1", "--format", "mp3LAME", "--bitrate", "128", "--folder", folder});
        QVERIFY2(run.exitCode == 0, run.err.constData());
        const auto path = QString::fromUtf8(run.out).trimmed();
        QCOMPARE(QFileInfo(path).absolutePath(), folder);
        QCOMPARE(QFileInfo(path).suffix(), QStringLiteral("mp3"));
        const auto signal = analyse(path);
        QVERIFY2(signal.seconds() > 0.7 && signal.seconds() < 2, qPrintable(QString::number(signal.seconds())));
        QVERIFY(std::abs(signal.frequency - speakerTone) < speakerTone * 0.02);
        QVERIFY(run.err.contains("Recording System MP3\n"));
        QVERIFY(run.err.contains("00:01\n"));
        // The one-take format is not stored.
        QVERIFY(!QSettings("Vespertone", "Vespertone").contains("Vespertone.RecordingFormat"));
        QVERIFY(QDir(UniqueFileNamer::workFolder(folder)).entryList(QDir::Files).isEmpty());
    }

    void theToolListsApplicationsAndRecordsOneAlone()
    {
        QObject players;
        const auto tones = {std::pair(2000.0, QStringLiteral("Tone A")), std::pair(6300.0, QStringLiteral("Tone B"))};
        QList<qint64> processes;
        for (const auto &[frequency, name] : tones)
            processes << playTone(&players, m_dir.path(), "@DEFAULT_SINK@", frequency, 0.3, 60,
                                  {"--client-name=" + name});
        QTRY_VERIFY_WITH_TIMEOUT(runningTonePlayers("Tone A") == 1 && runningTonePlayers("Tone B") == 1, 10000);
        const auto listed = runTool({"apps"});
        QVERIFY2(listed.exitCode == 0, listed.err.constData());
        const auto lines = QString::fromUtf8(listed.out).split(u'\n');
        QVERIFY2(lines.contains(QStringLiteral("Tone A\t%1\tTone A").arg(processes[0]))
                     && lines.contains(QStringLiteral("Tone B\t%1\tTone B").arg(processes[1])),
                 listed.out.constData());

        // By name, then by process: only that application's tone is in the take.
        const auto folder = m_dir.filePath("tool-app");
        for (const auto &asked : {QStringLiteral("tone a"), QString::number(processes[0])}) {
            const auto run =
                runTool({"record", "--app", asked, "--seconds", "1.5", "--format", "wavPCM", "--folder", folder});
            QVERIFY2(run.exitCode == 0, run.err.constData());
            QVERIFY(run.err.contains("Recording Tone A WAV\n"));
            const auto samples = firstChannel(QString::fromUtf8(run.out).trimmed());
            const double length = double(samples.size()) / 48000;
            QVERIFY2(length > 1.4 && length < 2.2, qPrintable(QString::number(length)));
            QVERIFY2(toneAmplitude(samples, 2000, 0.6, length - 0.1) > 0.25
                         && toneAmplitude(samples, 6300, 0, length) < 0.0005
                         && toneAmplitude(samples, speakerTone, 0, length) < 0.0005,
                     qPrintable(asked));
        }
        const auto absent = runTool({"record", "--app", "999999999", "--seconds", "1", "--folder", folder});
        QCOMPARE(absent.exitCode, 1);
        QVERIFY(absent.err.contains("No application plays with the process id 999999999."));
    }

    /// ... and, a PCM take, records, analyses and names it without ever loading FFmpeg's
    /// demuxers and codecs, whose loading costs more than the take.
    void theToolKeepsATakeStoppedBySigint()
    {
        const auto folder = m_dir.filePath("tool-interrupted");
        QProcess tool;
        auto environment = QProcessEnvironment::systemEnvironment();
        environment.insert("LD_DEBUG", "files");
        environment.insert("LD_DEBUG_OUTPUT", m_dir.filePath("loader"));
        tool.setProcessEnvironment(environment);
        tool.start(qEnvironmentVariable("VESPERTONE_TOOL"),
                   {"record", "--input", "mic", "--format", "wavPCM", "--folder", folder});
        QVERIFY(tool.waitForStarted());
        const auto pid = tool.processId();
        tool.setReadChannel(QProcess::StandardError);
        QByteArray err;
        while (!err.contains("00:01\n")) {
            QVERIFY2(tool.waitForReadyRead(10000), err.constData());
            err += tool.readAllStandardError();
            QVERIFY2(tool.state() == QProcess::Running, err.constData());
        }
        ::kill(pid_t(pid), SIGINT);
        QVERIFY(tool.waitForFinished(30000));
        err += tool.readAllStandardError();
        QCOMPARE(tool.exitStatus(), QProcess::NormalExit);
        QVERIFY2(tool.exitCode() == 0, err.constData());
        const auto path = QString::fromUtf8(tool.readAllStandardOutput()).trimmed();
        QCOMPARE(QFileInfo(path).absolutePath(), folder);
        const auto signal = analyse(path);
        QVERIFY2(signal.seconds() > 0.3, qPrintable(QString::number(signal.seconds())));
        QVERIFY(std::abs(signal.frequency - microphoneTone) < microphoneTone * 0.02);
        QFile loader(m_dir.filePath("loader.%1").arg(pid));
        QVERIFY(loader.open(QIODevice::ReadOnly));
        const auto loaded = loader.readAll();
        QVERIFY(loaded.contains("libpulse.so"));
        QVERIFY(!loaded.contains("libavformat.so"));
        QVERIFY(!loaded.contains("libavcodec.so"));
    }
};

QTEST_GUILESS_MAIN(RecordingPulseTest)
#include "test_recording_pulse.moc"
