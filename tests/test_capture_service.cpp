// The capture service against a scripted sound server: states, names, every writer, takes
// that end on their own (source gone, disk full), teardown mid-start and mid-stop, the queue.

#include "capture/AacCaptureWriter.h"
#include "capture/AudioCaptureError.h"
#include "capture/AudioCaptureService.h"
#include "capture/CaptureWriterQueue.h"
#include "library/Formatters.h"
#include "media/AudioFileReader.h"
#include "support/AudioFixtures.h"
#include "support/FakeClock.h"
#include "support/FakeSoundServer.h"
#include "support/SignalAnalysis.h"
#include "support/TaskRunner.h"

#include <QDir>
#include <QScopeGuard>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <sys/resource.h>

#include <atomic>
#include <cmath>
#include <csignal>

namespace {
using Format = RecordingOutputFormat;
const QString busy = QStringLiteral("A recording is already running.");
const QString inactive = QStringLiteral("No recording is active.");
const QString diskFull = QStringLiteral("The disk is full.");
const QString sourceGone = QStringLiteral("The audio source stopped during the recording.");

/// Writes past \a bytes fail with EFBIG, as on a full disk, while it lives.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &m_original);
        rlimit limited = m_original;
        limited.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limited);
    }
    ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &m_original); }

private:
    rlimit m_original{};
};

/// Writer threads of this process still running.
int writerThreads()
{
    int count = 0;
    for (const auto &task : QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(QStringLiteral("/proc/self/task/%1/comm").arg(task));
        count += comm.open(QIODevice::ReadOnly) && comm.readAll().startsWith("com.vespertone") ? 1 : 0;
    }
    return count;
}

/// Counts what it is given; write() can be held at a gate that opens by itself after 10 s.
class GatedWriter final : public CaptureFileWriter {
public:
    struct Log {
        std::atomic<qint64> frames = 0;
        std::atomic<int> entered = 0;
        std::atomic<bool> finished = false, cancelled = false, failWrites = false;
        QSemaphore gate{1};
    };
    explicit GatedWriter(std::shared_ptr<Log> log) : m_log(std::move(log)) {}
    void write(const float *, std::int64_t frames) override
    {
        ++m_log->entered;
        if (m_log->gate.tryAcquire(1, 10000))
            m_log->gate.release();
        if (m_log->failWrites)
            throw AudioCaptureError::writeFailed(ENOSPC);
        m_log->frames += frames;
    }
    void checkpoint() override {}
    void finish() override { m_log->finished = true; }
    void cancel() override { m_log->cancelled = true; }

private:
    std::shared_ptr<Log> m_log;
};
} // namespace

Q_DECLARE_METATYPE(Format)
Q_DECLARE_METATYPE(RecordingInputSource)
Q_DECLARE_METATYPE(SoundServerError::Code)

class TestCaptureService : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    FakeSoundServer m_server;
    FakeClock m_clock;
    std::unique_ptr<AudioCaptureService> m_service;

    [[nodiscard]] QString folder() const { return m_dir.filePath(QStringLiteral("Library")); }
    QCoro::Task<QString> starting(Format format = Format::wavPCM,
                                  RecordingInputSource source = RecordingInputSource::macAudio)
    {
        return m_service->startRecording(folder(), {format, AudioBitRate::kbps192, 48000, 2}, source);
    }
    QString start(Format format = Format::wavPCM) { return finish(starting(format)); }
    QString stop() { return finish(m_service->stopRecording()); }
    [[nodiscard]] QStringList files() const
    {
        return QDir(folder()).entryList(QDir::Files) + QDir(folder() + "/.vespertone/tmp").entryList(QDir::Files);
    }
    static void formats(std::initializer_list<Format> list)
    {
        QTest::addColumn<Format>("format");
        for (const auto format : list)
            QTest::newRow(qPrintable(RecordingOutputFormats::rawValue(format))) << format;
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
        QTRY_COMPARE_WITH_TIMEOUT(writerThreads(), 0, 1000); // a joined thread takes a moment to go
    }

    void takeIsWrittenInTheChosenFormat_data()
    {
        formats({Format::aacM4A, Format::mp3LAME, Format::wavPCM, Format::aiffPCM});
    }
    void takeIsWrittenInTheChosenFormat()
    {
        QFETCH(Format, format);
        const auto extension = QStringLiteral(".") + RecordingEncodingSettings{format, {}, 0, 0}.pathExtension();
        const auto directory = format == Format::mp3LAME ? folder() + "/.vespertone/tmp" : folder();
        const auto base = directory + "/Vespertone " + AppDateFormatters::fileStamp(m_clock.now());
        QSignalSpy states(m_service.get(), &AudioCaptureService::stateChanged);
        const auto url = start(format);
        QCOMPARE(url, base + extension);
        QCOMPARE(m_service->activeURL(), std::optional(url));
        QCOMPARE(m_service->state(), CaptureState::recording(m_clock.now()));
        QCOMPARE(states.count(), 2);
        m_server.feedSine(1.5);
        QCOMPARE(stop(), url);
        QCOMPARE(m_service->state(), CaptureState::idle());
        QVERIFY(!m_service->activeURL() && !m_server.running());
        const auto signal = analyse(url, 0, 1);
        QCOMPARE(signal.sampleRate, 48000.0);
        QCOMPARE(signal.channels, 2);
        QCOMPARE(signal.length, qint64(72000));
        QCOMPARE(signal.decoded, qint64(72000));
        QVERIFY2(std::abs(signal.peak - 0.5f) < 0.03f && std::abs(signal.frequency - 440) < 2,
                 qPrintable(QStringLiteral("%1 at %2 Hz").arg(signal.peak).arg(signal.frequency)));
        QCOMPARE(files().size(), 1); // nothing left in the work folder

        // Two takes started in the same second both keep their own file; a name taken by a
        // dangling link is taken too, and nothing is written through the link.
        const auto elsewhere = m_dir.filePath(QStringLiteral("elsewhere"));
        QVERIFY(QFile::link(elsewhere, base + " 2" + extension));
        AudioCaptureService other(m_server, m_clock);
        const auto first = start(format);
        const auto second = finish(other.startRecording(folder(), {format, AudioBitRate::kbps192, 48000, 2},
                                                        RecordingInputSource::microphone));
        QCOMPARE(QStringList({first, second}), QStringList({base + " 3" + extension, base + " 4" + extension}));
        QCOMPARE(stop(), first);
        QCOMPARE(finish(other.stopRecording()), second);
        QCOMPARE(files().size(), 3); // a dangling link is not listed
        QVERIFY(!QFile::exists(elsewhere));
    }

    void commandsAreRefusedOutOfTurn()
    {
        QCOMPARE(failureOf(m_service->stopRecording()), inactive);
        QCOMPARE(m_service->state(), CaptureState::idle());
        m_server.holdOpen = true;
        auto pending = starting();
        QCOMPARE(m_service->state(), CaptureState::preparing());
        QCOMPARE(failureOf(starting()), busy);
        QCOMPARE(failureOf(m_service->stopRecording()), inactive);
        m_server.openGate.release();
        const auto url = finish(std::move(pending));
        m_server.holdOpen = false;
        QCOMPARE(failureOf(starting()), busy);
        auto stopping = m_service->stopRecording();
        QCOMPARE(m_service->state(), CaptureState::finishing());
        QCOMPARE(failureOf(starting()), busy);
        QCOMPARE(failureOf(m_service->stopRecording()), inactive);
        QCOMPARE(finish(std::move(stopping)), url);
        QCOMPARE(m_service->state(), CaptureState::idle());
        QCOMPARE(files(), QStringList(QFileInfo(url).fileName()));
    }

    void failedStartsNameTheCauseAndLeaveNothing_data()
    {
        QTest::addColumn<std::optional<SoundServerError::Code>>("failure");
        QTest::addColumn<RecordingInputSource>("source");
        QTest::addColumn<int>("channels");
        QTest::addColumn<bool>("folderIsAFile");
        QTest::addColumn<QString>("message");
        using Code = SoundServerError::Code;
        const auto mac = RecordingInputSource::macAudio, mic = RecordingInputSource::microphone;
        const auto noOutput = QStringLiteral("No audio output was available for system audio capture.");
        const auto noInput = QStringLiteral("No microphone input was available.");
        QTest::newRow("unreachable") << std::optional(Code::unreachable) << mac << 2 << false
                                     << QStringLiteral("The sound server could not be reached.");
        QTest::newRow("no sink") << std::optional(Code::noDefaultSink) << mac << 2 << false << noOutput;
        QTest::newRow("no source") << std::optional(Code::noDefaultSource) << mic << 2 << false << noInput;
        QTest::newRow("monitor refused") << std::optional(Code::streamFailed) << mac << 2 << false << noOutput;
        QTest::newRow("input refused") << std::optional(Code::streamFailed) << mic << 2 << false << noInput;
        QTest::newRow("folder is a file") << std::optional<Code>() << mac << 2 << true
                                          << QStringLiteral("“Library” couldn’t be created: Not a directory");
        QTest::newRow("no channels") << std::optional<Code>() << mac << 0 << false
                                     << QStringLiteral("The audio writer could not be prepared.");
    }
    void failedStartsNameTheCauseAndLeaveNothing()
    {
        QFETCH(std::optional<SoundServerError::Code>, failure);
        QFETCH(RecordingInputSource, source);
        QFETCH(int, channels);
        QFETCH(bool, folderIsAFile);
        QFETCH(QString, message);
        m_server.openFailure = failure;
        if (folderIsAFile)
            QVERIFY(QFile(folder()).open(QIODevice::WriteOnly));
        const RecordingEncodingSettings settings{Format::aacM4A, AudioBitRate::kbps192, 48000, channels};
        QCOMPARE(failureOf(m_service->startRecording(folder(), settings, source)), message);
        QCOMPARE(m_service->state(), CaptureState::failed(message));
        QVERIFY(!m_service->activeURL());
        QCOMPARE(m_server.opened.load(), 0);
        QFile::remove(folder());
        QCOMPARE(files(), QStringList());

        // Once the cause is gone, the same input records from its own device.
        m_server.openFailure.reset();
        QVERIFY(failureOf(starting(Format::aacM4A, source)).isNull());
        QCOMPARE(m_server.lastDevice(),
                 source == RecordingInputSource::microphone ? SoundServer::CaptureDevice::defaultSource
                                                            : SoundServer::CaptureDevice::defaultSinkMonitor);
    }

    void takeEndingOnItsOwnKeepsAPlayableFile_data()
    {
        QTest::addColumn<Format>("format");
        QTest::addColumn<rlim_t>("limit"); // 0: the source ends instead
        QTest::addColumn<QString>("message");
        QTest::newRow("m4a, source gone") << Format::aacM4A << rlim_t(0) << sourceGone;
        QTest::newRow("wav, source gone") << Format::wavPCM << rlim_t(0) << sourceGone;
        QTest::newRow("m4a, disk full") << Format::aacM4A << rlim_t(80000) << diskFull;
        QTest::newRow("mp3 wav, disk full") << Format::mp3LAME << rlim_t(300000) << diskFull;
        QTest::newRow("aiff, disk full") << Format::aiffPCM << rlim_t(300000) << diskFull;
    }
    void takeEndingOnItsOwnKeepsAPlayableFile()
    {
        QFETCH(Format, format);
        QFETCH(rlim_t, limit);
        QFETCH(QString, message);
        QSignalSpy interrupted(m_service.get(), &AudioCaptureService::recordingInterrupted);
        const auto url = start(format);
        {
            std::optional<FileSizeLimit> full;
            if (limit)
                full.emplace(limit);
            m_server.feedSine(limit ? 6 : 1);
            if (!limit)
                m_server.failSource();
            QVERIFY(interrupted.wait());
        }
        QCOMPARE(interrupted.first(), QVariantList({url, message}));
        QCOMPARE(m_service->state(), CaptureState::failed(message));
        QVERIFY(!m_service->activeURL() && !m_server.running());
        const auto signal = analyse(url, 0, 1);
        QCOMPARE(signal.decoded, signal.length);
        // All the source gave; or what reached the disk before it filled (M4A: whole fragments).
        QVERIFY2(limit ? signal.length >= 48000 && signal.length < 5 * 48000 : signal.length == 48000,
                 qPrintable(QString::number(signal.length)));
        QCOMPARE(failureOf(m_service->stopRecording()), inactive);
        QVERIFY(failureOf(starting(format)).isNull());
    }

    void teardownMidStartOrStopLeavesNothingRunning_data()
    {
        QTest::addColumn<int>("phase");
        QTest::newRow("opening the source") << 0;
        QTest::newRow("recording") << 1;
        QTest::newRow("stopping") << 2;
    }
    void teardownMidStartOrStopLeavesNothingRunning()
    {
        QFETCH(int, phase);
        m_server.holdOpen = phase == 0;
        auto starting = this->starting(Format::aacM4A);
        std::optional<QCoro::Task<QString>> stopping;
        if (phase > 0) {
            finish(std::move(starting));
            m_server.feedSine(1);
        }
        if (phase == 2)
            stopping = m_service->stopRecording();
        m_server.openGate.release();
        const auto url = *m_service->activeURL();
        m_service.reset(); // waits for the open or the finish in flight
        QTRY_COMPARE_WITH_TIMEOUT(writerThreads(), 0, 1000);
        QVERIFY(!m_server.running());
        QCOMPARE(m_server.opened.load(), 1);
        if (phase == 0) {
            QVERIFY(!failureOf(std::move(starting)).isEmpty());
            QCOMPARE(files(), QStringList());
        } else {
            QCOMPARE(analyse(url, 0, 1).decoded, qint64(48000));
        }
    }

    void livePeaksKeepTheLatest900()
    {
        start();
        for (int i = 1; i <= 901; ++i)
            m_server.deliver({std::vector<float>(32, float(i % 100) / 100.0f), 2});
        QTRY_COMPARE(m_service->livePeaks().size(), std::size_t(900));
        QTRY_COMPARE(m_service->livePeaks().back(), 0.01f);
        for (int i = 2; i <= 901; ++i)
            QCOMPARE(m_service->livePeaks()[i - 2], float(i % 100) / 100.0f);
        stop();
        QCOMPARE(m_service->livePeaks().size(), std::size_t(900));
        start();
        QVERIFY(m_service->livePeaks().empty());
    }

    void peakLevelScansAtMost2048Samples()
    {
        const auto peak = [](std::vector<float> samples, std::size_t index, float value) {
            samples[index] = value;
            return AudioCaptureService::peakLevel(samples).value_or(-1);
        };
        QCOMPARE(peak(std::vector(4096, 0.1f), 1, 0.9f), 0.1f); // stride 2 skips it
        QCOMPARE(peak(std::vector(4096, 0.1f), 2, -0.7f), 0.7f);
        QCOMPARE(peak(std::vector(1000, 0.0f), 999, 0.3f), 0.3f); // stride 1 reaches the end
        QCOMPARE(peak(std::vector(1000, 0.0f), 0, -1.5f), 1.0f);
        QVERIFY(!AudioCaptureService::peakLevel({}));
    }

    void killedM4ATakeReadsFromItsFirstFrame()
    {
        // The file as a killed take leaves it: fragments closed by checkpoints, no trailer.
        QDir().mkpath(folder());
        const auto path = folder() + "/fragmented.m4a", killed = folder() + "/killed.m4a";
        const auto tone = AudioFixtures::sine(2 * 48000, 440, 0.5);
        AacCaptureWriter writer(path, 48000, 2, 192000);
        writer.write(tone.data(), 48000);
        writer.checkpoint();
        writer.write(tone.data() + 2 * 48000, 48000);
        writer.checkpoint();
        QVERIFY(QFile::copy(path, killed));
        writer.cancel();
        QVERIFY(!QFile::exists(path));
        AudioFileReader reader(killed);
        QVERIFY2(reader.length() > 47000 && reader.length() <= 2 * 48000, qPrintable(QString::number(reader.length())));
        for (const qint64 frame : {qint64(0), qint64(30000), reader.length() - 256}) {
            reader.seek(frame);
            AudioBuffer buffer;
            QCOMPARE(reader.read(buffer, 256), 256);
            for (int i = 0; i < 256; ++i)
                QVERIFY2(std::abs(buffer.channels[0][i] - tone[2 * (frame + i)]) <= 0.02f,
                         qPrintable(QString::number(frame + i)));
        }
    }

    void writerQueueNeverBlocksAndReportsFailureOnce()
    {
        auto log = std::make_shared<GatedWriter::Log>();
        QVERIFY(log->gate.tryAcquire()); // the writer is stuck in its first write
        std::atomic<int> peaks = 0, failures = 0;
        {
            CaptureWriterQueue queue(std::make_unique<GatedWriter>(log), 10 * 960, 48000,
                                     {[&](float) { ++peaks; }, {}, [&](const QString &) { ++failures; }});
            const auto gateOpener = qScopeGuard([&] { log->gate.release(); });
            QVERIFY(queue.push({std::vector<float>(1920, 0.25f), 2}));
            QTRY_COMPARE(log->entered.load(), 1);
            int accepted = 1;
            for (int i = 0; i < 25; ++i)
                accepted += queue.push({std::vector<float>(1920, 0.25f), 2}) ? 1 : 0;
            QCOMPARE(accepted, 11); // the one being written and ten waiting
            QCOMPARE(queue.droppedBuffers(), 15);
            log->failWrites = true;
            log->gate.release();
            QTRY_VERIFY(queue.writerFailed());
            QCOMPARE(queue.failureMessage(), diskFull);
            QVERIFY_THROWS_EXCEPTION(AudioCaptureError, queue.finish());
            QVERIFY_THROWS_EXCEPTION(AudioCaptureError, queue.finish());
            QCOMPARE(peaks.load(), accepted);
            QVERIFY(log->finished && !log->cancelled);
            QVERIFY(!queue.push({std::vector<float>(2, 0), 2}));
        }
        QCOMPARE(failures.load(), 1);
        QCOMPARE(log->entered.load(), 1); // nothing was written after the failure

        // A queue dropped unfinished discards its file.
        auto dropped = std::make_shared<GatedWriter::Log>();
        {
            CaptureWriterQueue unfinished(std::make_unique<GatedWriter>(dropped), 48000, 48000, {});
        }
        QVERIFY(dropped->cancelled && !dropped->finished);
    }
};

QTEST_GUILESS_MAIN(TestCaptureService)
#include "test_capture_service.moc"
