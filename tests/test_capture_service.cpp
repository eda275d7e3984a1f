// The capture service against a scripted sound server: states, names, writers, takes that end
// on their own (source gone, disk full), commands out of turn, teardown, the writer queue; and
// the wall-clock mix of an application's streams, fed as a server delivers them.

#include "analysis/EnvelopeJob.h"
#include "capture/AudioCaptureError.h"
#include "capture/AudioCaptureService.h"
#include "capture/CapturePeaks.h"
#include "capture/CaptureTargets.h"
#include "capture/CaptureWriterQueue.h"
#include "capture/PcmCaptureWriter.h"
#include "library/Formatters.h"
#include "platform/WallClockMix.h"
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

#include <functional>
#include <optional>

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
    void write(const std::int16_t *, std::int64_t) override
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
/// Writes nothing and checkpoints freely; its sync goes to a device that cannot sync, so every
/// sync the queue asks for fails where the test can see it.
struct UnsyncableWriter final : CaptureFileWriter {
    UnsyncableWriter() { keepForSync(QStringLiteral("/dev/null")); }
    void write(const std::int16_t *, std::int64_t) override {}
    void checkpoint() override { ++checkpoints; }
    void finish() override {}
    void cancel() override {}
    std::atomic<int> &checkpoints = writes;
};

/// Mono streams played into a mix on a simulated clock, in chunks of 50 ms, each received when
/// the case says; the mix is taken every 50 ms, 300 ms behind, as an application capture does.
struct MixTimeline {
    static constexpr std::int64_t chunk = 2400;
    static constexpr std::int64_t delay = 14400;
    struct Chunk {
        std::int64_t receivedAt;
        std::int64_t first; ///< the stream's frame count before it; -1 ends the stream
    };
    std::vector<Chunk> chunks;
    std::vector<std::int16_t> out;

    /// The value a stream's frame \a n carries, never 0, so where each frame landed can be read.
    static std::int16_t counter(std::int64_t n) { return std::int16_t(n % 32000 + 1); }
    void run(std::int64_t until)
    {
        WallClockMix mix(1, 48000, delay);
        std::stable_sort(chunks.begin(), chunks.end(),
                         [](const Chunk &a, const Chunk &b) { return a.receivedAt < b.receivedAt; });
        auto next = chunks.begin();
        for (std::int64_t now = 0; now <= until; now += chunk) {
            for (; next != chunks.end() && next->receivedAt <= now; ++next) {
                if (next->first < 0) {
                    mix.end(1);
                    continue;
                }
                std::vector<std::int16_t> samples(chunk);
                for (std::int64_t i = 0; i < chunk; ++i)
                    samples[std::size_t(i)] = counter(next->first + i);
                mix.add(1, samples.data(), chunk, next->receivedAt);
            }
            const auto taken = mix.take(now - delay);
            out.insert(out.end(), taken.begin(), taken.end());
        }
    }
    /// The first frame in [from, to) that is not \a expected.
    std::optional<std::int64_t> mismatch(std::int64_t from, std::int64_t to,
                                         const std::function<std::int16_t(std::int64_t)> &expected) const
    {
        for (auto frame = from; frame < to; ++frame)
            if (out.at(std::size_t(frame)) != expected(frame))
                return frame;
        return {};
    }
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
        return m_service->startRecording(folder(), {format, AudioBitRate::kbps192, 48000, channels},
                                         CaptureTargets::forInput(source));
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
        QVERIFY(m_service->state() == CaptureState::idle() && m_server.running() == 0);
        const auto signal = analyse(url, 0, 1);
        QCOMPARE(QList<double>({signal.sampleRate, double(signal.channels), double(signal.decoded)}),
                 QList<double>({48000, 2, 72000}));
        QVERIFY(std::abs(signal.peak - 0.5f) < 0.03f && std::abs(signal.frequency - 440) < 2);

        // Two takes of the same second keep a file each; a name held by a dangling link is taken.
        QVERIFY(QFile::link(m_dir.filePath(QStringLiteral("elsewhere")), base + " 2" + extension));
        AudioCaptureService other(m_server, m_clock);
        const auto first = finish(starting(format));
        const auto second = finish(other.startRecording(folder(), settings, CaptureTarget::defaultInput()));
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
        QVERIFY(m_service->state() == CaptureState::failed(message) && m_server.running() == 0);
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
        QCOMPARE(m_server.lastTarget(), CaptureTargets::forInput(source));
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
        QVERIFY(m_server.running() == 0 && m_server.opened.load() == 1);
        if (phase == 0)
            QCOMPARE(files() << failureOf(std::move(start)), QStringList(gone));
        else
            QCOMPARE(analyse(url, 0, 1).decoded, qint64(48000));
    }

    void livePeaksKeepTheLatest900ScannedAtMost2048SamplesEach()
    {
        finish(starting());
        for (int i = 1; i <= 901; ++i)
            m_server.deliver({std::vector<std::int16_t>(32, std::int16_t(i % 100 * 300)), 2});
        QTRY_COMPARE(m_service->livePeaks().size(), std::size_t(900));
        QTRY_COMPARE(m_service->livePeaks().back(), 300 / 32767.0f);
        QCOMPARE(m_service->livePeaks().front(), 600 / 32767.0f);
        finish(m_service->stopRecording());
        finish(starting());
        QVERIFY(m_service->livePeaks().empty());
        auto samples = std::vector<std::int16_t>(4096, 3277), short1000 = std::vector<std::int16_t>(1000, 0);
        samples[1] = 29490;      // stride 2 skips it
        short1000[999] = -32768; // stride 1 reaches it; clamped
        QCOMPARE(QList({AudioCaptureService::peakLevel(samples), AudioCaptureService::peakLevel(short1000),
                        AudioCaptureService::peakLevel({})}),
                 QList<std::optional<float>>({3277 / 32767.0f, 1.0f, std::nullopt}));
    }

    void writerQueueNeverBlocksAndReportsAFailureOnce()
    {
        std::atomic<int> peaks = 0, failures = 0;
        CaptureWriterQueue queue(std::make_unique<StuckWriter>(), 10 * 960, 48000, {}, 960,
                                 {[&](const std::vector<float> &levels) { peaks += int(levels.size()); },
                                  {},
                                  [&](const QString &) { ++failures; }});
        const auto opener = qScopeGuard([&] { gate.release(); }); // runs before the queue ends
        int accepted = 0;
        for (int i = 0; i < 26; ++i) {
            accepted +=
                queue.push(std::make_shared<CaptureBuffer>(CaptureBuffer{std::vector<std::int16_t>(1920, 8192), 2}))
                ? 1
                : 0;
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

    void aRunningTakeIsSyncedAfterItsCheckpointsOnlyWhenAsked_data()
    {
        QTest::addColumn<int>("interval"); // ms
        QTest::newRow("every millisecond") << 1;
        QTest::newRow("never") << 0;
    }
    void aRunningTakeIsSyncedAfterItsCheckpointsOnlyWhenAsked()
    {
        QFETCH(int, interval);
        writes = 0;
        QString failure;
        CaptureWriterQueue queue(std::make_unique<UnsyncableWriter>(), 48000 * 2, 48000,
                                 std::chrono::milliseconds(interval), 4800,
                                 {{}, {}, [&](const QString &message) { failure = message; }});
        // A second of audio at a time, each taken by the writer before the next, as a source
        // delivers it; the time between them lets the interval pass.
        for (int second = 1; second <= 5 && !queue.writerFailed(); ++second) {
            for (int i = 0; i < 25; ++i)
                QVERIFY(queue.push(
                    std::make_shared<CaptureBuffer>(CaptureBuffer{std::vector<std::int16_t>(3840, 8192), 2})));
            // After a failed sync the writer takes nothing more.
            QTRY_VERIFY(queue.writtenFrames() == second * 48000 || queue.writerFailed());
        }
        // Syncing waits for a checkpoint: a sync of nothing readable would be wasted.
        QVERIFY(writes.load() >= 1);
        QCOMPARE(queue.writerFailed(), interval > 0);
        if (interval > 0) {
            QCOMPARE(failure, AudioCaptureError::writeFailed(EINVAL).text());
            QVERIFY_THROWS_EXCEPTION(AudioCaptureError, queue.finish());
        } else {
            queue.finish();
            QCOMPARE(writes.load(), 5);
        }
    }

    /// The levels a PCM take keeps while it is written are those of the file its writer makes,
    /// at the editor's and the fine resolution, for samples at both ends of the range, in WAV
    /// and AIFF.
    void pcmLevelsKeptWhileWritingAreTheFilesOwn_data()
    {
        QTest::addColumn<PcmCaptureWriter::Container>("container");
        QTest::addColumn<int>("frames");
        for (const auto &[name, container] : {std::pair{"wav", PcmCaptureWriter::Container::wave},
                                              std::pair{"aiff", PcmCaptureWriter::Container::aiff}}) {
            QTest::addRow("%s, fewer frames than buckets", name) << container << 1000;
            QTest::addRow("%s, 2.6 s", name) << container << 123457;
            // Buckets of many runs: the runs read again lie far apart.
            QTest::addRow("%s, 102 s", name) << container << 4900001;
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
        std::vector<std::int16_t> buffer;
        for (int written = 0; written < frames;) {
            const int count = std::min(frames - written, 4801);
            buffer.resize(std::size_t(count) * 2);
            for (int i = 0; i < count * 2; ++i) {
                noise = noise * 1664525u + 1013904223u;
                const int frame = written + i / 2;
                // Runs that reach the most negative and the most positive sample.
                buffer[std::size_t(i)] = frame % 997 == 5 ? std::int16_t(frame % 2 ? 32767 : -32768)
                                                          : std::int16_t(int(noise >> 16) - 32768);
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
        std::vector<std::int16_t> block(1 << 20, 0);
        for (std::int64_t done = 0; done < frames;) {
            const auto count = std::min<std::int64_t>(frames - done, std::int64_t(block.size()));
            std::fill(block.begin(), block.end(), std::int16_t(0));
            for (const std::int64_t at : {std::int64_t(255), std::int64_t(256), frames - 1})
                if (at >= done && at < done + count)
                    block[std::size_t(at - done)] = at == 255 ? 8192 : 16384;
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

    void anApplicationStreamLandsWhereItPlayedHoweverItIsDelivered()
    {
        // Delivered as a sound server delivers a stream that just started: 150 ms at once, then
        // bursts of 300 ms, then every 50 ms a little late. Every frame lands once, where it played.
        constexpr std::int64_t begins = 46000, chunk = MixTimeline::chunk;
        const std::int64_t late[] = {0, 480, 960, 240, 720};
        MixTimeline bursts;
        for (std::int64_t k = 0; k < 60; ++k) {
            const auto receivedAt = k < 3 ? begins + 3 * chunk
                : k < 21                  ? begins + (3 + 6 * ((k - 3) / 6 + 1)) * chunk
                                          : begins + (k + 1) * chunk + late[k % 5];
            bursts.chunks.push_back({receivedAt, k * chunk});
        }
        bursts.run(begins + 62 * chunk + MixTimeline::delay);
        const auto played = [&](std::int64_t frame) {
            return frame < begins ? std::int16_t(0) : MixTimeline::counter(frame - begins);
        };
        QCOMPARE(bursts.mismatch(0, begins + 60 * chunk, played), std::nullopt);

        // Paused for 500 ms (its place has gone), then for 100 ms (found within a second), then
        // ended: silence where it paused, and the audio still pending when it ended is kept.
        MixTimeline pauses;
        std::int64_t sent = 0;
        for (const auto &[from, to] : {std::pair(0, 48000), std::pair(72000, 120000), std::pair(124800, 220800)})
            for (std::int64_t play = from; play < to; play += chunk, sent += chunk)
                pauses.chunks.push_back({play + chunk + late[(play / chunk) % 5], sent});
        pauses.chunks.push_back({220800 + chunk + late[4] + 1, -1});
        pauses.run(240000 + MixTimeline::delay);
        QCOMPARE(pauses.mismatch(0, 48000, MixTimeline::counter), std::nullopt);
        QCOMPARE(pauses.mismatch(48000, 72000, [](std::int64_t) { return std::int16_t(0); }), std::nullopt);
        QCOMPARE(pauses.mismatch(72000, 120000, [](std::int64_t f) { return MixTimeline::counter(f - 24000); }),
                 std::nullopt);
        QCOMPARE(pauses.mismatch(180000, 220800, [](std::int64_t f) { return MixTimeline::counter(f - 28800); }),
                 std::nullopt);
        QCOMPARE(pauses.mismatch(220800, 240000, [](std::int64_t) { return std::int16_t(0); }), std::nullopt);
        // Nothing doubled, nothing dropped.
        std::vector<std::int16_t> heard;
        std::copy_if(pauses.out.begin(), pauses.out.end(), std::back_inserter(heard), [](auto v) { return v != 0; });
        QCOMPARE(std::int64_t(heard.size()), sent);
        QCOMPARE(std::adjacent_find(heard.begin(), heard.end(), [](auto a, auto b) { return b != a % 32000 + 1; }),
                 heard.end());

        // A clock 0.5 % faster than the wall's: of its 96 ms too many in 20 s, what passes 60 ms
        // is given up at once, not a little in every chunk.
        MixTimeline fast;
        for (std::int64_t k = 0; k < 400; ++k)
            fast.chunks.push_back({(k + 1) * 2388 + late[k % 5], k * chunk});
        fast.run(401 * 2388 + MixTimeline::delay);
        std::vector<std::int64_t> skips;
        for (std::size_t i = 1; i < fast.out.size(); ++i)
            if (fast.out[i - 1] != 0 && fast.out[i] != 0 && fast.out[i] != fast.out[i - 1] % 32000 + 1)
                skips.push_back((fast.out[i] - fast.out[i - 1] - 1 + 32000) % 32000);
        QCOMPARE(skips.size(), std::size_t(1));
        QVERIFY2(skips[0] >= chunk && skips[0] <= 2 * chunk, qPrintable(QString::number(skips[0])));
    }

    void streamsAreSummedWithinRangeAndHolesAreSilent()
    {
        WallClockMix mix(2, 48000, 4800);
        const std::vector<std::int16_t> loud(960, 30000), soft(960, -100);
        mix.add(1, loud.data(), 480, 480);
        mix.add(2, loud.data(), 480, 480);
        mix.add(2, nullptr, 480, 960);
        mix.add(2, soft.data(), 480, 1440);
        mix.end(2);
        const auto mixed = mix.take(1440);
        QCOMPARE(mixed.size(), std::size_t(2880));
        QCOMPARE(std::count(mixed.begin(), mixed.begin() + 960, std::int16_t(32767)), 960);
        QCOMPARE(std::count(mixed.begin() + 960, mixed.begin() + 1920, std::int16_t(0)), 960);
        QCOMPARE(std::count(mixed.begin() + 1920, mixed.end(), std::int16_t(-100)), 960);
        QVERIFY(mix.take(1440).empty());
        QCOMPARE(mix.take(1920), std::vector<std::int16_t>(960, 0));
    }
};

QTEST_GUILESS_MAIN(TestCaptureService)
#include "test_capture_service.moc"
