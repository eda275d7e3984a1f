// Capture against a real PulseAudio daemon (scripts/with-test-services.sh): tones played into
// the default sink and into "mic_feed" (the default source's feed) are recorded in every
// format; killed recorders and vanishing or empty daemons leave playable files or clear errors.

#include "analysis/EnvelopeJob.h"
#include "capture/AudioCaptureService.h"
#include "capture/CapturePeaks.h"
#include "capture/CaptureTargets.h"
#include "platform/PulseSoundServer.h"
#include "platform/SystemClock.h"
#include "support/AudioFixtures.h"
#include "support/PulseTestServer.h"
#include "support/SignalAnalysis.h"
#include "support/TaskRunner.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>

#include <csignal>
#include <cstdlib>

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
        QVERIFY(warmUp(CaptureTarget::defaultOutput()));
        QVERIFY(warmUp(CaptureTarget::defaultInput()));
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
        const auto url = finish(service.startRecording(folder(), {format, AudioBitRate::kbps192, 48000, 2},
                                                       CaptureTargets::forInput(source)));
        QElapsedTimer elapsed;
        elapsed.start();
        QVERIFY(captureBuffers(service, 20));
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

    void anApplicationTakeHearsEveryStreamOfThatApplicationAndNothingElse_data()
    {
        rows({Format::wavPCM, Format::aacM4A}, {Source::application});
    }
    void anApplicationTakeHearsEveryStreamOfThatApplicationAndNothingElse()
    {
        QFETCH(Format, format);
        // Tone A plays 2 kHz softly, then a second stream of it 3 kHz louder; the take follows
        // its live level to see each change arrive. Tone B's 6.3 kHz and the desktop's 440 Hz
        // are never in it.
        QObject players;
        const auto play = [&](double frequency, double level, const QString &name) {
            return playTone(&players, m_dir.path(), "@DEFAULT_SINK@", frequency, level, 30, {"--client-name=" + name});
        };
        const auto first = play(2000, 0.1, "Tone A");
        QVERIFY(first && play(6300, 0.3, "Tone B"));
        QTRY_VERIFY_WITH_TIMEOUT(runningTonePlayers("Tone A") == 1 && runningTonePlayers("Tone B") == 1, 10000);
        PulseSoundServer server;
        AudioCaptureService service(server, m_clock);
        const auto url = finish(service.startRecording(folder() + "/Apps", {format, AudioBitRate::kbps192, 48000, 2},
                                                       CaptureTarget::application("tone a")));
        QElapsedTimer elapsed;
        elapsed.start();
        const auto now = [&] { return double(elapsed.elapsed()) / 1000; };
        const auto heardLevel = [&] { return service.livePeaks().empty() ? 0.0f : service.livePeaks().back(); };
        QTRY_VERIFY_WITH_TIMEOUT(heardLevel() > 0.08f, 10000);
        const double sounding = now();
        QVERIFY(captureBuffers(service, 10));
        const double joined = now();
        const auto second = play(3000, 0.25, "Tone A");
        QTRY_VERIFY_WITH_TIMEOUT(heardLevel() > 0.3f, 10000);
        const double both = now();
        QVERIFY(captureBuffers(service, 10));
        const double left = now();
        ::kill(pid_t(first), SIGKILL);
        QTRY_VERIFY_WITH_TIMEOUT(heardLevel() < 0.27f, 10000);
        const double alone = now();
        QVERIFY(captureBuffers(service, 10));
        const double silent = now();
        ::kill(pid_t(second), SIGKILL);
        QTRY_VERIFY_WITH_TIMEOUT(heardLevel() < 0.001f, 10000);
        const double quiet = now();
        QVERIFY(captureBuffers(service, 10));
        const double seconds = now();
        QCOMPARE(finish(service.stopRecording()), url);

        const auto samples = firstChannel(url);
        const double length = double(samples.size()) / 48000;
        QVERIFY2(length > seconds - 0.2 && length < seconds + 0.2, qPrintable(QString::number(length)));
        // The level of a tone is the median over blocks of 20 ms: a clock that runs fast loses
        // some milliseconds now and then, and that step must not read as a weaker tone.
        const auto level = [&](double frequency, double from, double to) {
            std::vector<double> blocks;
            for (double at = from; at + 0.02 <= to; at += 0.02)
                blocks.push_back(toneAmplitude(samples, frequency, at, at + 0.02));
            std::nth_element(blocks.begin(), blocks.begin() + std::ptrdiff_t(blocks.size() / 2), blocks.end());
            return blocks.empty() ? 0.0 : blocks[blocks.size() / 2];
        };
        // A level is heard some time after the audio it measures reached the take: each stretch
        // begins where its change was heard. Each tone is there at its own level, once, or not at all.
        const QList<double> heard{level(2000, sounding, joined), level(3000, sounding, joined),
                                  level(2000, both, left),       level(3000, both, left),
                                  level(2000, alone, silent),    level(3000, alone, silent),
                                  level(3000, quiet, length)};
        const QList<double> expected{0.1, 0, 0.1, 0.25, 0, 0.25, 0};
        for (qsizetype i = 0; i < heard.size(); ++i)
            QVERIFY2(std::abs(heard[i] - expected[i]) < std::max(0.005, expected[i] * 0.05),
                     qPrintable(QStringLiteral("stretch %1: %2").arg(i).arg(heard[i])));
        // Over the whole take, a leak of ten milliseconds would show.
        const auto leak = [&](double frequency) { return toneAmplitude(samples, frequency, 0, length); };
        QVERIFY2(leak(6300) < 0.0005 && leak(440) < 0.0005,
                 qPrintable(QStringLiteral("%1 %2").arg(leak(6300)).arg(leak(440))));
    }

    void theKeptWindowIsSavedWithEachSoundAtItsPlace()
    {
        // A tone of three seconds plays into the quiet "studio" output while the last ten
        // seconds are kept, and ends; five seconds later the window is saved.
        const auto studio = CaptureTarget{CaptureTarget::Kind::outputMonitor, "studio", {}, {}};
        PulseSoundServer server;
        AudioCaptureService service(server, m_clock);
        service.keepWindow(studio, 10);
        QTRY_VERIFY_WITH_TIMEOUT(service.isListening(), 10000);
        QTest::qWait(2000); // the window fills in real time
        QProcess burst;
        burst.start("paplay", {"--device=studio", AudioFixtures::tone(m_dir.filePath("burst.wav"), 3, 1500, level)});
        QVERIFY(burst.waitForFinished(20000));
        QElapsedTimer sinceEnd;
        sinceEnd.start();
        QTest::qWait(5000);
        const double pressed = double(sinceEnd.elapsed()) / 1000;
        const RecordingEncodingSettings settings{Format::wavPCM, AudioBitRate::kbps192, 48000, 2};
        const auto url = finish(service.saveWindow(folder() + "/Kept", settings));
        QCOMPARE(QFileInfo(url).absolutePath(), folder() + "/Kept");
        QVERIFY(service.isListening());

        const auto samples = firstChannel(url);
        QCOMPARE(qint64(samples.size()), qint64(10 * 48000));
        const auto span = toneSpan(samples, 1500, 0.25);
        QVERIFY(span);
        const auto [start, end] = *span;
        QVERIFY2(std::abs(end - start - 3) < 0.05 && std::abs(end - (10 - pressed)) < 0.2,
                 qPrintable(QStringLiteral("%1 to %2 s, pressed %3 s after").arg(start).arg(end).arg(pressed)));
    }

    void aTakeOfTheKeptTargetBeginsWithWhatWasHeardBeforeRecord()
    {
        const auto studio = CaptureTarget{CaptureTarget::Kind::outputMonitor, "studio", {}, {}};
        PulseSoundServer server;
        AudioCaptureService service(server, m_clock);
        service.keepWindow(studio, 10);
        service.setPreRoll(true);
        QTRY_VERIFY_WITH_TIMEOUT(service.isListening(), 10000);
        QProcess tone;
        tone.start("paplay", {"--device=studio", AudioFixtures::tone(m_dir.filePath("before.wav"), 1, 1500, level)});
        QVERIFY(tone.waitForFinished(20000));
        QElapsedTimer sinceEnd;
        sinceEnd.start();
        QTest::qWait(1000);
        const double recorded = double(sinceEnd.elapsed()) / 1000;
        const auto url = finish(
            service.startRecording(folder() + "/PreRoll", {Format::wavPCM, AudioBitRate::kbps192, 48000, 2}, studio));
        QVERIFY(captureBuffers(service, 20));
        const double stopped = double(sinceEnd.elapsed()) / 1000;
        QCOMPARE(finish(service.stopRecording()), url);

        const auto samples = firstChannel(url);
        const double length = double(samples.size()) / 48000;
        const auto span = toneSpan(samples, 1500, 0.25);
        QVERIFY(span);
        const auto [start, end] = *span;
        // It ended before Record was pressed, as long before the take's end as it was heard.
        QVERIFY2(std::abs(end - start - 1) < 0.05 && end < length - (stopped - recorded)
                     && std::abs((length - end) - stopped) < 0.2,
                 qPrintable(QStringLiteral("%1 to %2 of %3 s; Record %4 s, stop %5 s after it ended")
                                .arg(start)
                                .arg(end)
                                .arg(length)
                                .arg(recorded)
                                .arg(stopped)));
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
        while (!nextLine(recorders[0]).startsWith(QStringLiteral("buffers 50"))) // about 2.5 s
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
        QCOMPARE(
            QStringList({failureOf(idle.startRecording(folder() + "/Empty", settings, CaptureTarget::defaultOutput())),
                         failureOf(idle.startRecording(folder() + "/Empty", settings, CaptureTarget::defaultInput()))}),
            QStringList(
                {"No audio output was available for system audio capture.", "No microphone input was available."}));
        QCOMPARE(QDir(folder() + "/Empty").entryList(QDir::Files), QStringList());

        QSignalSpy interrupted(&service, &AudioCaptureService::recordingInterrupted);
        const auto url =
            finish(service.startRecording(folder() + "/Vanishing", settings, CaptureTarget::defaultOutput()));
        QVERIFY(captureBuffers(service, 20));
        vanishing.kill();
        QVERIFY(interrupted.wait(10000));
        const auto message = QStringLiteral("The audio source stopped during the recording.");
        QCOMPARE(interrupted.first(), QVariantList({url, message}));
        const auto signal = analyse(url);
        QVERIFY2(signal.decoded == signal.length && signal.length > 48000 * 0.8,
                 qPrintable(QString::number(signal.length)));
        QCOMPARE(failureOf(service.startRecording(folder(), settings, CaptureTarget::defaultOutput())),
                 QStringLiteral("The sound server could not be reached."));
    }
};

QTEST_GUILESS_MAIN(TestCapturePulse)
#include "test_capture_pulse.moc"
