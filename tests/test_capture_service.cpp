// The capture service against a scripted sound server: states, names, writers, takes that end
// on their own (source gone, disk full), commands out of turn, teardown, the writer queue.

#include "analysis/EnvelopeJob.h"
#include "capture/AudioCaptureError.h"
#include "capture/AudioCaptureService.h"
#include "capture/CapturePeaks.h"
#include "capture/CaptureWriterQueue.h"
#include "capture/PcmCaptureWriter.h"
#include "library/Formatters.h"
#include "support/FakeClock.h"
#include "support/FakeSoundServer.h"
#include "support/ProcessLimits.h"
#include "support/SignalAnalysis.h"
#include "support/TaskRunner.h"

#include <QDir>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {
using Format = RecordingOutputFormat;
using Source = RecordingInputSource;
using Code = SoundServerError::Code;
using Failure = std::optional<Code>;
const QString busy = QStringLiteral("A recording is already running.");
const QString inactive = QStringLiteral("No recording is active.");
const QString gone = QStringLiteral("The audio source stopped during the recording.");
const QString full = QStringLiteral("The disk is full.");

QSemaphore gate;
std::atomic<int> writes = 0;
/// Its writes wait at the gate (10 s at most, so a failed check never hangs) and then fail.
struct StuckWriter final : CaptureFileWriter {
    void write(const float *, std::int64_t) override
    {
        ++writes;
        if (gate.tryAcquire(1, 10000))
            gate.release();
        throw AudioCaptureError::writeFailed(ENOSPC);
    }
    void checkpoint() override {}
    void finish() override {}
    void cancel() override {}
};
} // namespace

Q_DECLARE_METATYPE(PcmCaptureWriter::Container)
Q_DECLARE_METATYPE(Format)
Q_DECLARE_METATYPE(Source)
Q_DECLARE_METATYPE(Failure)

class TestCaptureService : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    FakeSoundServer m_server;
    FakeClock m_clock;
    std::unique_ptr<AudioCaptureService> m_service;

    [[nodiscard]] QString folder() const { return m_dir.filePath(QStringLiteral("Library")); }
    QCoro::Task<QString> starting(Format format = Format::wavPCM, Source source = Source::macAudio, int channels = 2)
    {
        return m_service->startRecording(folder(), {format, AudioBitRate::kbps192, 48000, channels}, source);
    }
    [[nodiscard]] QStringList files() const
    {
        return QDir(folder()).entryList(QDir::Files) + QDir(folder() + "/.vespertone/tmp").entryList(QDir::Files);
    }

private slots:
    void init()
    {
        QDir(folder()).removeRecursively();
        m_server.openFailure.reset();
        m_server.holdOpen = false;
        m_server.opened = 0;
        m_service = std::make_unique<AudioCaptureService>(m_server, m_clock);
    }
    void cleanup()
    {
        m_service.reset();
        // An ended thread takes a moment to go.
        QTRY_COMPARE_WITH_TIMEOUT(runningThreads(CaptureWriterQueue::label), 0, 1000);
    }

    void takeIsWrittenInTheChosenFormat_data()
    {
        QTest::addColumn<Format>("format");
        for (const auto format : RecordingOutputFormats::all)
            QTest::newRow(qPrintable(RecordingOutputFormats::rawValue(format))) << format;
    }
    void takeIsWrittenInTheChosenFormat()
    {
        QFETCH(Format, format);
        const RecordingEncodingSettings settings{format, AudioBitRate::kbps192, 48000, 2};
        const auto base = (format == Format::mp3LAME ? folder() + "/.vespertone/tmp" : folder()) + "/Vespertone "
            + AppDateFormatters::fileStamp(m_clock.now());
        const auto extension = u'.' + settings.pathExtension();
        const auto url = finish(starting(format));
        QCOMPARE(url, base + extension);
        m_server.feedSine(1.5);
        QCOMPARE(finish(m_service->stopRecording()), url);
        QVERIFY(m_service->state() == CaptureState::idle() && !m_server.running());
        const auto signal = analyse(url, 0, 1);
        QCOMPARE(QList<double>({signal.sampleRate, double(signal.channels), double(signal.decoded)}),
                 QList<double>({48000, 2, 72000}));
        QVERIFY(std::abs(signal.peak - 0.5f) < 0.03f && std::abs(signal.frequency - 440) < 2);

        // Two takes of the same second keep a file each; a name held by a dangling link is taken.
        QVERIFY(QFile::link(m_dir.filePath(QStringLiteral("elsewhere")), base + " 2" + extension));
        AudioCaptureService other(m_server, m_clock);
        const auto first = finish(starting(format));
        const auto second = finish(other.startRecording(folder(), settings, Source::microphone));
        QCOMPARE(QStringList({first, second}), QStringList({base + " 3" + extension, base + " 4" + extension}));
        QCOMPARE(finish(m_service->stopRecording()), first);
        QCOMPARE(finish(other.stopRecording()), second);
        QCOMPARE(files().size(), 3); // and no leftover in the work folder
        QVERIFY(!QFile::exists(m_dir.filePath(QStringLiteral("elsewhere"))));
    }

    void finishingNeverReplacesAFileThatTookTheName()
    {
        const auto url = finish(starting(Format::aacM4A));
        m_server.feedSine(2.2);
        QTRY_VERIFY(QFileInfo(url).size() > 2000); // the header (first checkpoint) and a fragment
        QVERIFY(QFile::rename(url, url + ".moved") && QFile::copy(url + ".moved", url));
        QFile other(url);
        QVERIFY(other.open(QIODevice::ReadOnly));
        const auto before = other.readAll();
        QCOMPARE(finish(m_service->stopRecording()), url);
        QVERIFY(other.seek(0) && other.readAll() == before && QFile(url).size() == before.size());
    }

    void takeThatFailsNamesTheCauseAndKeepsWhatItCould_data()
    {
        QTest::addColumn<Format>("format");
        QTest::addColumn<Source>("source");
        QTest::addColumn<Failure>("failure"); // of the opening
        QTest::addColumn<rlim_t>("diskSize"); // 0: no limit
        QTest::addColumn<QString>("message");
        const QString noOutput = "No audio output was available for system audio capture.",
                      noInput = "No microphone input was available.";
        const auto row = [](const char *name, Format format, Source source, Failure failure, rlim_t disk,
                            const QString &message) {
            QTest::newRow(name) << format << source << failure << disk << message;
        };
        row("unreachable", Format::aacM4A, Source::macAudio, Code::unreachable, 0,
            "The sound server could not be reached.");
        row("no sink", Format::aacM4A, Source::macAudio, Code::noDefaultSink, 0, noOutput);
        row("no source", Format::aacM4A, Source::microphone, Code::noDefaultSource, 0, noInput);
        row("input refused", Format::aacM4A, Source::microphone, Code::streamFailed, 0, noInput);
        row("folder is a file", Format::aacM4A, Source::macAudio, {}, 0,
            "“Library” couldn’t be created: Not a directory");
        row("no channels", Format::aacM4A, Source::microphone, {}, 0, "The audio writer could not be prepared.");
        row("wav, source gone", Format::wavPCM, Source::microphone, {}, 0, gone);
        row("m4a, disk full", Format::aacM4A, Source::macAudio, {}, 80000, full);
        row("mp3 wav, disk full", Format::mp3LAME, Source::macAudio, {}, 300000, full);
    }
    void takeThatFailsNamesTheCauseAndKeepsWhatItCould()
    {
        QFETCH(Format, format);
        QFETCH(Source, source);
        QFETCH(Failure, failure);
        QFETCH(rlim_t, diskSize);
        QFETCH(QString, message);
        const QLatin1String tag(QTest::currentDataTag());
        const bool started = message == gone || message == full;
        m_server.openFailure = failure;
        if (tag == QLatin1String("folder is a file"))
            QVERIFY(QFile(folder()).open(QIODevice::WriteOnly));
        QSignalSpy interrupted(m_service.get(), &AudioCaptureService::recordingInterrupted);
        const int channels = tag == QLatin1String("no channels") ? 0 : 2;
        QCOMPARE(failureOf(starting(format, source, channels)), started ? QString() : message);
        const auto url = m_service->activeURL().value_or(QString());
        if (started) {
            std::optional<FileSizeLimit> limit;
            if (diskSize)
                limit.emplace(diskSize);
            m_server.feedSine(diskSize ? 6 : 1);
            if (!diskSize)
                m_server.failSource();
            QVERIFY(interrupted.wait());
            QCOMPARE(interrupted.first(), QVariantList({url, message}));
        }
        QVERIFY(m_service->state() == CaptureState::failed(message) && !m_server.running());
        QFile::remove(folder());
        if (started) { // all the source gave, or what reached the disk before it filled (M4A: whole fragments)
            const auto signal = analyse(url, 0, 1);
            QVERIFY2(signal.decoded == signal.length
                         && (diskSize ? signal.length >= 48000 && signal.length < 5 * 48000 : signal.length == 48000),
                     qPrintable(QString::number(signal.length)));
        } else {
            QCOMPARE(files(), QStringList());
        }
        // Once the cause is gone, the same input records from its own device.
        m_server.openFailure.reset();
        QVERIFY(failureOf(starting(format, source)).isNull());
        QCOMPARE(m_server.lastDevice() == SoundServer::CaptureDevice::defaultSource, source == Source::microphone);
    }

    void commandsOutOfTurnAreRefusedAndTeardownWaitsForTheWorkInFlight_data()
    {
        QTest::addColumn<int>("phase");
        QTest::newRow("opening") << 0;
        QTest::newRow("recording") << 1;
        QTest::newRow("stopping") << 2;
    }
    void commandsOutOfTurnAreRefusedAndTeardownWaitsForTheWorkInFlight()
    {
        QFETCH(int, phase);
        QCOMPARE(failureOf(m_service->stopRecording()), inactive);
        m_server.holdOpen = phase == 0;
        auto start = starting(Format::aacM4A);
        std::optional<QCoro::Task<QString>> stop;
        if (phase > 0) {
            finish(std::move(start));
            m_server.feedSine(1);
        }
        if (phase == 2)
            stop = m_service->stopRecording();
        const QList states{CaptureState::preparing(), CaptureState::recording(m_clock.now()),
                           CaptureState::finishing()};
        QCOMPARE(m_service->state(), states[phase]);
        QCOMPARE(failureOf(starting()), busy);
        if (phase != 1)
            QCOMPARE(failureOf(m_service->stopRecording()), inactive);
        if (phase == 0)
            m_server.openGate.release();
        const auto url = *m_service->activeURL();
        m_service.reset();
        QVERIFY(!m_server.running() && m_server.opened.load() == 1);
        if (phase == 0)
            QCOMPARE(files() << failureOf(std::move(start)), QStringList(gone));
        else
            QCOMPARE(analyse(url, 0, 1).decoded, qint64(48000));
    }

    void livePeaksKeepTheLatest900ScannedAtMost2048SamplesEach()
    {
        finish(starting());
        for (int i = 1; i <= 901; ++i)
            m_server.deliver({std::vector<float>(32, float(i % 100) / 100.0f), 2});
        QTRY_COMPARE(m_service->livePeaks().size(), std::size_t(900));
        QTRY_COMPARE(m_service->livePeaks().back(), 0.01f);
        QCOMPARE(m_service->livePeaks().front(), 0.02f);
        finish(m_service->stopRecording());
        finish(starting());
        QVERIFY(m_service->livePeaks().empty());
        auto samples = std::vector(4096, 0.1f), short1000 = std::vector(1000, 0.0f);
        samples[1] = 0.9f;      // stride 2 skips it
        short1000[999] = -1.5f; // stride 1 reaches it; clamped
        QCOMPARE(QList({AudioCaptureService::peakLevel(samples), AudioCaptureService::peakLevel(short1000),
                        AudioCaptureService::peakLevel({})}),
                 QList<std::optional<float>>({0.1f, 1.0f, std::nullopt}));
    }

    void writerQueueNeverBlocksAndReportsAFailureOnce()
    {
        std::atomic<int> peaks = 0, failures = 0;
        CaptureWriterQueue queue(std::make_unique<StuckWriter>(), 10 * 960, 48000,
                                 {[&](float) { ++peaks; }, {}, [&](const QString &) { ++failures; }});
        const auto opener = qScopeGuard([&] { gate.release(); }); // runs before the queue ends
        int accepted = 0;
        for (int i = 0; i < 26; ++i) {
            accepted += queue.push({std::vector<float>(1920, 0.25f), 2}) ? 1 : 0;
            if (i == 0)
                QTRY_COMPARE(writes.load(), 1); // the writer is stuck in it
        }
        QCOMPARE(accepted, 11); // the one being written and ten waiting
        QCOMPARE(queue.droppedBuffers(), 15);
        gate.release();
        QTRY_VERIFY(queue.writerFailed());
        QCOMPARE(queue.failureMessage(), full);
        QVERIFY_THROWS_EXCEPTION(AudioCaptureError, queue.finish());
        QCOMPARE(QList<int>({writes, peaks, failures}), QList<int>({1, 11, 1})); // nothing written after it
    }

    /// The levels a PCM take keeps while it is written are those of the file its writer makes
    /// (libsndfile rounds and clips), at the editor's and the fine resolution, for samples on
    /// every rounding edge, beyond full scale and not numbers at all, in WAV and AIFF.
    void pcmLevelsKeptWhileWritingAreTheFilesOwn_data()
    {
        QTest::addColumn<PcmCaptureWriter::Container>("container");
        QTest::addColumn<int>("frames");
        for (const auto &[name, container] : {std::pair{"wav", PcmCaptureWriter::Container::wave},
                                              std::pair{"aiff", PcmCaptureWriter::Container::aiff}}) {
            QTest::addRow("%s, fewer frames than buckets", name) << container << 1000;
            QTest::addRow("%s, 2.6 s", name) << container << 123457;
        }
    }

    void pcmLevelsKeptWhileWritingAreTheFilesOwn()
    {
        QFETCH(PcmCaptureWriter::Container, container);
        QFETCH(int, frames);
        QTemporaryDir dir;
        const auto path = dir.filePath("take");
        QFile(path).open(QIODevice::WriteOnly);
        PcmCaptureWriter writer(path, 48000, 2, container);
        CapturePeaks peaks(2);
        std::uint32_t noise = 99;
        std::vector<float> buffer;
        for (int written = 0; written < frames;) {
            const int count = std::min(frames - written, 4801);
            buffer.resize(std::size_t(count) * 2);
            for (int i = 0; i < count * 2; ++i) {
                noise = noise * 1664525u + 1013904223u;
                const int step = int(noise >> 16) - 32768;
                const int frame = written + i / 2;
                // Runs near a sample step (half a step off either way), beyond full scale, and NaN.
                const float offset = float(int(noise >> 8) % 3 - 1) / 65536.0f;
                buffer[std::size_t(i)] = frame % 997 == 5 ? 1.25f * float(frame % 2 ? 1 : -1)
                    : frame % 1999 == 7                   ? std::numeric_limits<float>::quiet_NaN()
                                                          : float(step) / 32768.0f + offset;
            }
            writer.write(buffer.data(), count);
            peaks.add(buffer.data(), count);
            written += count;
        }
        writer.finish();
        const auto decoded = EnvelopeJob::sequential(path, 1100);
        QCOMPARE(peaks.frames(), qint64(frames));
        QCOMPARE(peaks.finePeaks(), decoded.finePeaks);
        QCOMPARE(EnvelopeJob::fromFinePeaks(path, peaks.finePeaks(), peaks.fineFrames(), peaks.frames(), 1100),
                 std::optional(decoded));
        // Levels of another length are not this file's.
        QVERIFY(!EnvelopeJob::fromFinePeaks(path, peaks.finePeaks(), peaks.fineFrames(), peaks.frames() - 1, 1100));
    }

    /// A long take's runs double in length so that there are never more than 2^19 of them,
    /// each holding the loudest of the two it replaces.
    void longTakesKeepCoarserRuns()
    {
        CapturePeaks peaks(1);
        const std::int64_t frames = (std::int64_t(1) << 19) * 256 + 300;
        std::vector<float> block(1 << 20, 0.0f);
        for (std::int64_t done = 0; done < frames;) {
            const auto count = std::min<std::int64_t>(frames - done, std::int64_t(block.size()));
            std::fill(block.begin(), block.end(), 0.0f);
            for (const std::int64_t at : {std::int64_t(255), std::int64_t(256), frames - 1})
                if (at >= done && at < done + count)
                    block[std::size_t(at - done)] = at == 255 ? 0.25f : 0.5f;
            peaks.add(block.data(), count);
            done += count;
        }
        QCOMPARE(peaks.fineFrames(), 512);
        const auto levels = peaks.finePeaks();
        QCOMPARE(levels.size(), qsizetype((frames + 511) / 512));
        QCOMPARE(levels.front(), 0.5f);
        QCOMPARE(levels.back(), 0.5f);
        QCOMPARE(*std::max_element(levels.begin() + 1, levels.end() - 1), 0.0f);
    }
};

QTEST_GUILESS_MAIN(TestCaptureService)
#include "test_capture_service.moc"
