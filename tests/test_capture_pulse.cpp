// Capture against a real PulseAudio daemon (scripts/with-test-services.sh): tones played into
// the default sink and into "mic_feed" (the default source's feed) are recorded in every
// format; killed recorders and vanishing or empty daemons leave playable files or clear errors.

#include "analysis/EnvelopeJob.h"
#include "capture/AudioCaptureService.h"
#include "capture/CapturePeaks.h"
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

#include <csignal>

namespace {
using Format = RecordingOutputFormat;
using Source = RecordingInputSource;
constexpr float level = 0.5f;

/// \a path holds the tone at \a frequency, as long as \a seconds (less up to \a early).
void verifyTone(const QString &path, double seconds, double early, double frequency)
{
    const auto signal = analyse(path, 0.1, 0.95);
    QCOMPARE(QList<double>({signal.sampleRate, double(signal.channels), double(signal.decoded)}),
             QList<double>({48000, 2, double(signal.length)}));
    QVERIFY2(signal.seconds() > seconds - early && signal.seconds() < seconds + 0.1
                 && std::abs(signal.peak - level) < 0.05f && std::abs(signal.frequency - frequency) < frequency / 100,
             qPrintable(QString::asprintf("%g s of %g s, %g at %g Hz", signal.seconds(), seconds, signal.peak,
                                          signal.frequency)));
}
} // namespace

Q_DECLARE_METATYPE(Format)
Q_DECLARE_METATYPE(Source)

class TestCapturePulse : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    SystemClock m_clock;

    [[nodiscard]] QString folder() const { return m_dir.filePath(QStringLiteral("Library")); }
    static void rows(std::initializer_list<Format> formats, std::initializer_list<Source> sources = {Source::macAudio})
    {
        QTest::addColumn<Format>("format");
        QTest::addColumn<Source>("source");
        for (const auto source : sources)
            for (const auto format : formats)
                QTest::newRow(qPrintable(RecordingOutputFormats::rawValue(format) + u' '
                                         + RecordingInputSources::rawValue(source)))
                    << format << source;
    }

private slots:
    void initTestCase()
    {
        if (!serverAnswers() || QStandardPaths::findExecutable(QStringLiteral("paplay")).isEmpty())
            QSKIP("needs scripts/with-test-services.sh and paplay (pulseaudio-utils)");
        QVERIFY(playTone(this, m_dir.path(), QStringLiteral("@DEFAULT_SINK@"), 440, level));
        QVERIFY(playTone(this, m_dir.path(), QStringLiteral("mic_feed"), 1000, level));
        QTRY_COMPARE_WITH_TIMEOUT(runningTonePlayers(), 2, 10000);
        QVERIFY(warmUp(SoundServer::CaptureDevice::defaultSinkMonitor));
        QVERIFY(warmUp(SoundServer::CaptureDevice::defaultSource));
    }

    void recordsEachFormatFromEachInput_data()
    {
        rows({Format::aacM4A, Format::mp3LAME, Format::wavPCM, Format::aiffPCM},
             {Source::macAudio, Source::microphone});
    }
    void recordsEachFormatFromEachInput()
    {
        QFETCH(Format, format);
        QFETCH(Source, source);
        PulseSoundServer server;
        AudioCaptureService service(server, m_clock);
        const auto url = finish(service.startRecording(folder(), {format, AudioBitRate::kbps192, 48000, 2}, source));
        QElapsedTimer elapsed;
        elapsed.start();
        QVERIFY(captureBuffers(service, 50));
        QVERIFY(std::abs(service.livePeaks().back() - level) < 0.05f);
        QCOMPARE(finish(service.stopRecording()), url);
        verifyTone(url, double(elapsed.elapsed()) / 1000, 0.25, source == Source::macAudio ? 440 : 1000);
        QCOMPARE(service.droppedBufferCount(), 0);
        // A PCM take's levels, kept while it was written, are those of the file it wrote.
        const auto peaks = service.peaksOf(url);
        QCOMPARE(bool(peaks), format == Format::wavPCM || format == Format::aiffPCM);
        if (peaks) {
            QCOMPARE(EnvelopeJob::fromFinePeaks(url, peaks->finePeaks(), peaks->fineFrames(), peaks->frames(), 1100),
                     std::optional(EnvelopeJob::sequential(url, 1100)));
        }
    }

    void killedRecordersStartedTogetherKeepTwoPlayableFiles_data()
    {
        rows({Format::aacM4A, Format::wavPCM, Format::aiffPCM});
    }
    void killedRecordersStartedTogetherKeepTwoPlayableFiles()
    {
        QFETCH(Format, format);
        const auto child = QCoreApplication::applicationDirPath() + QStringLiteral("/capture_child");
        QProcess recorders[2];
        for (auto &recorder : recorders)
            recorder.start(child, {folder() + "/Killed", RecordingOutputFormats::rawValue(format), "macAudio"});
        auto nextLine = [](QProcess &recorder) {
            while (!recorder.canReadLine() && recorder.waitForReadyRead(10000)) {
            }
            return QString::fromUtf8(recorder.readLine()).trimmed();
        };
        const QStringList urls{nextLine(recorders[0]).mid(10), nextLine(recorders[1]).mid(10)};
        QElapsedTimer elapsed;
        elapsed.start();
        QVERIFY2(urls[0] != urls[1] && QFile::exists(urls[0]) && QFile::exists(urls[1]), qPrintable(urls.join(u' ')));
        while (!nextLine(recorders[0]).startsWith(QStringLiteral("buffers 125"))) // about 2.5 s
            QVERIFY(recorders[0].state() == QProcess::Running);
        for (auto &recorder : recorders)
            ::kill(pid_t(recorder.processId()), SIGKILL);
        const double seconds = double(elapsed.elapsed()) / 1000;
        for (auto &recorder : recorders)
            recorder.waitForFinished();
        for (const auto &url : urls)
            verifyTone(url, seconds, 1.3, 440);
    }

    void privateDaemonsThatVanishOrHaveNoDevicesEndTakesClearly()
    {
        PrivateDaemon empty, vanishing;
        QVERIFY(empty.start(false) && vanishing.start(true));
        PulseSoundServer emptyServer(empty.server()), server(vanishing.server());
        AudioCaptureService idle(emptyServer, m_clock), service(server, m_clock);
        const RecordingEncodingSettings settings{Format::aacM4A, AudioBitRate::kbps192, 48000, 2};
        QCOMPARE(QStringList({failureOf(idle.startRecording(folder() + "/Empty", settings, Source::macAudio)),
                              failureOf(idle.startRecording(folder() + "/Empty", settings, Source::microphone))}),
                 QStringList({"No audio output was available for system audio capture.",
                              "No microphone input was available."}));
        QCOMPARE(QDir(folder() + "/Empty").entryList(QDir::Files), QStringList());

        QSignalSpy interrupted(&service, &AudioCaptureService::recordingInterrupted);
        const auto url = finish(service.startRecording(folder() + "/Vanishing", settings, Source::macAudio));
        QVERIFY(captureBuffers(service, 50));
        vanishing.kill();
        QVERIFY(interrupted.wait(10000));
        const auto message = QStringLiteral("The audio source stopped during the recording.");
        QCOMPARE(interrupted.first(), QVariantList({url, message}));
        const auto signal = analyse(url);
        QVERIFY2(signal.decoded == signal.length && signal.length > 48000 * 0.8,
                 qPrintable(QString::number(signal.length)));
        QCOMPARE(failureOf(service.startRecording(folder(), settings, Source::macAudio)),
                 QStringLiteral("The sound server could not be reached."));
    }
};

QTEST_GUILESS_MAIN(TestCapturePulse)
#include "test_capture_pulse.moc"
