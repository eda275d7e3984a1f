// The capture service against a scripted sound server: state machine, naming, writers,
// live peaks, the writer queue and the failure paths.

#include "capture/AacCaptureWriter.h"
#include "capture/AudioCaptureError.h"
#include "capture/AudioCaptureService.h"
#include "capture/CaptureWriterQueue.h"
#include "library/Formatters.h"
#include "media/AudioFileReader.h"
#include "platform/SoundServer.h"
#include "platform/SoundServerError.h"
#include "support/FakeClock.h"
#include "support/FakeSoundServer.h"
#include "support/SignalAnalysis.h"
#include "support/TaskRunner.h"

#include <QDir>
#include <QFile>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <qcoro/qcorotask.h>

#include <sys/resource.h>

#include <atomic>
#include <cmath>
#include <csignal>
#include <span>

namespace {

constexpr int rate = 48000;

/// Stereo sine frames starting at frame \a offset.
CaptureBuffer sineBuffer(qint64 offset, qint64 frames)
{
    CaptureBuffer buffer;
    buffer.samples.resize(frames * 2);
    for (qint64 i = 0; i < frames; ++i)
        buffer.samples[2 * i] = buffer.samples[2 * i + 1] =
            float(0.5 * std::sin(2 * M_PI * 440 * double(offset + i) / rate));
    return buffer;
}

/// Feeds \a seconds of a 440 Hz sine; returns the frames delivered.
qint64 feed(FakeSoundServer &server, double seconds)
{
    server.feedSine(seconds);
    return qint64(seconds * rate);
}

RecordingEncodingSettings settingsFor(RecordingOutputFormat format)
{
    return {format, AudioBitRate::kbps192, 48000, 2};
}

/// A file writer that counts what it gets and can be held inside write().
class CountingWriter final : public CaptureFileWriter {
public:
    struct Log {
        std::atomic<qint64> frames = 0;
        std::atomic<int> entered = 0;
        std::atomic<bool> finished = false, cancelled = false;
        QSemaphore gate{1000000};
        bool failWrites = false;
    };
    explicit CountingWriter(std::shared_ptr<Log> log) : m_log(std::move(log)) {}
    void write(const float *, std::int64_t frames) override
    {
        ++m_log->entered;
        m_log->gate.acquire();
        m_log->gate.release();
        if (m_log->failWrites)
            throw AudioCaptureError::writerFailed(AudioCaptureError::notSavedMessage());
        m_log->frames += frames;
    }
    void checkpoint() override {}
    void finish() override { m_log->finished = true; }
    void cancel() override { m_log->cancelled = true; }

private:
    std::shared_ptr<Log> m_log;
};

const QString busy = QStringLiteral("A recording is already running.");
const QString inactive = QStringLiteral("No recording is active.");

} // namespace

Q_DECLARE_METATYPE(RecordingOutputFormat)
Q_DECLARE_METATYPE(RecordingInputSource)
Q_DECLARE_METATYPE(SoundServerError::Code)

class TestCaptureService : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    FakeSoundServer m_server;
    FakeClock m_clock;
    std::unique_ptr<AudioCaptureService> m_service;

    [[nodiscard]] QString folder() const { return m_dir.filePath(QStringLiteral("Library")); }
    [[nodiscard]] QString stamped(const QString &suffix) const
    {
        return QStringLiteral("Vespertone ") + AppDateFormatters::fileStamp(m_clock.now()) + suffix;
    }
    QCoro::Task<QString> starting(RecordingOutputFormat format = RecordingOutputFormat::wavPCM,
                                  RecordingInputSource source = RecordingInputSource::macAudio)
    {
        return m_service->startRecording(folder(), settingsFor(format), source);
    }
    QString start(RecordingOutputFormat format = RecordingOutputFormat::wavPCM,
                  RecordingInputSource source = RecordingInputSource::macAudio)
    {
        return finish(starting(format, source));
    }
    QString stop() { return finish(m_service->stopRecording()); }
    [[nodiscard]] QStringList audioFiles() const
    {
        return QDir(folder()).entryList({"*.m4a", "*.wav", "*.aiff"}, QDir::Files)
            + QDir(folder() + QStringLiteral("/.vespertone/tmp")).entryList(QDir::Files);
    }
    void verifyRecordingAgain(RecordingOutputFormat format = RecordingOutputFormat::wavPCM,
                              RecordingInputSource source = RecordingInputSource::macAudio)
    {
        start(format, source);
        QVERIFY(m_service->state().is(CaptureState::Kind::recording));
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

    void cleanup() { m_service.reset(); }

    void takeIsWrittenInTheChosenFormat_data()
    {
        QTest::addColumn<RecordingOutputFormat>("format");
        QTest::addColumn<QString>("extension");
        QTest::newRow("m4a") << RecordingOutputFormat::aacM4A << QStringLiteral(".m4a");
        QTest::newRow("mp3 intermediate") << RecordingOutputFormat::mp3LAME << QStringLiteral(".wav");
        QTest::newRow("wav") << RecordingOutputFormat::wavPCM << QStringLiteral(".wav");
        QTest::newRow("aiff") << RecordingOutputFormat::aiffPCM << QStringLiteral(".aiff");
    }
    void takeIsWrittenInTheChosenFormat()
    {
        QFETCH(RecordingOutputFormat, format);
        QFETCH(QString, extension);
        const bool mp3 = format == RecordingOutputFormat::mp3LAME;
        QSignalSpy states(m_service.get(), &AudioCaptureService::stateChanged);

        const auto url = start(format);
        const auto directory = mp3 ? folder() + QStringLiteral("/.vespertone/tmp") : folder();
        QCOMPARE(url, directory + u'/' + stamped(extension));
        QCOMPARE(m_service->activeURL(), std::optional(url));
        QCOMPARE(m_service->state(), CaptureState::recording(m_clock.now()));
        QCOMPARE(states.count(), 2); // preparing, recording
        QCOMPARE(m_server.lastDevice(), SoundServer::CaptureDevice::defaultSinkMonitor);

        const auto frames = feed(m_server, 1.5);
        QCOMPARE(stop(), url);
        QCOMPARE(m_service->state(), CaptureState::idle());
        QVERIFY(!m_service->activeURL());
        QVERIFY(!m_server.running());

        const auto signal = analyse(url, 0, 1);
        QCOMPARE(signal.sampleRate, 48000.0);
        QCOMPARE(signal.channels, 2);
        QCOMPARE(signal.length, frames);
        QCOMPARE(signal.decoded, frames);
        QVERIFY2(std::abs(signal.peak - 0.5f) < 0.03f, qPrintable(QString::number(signal.peak)));
        QVERIFY2(std::abs(signal.frequency - 440) < 2, qPrintable(QString::number(signal.frequency)));
        QCOMPARE(QDir(folder() + QStringLiteral("/.vespertone/tmp")).entryList(QDir::Files).size(), mp3 ? 1 : 0);

        // A take with no audio at all still finishes into a file; one in the same second gets a number.
        const auto empty = start(format);
        QCOMPARE(empty, directory + u'/' + stamped(QStringLiteral(" 2") + extension));
        QCOMPARE(stop(), empty);
        QCOMPARE(m_service->state(), CaptureState::idle());
        QVERIFY(QFile::exists(empty));
    }

    void commandsAreRefusedOutOfTurn()
    {
        QSignalSpy states(m_service.get(), &AudioCaptureService::stateChanged);
        QCOMPARE(failureOf(m_service->stopRecording()), inactive);
        QCOMPARE(m_service->state(), CaptureState::idle());
        QCOMPARE(states.count(), 0);

        m_server.holdOpen = true;
        auto pending = starting();
        QCOMPARE(m_service->state(), CaptureState::preparing());
        QCOMPARE(failureOf(starting()), busy);
        QCOMPARE(failureOf(m_service->stopRecording()), inactive);
        QCOMPARE(m_service->state(), CaptureState::preparing());
        m_server.openGate.release();
        const auto url = finish(std::move(pending));
        m_server.holdOpen = false;

        QCOMPARE(failureOf(starting(RecordingOutputFormat::wavPCM, RecordingInputSource::microphone)), busy);
        QCOMPARE(m_service->state(), CaptureState::recording(m_clock.now()));

        auto stopping = m_service->stopRecording();
        QCOMPARE(m_service->state(), CaptureState::finishing());
        QCOMPARE(failureOf(starting()), busy);
        QCOMPARE(failureOf(m_service->stopRecording()), inactive);
        QCOMPARE(finish(std::move(stopping)), url);
        QCOMPARE(m_service->state(), CaptureState::idle());
        QCOMPARE(audioFiles().size(), 1);
    }

    void sourceThatCannotOpenFailsTheStart_data()
    {
        QTest::addColumn<SoundServerError::Code>("failure");
        QTest::addColumn<RecordingInputSource>("source");
        QTest::addColumn<QString>("message");
        using Code = SoundServerError::Code;
        const auto noOutput = QStringLiteral("No audio output was available for system audio capture.");
        const auto noInput = QStringLiteral("No microphone input was available.");
        QTest::newRow("unreachable") << Code::unreachable << RecordingInputSource::macAudio
                                     << QStringLiteral("The sound server could not be reached.");
        QTest::newRow("no sink") << Code::noDefaultSink << RecordingInputSource::macAudio << noOutput;
        QTest::newRow("no source") << Code::noDefaultSource << RecordingInputSource::microphone << noInput;
        QTest::newRow("monitor refused") << Code::streamFailed << RecordingInputSource::macAudio << noOutput;
        QTest::newRow("input refused") << Code::streamFailed << RecordingInputSource::microphone << noInput;
    }
    void sourceThatCannotOpenFailsTheStart()
    {
        QFETCH(SoundServerError::Code, failure);
        QFETCH(RecordingInputSource, source);
        QFETCH(QString, message);
        m_server.openFailure = failure;
        QCOMPARE(failureOf(starting(RecordingOutputFormat::aacM4A, source)), message);
        QCOMPARE(m_service->state(), CaptureState::failed(message));
        QVERIFY(!m_service->activeURL());
        QCOMPARE(audioFiles(), QStringList());

        // Once the source is back, the same input records from its own device.
        m_server.openFailure.reset();
        verifyRecordingAgain(RecordingOutputFormat::aacM4A, source);
        QCOMPARE(m_server.lastDevice(),
                 source == RecordingInputSource::microphone ? SoundServer::CaptureDevice::defaultSource
                                                            : SoundServer::CaptureDevice::defaultSinkMonitor);
    }

    void writerThatCannotBePreparedFailsTheStart()
    {
        const auto message = QStringLiteral("The audio writer could not be prepared.");
        QVERIFY(QFile(folder()).open(QIODevice::WriteOnly)); // a file where the folder should be
        QCOMPARE(failureOf(starting()), message);
        QCOMPARE(m_service->state(), CaptureState::failed(message));
        QFile::remove(folder());

        auto unusable = settingsFor(RecordingOutputFormat::aacM4A);
        unusable.channelCount = 0;
        QCOMPARE(failureOf(m_service->startRecording(folder(), unusable, RecordingInputSource::macAudio)), message);
        QCOMPARE(m_server.opened.load(), 0);
        QCOMPARE(audioFiles(), QStringList());
    }

    void interruptedTakesKeepTheFile_data()
    {
        QTest::addColumn<RecordingOutputFormat>("format");
        QTest::newRow("m4a") << RecordingOutputFormat::aacM4A;
        QTest::newRow("wav") << RecordingOutputFormat::wavPCM;
    }
    void interruptedTakesKeepTheFile()
    {
        QFETCH(RecordingOutputFormat, format);
        QSignalSpy interrupted(m_service.get(), &AudioCaptureService::recordingInterrupted);
        const auto url = start(format);
        const auto frames = feed(m_server, 1.0);
        m_server.failSource();
        QVERIFY(interrupted.wait());
        QCOMPARE(interrupted.first().first().toString(), url);
        QCOMPARE(m_service->state(),
                 CaptureState::failed(QStringLiteral("The audio source stopped during the recording.")));
        QVERIFY(!m_service->activeURL());
        QCOMPARE(analyse(url, 0, 1).decoded, frames);
        QCOMPARE(failureOf(m_service->stopRecording()), inactive);

        // The next take records, and destroying the service mid-take keeps what it wrote.
        const auto next = start(format);
        QVERIFY(m_service->state().is(CaptureState::Kind::recording));
        const auto nextFrames = feed(m_server, 0.5);
        m_service.reset();
        QVERIFY(!m_server.running());
        QCOMPARE(analyse(next, 0, 1).decoded, nextFrames);
    }

    void failedFinishEndsInFailed()
    {
        // Writes past this size fail with EFBIG, as on a full disk.
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit original{};
        getrlimit(RLIMIT_FSIZE, &original);
        const auto url = start();
        rlimit limited = original;
        limited.rlim_cur = 64 * 1024;
        setrlimit(RLIMIT_FSIZE, &limited);
        feed(m_server, 1.0);
        const auto failure = failureOf(m_service->stopRecording());
        setrlimit(RLIMIT_FSIZE, &original);

        QCOMPARE(failure, QStringLiteral("The recording could not be saved."));
        QCOMPARE(m_service->state(), CaptureState::failed(failure));
        QVERIFY(!m_service->activeURL());
        QVERIFY(QFile::exists(url));
        verifyRecordingAgain();
    }

    void livePeaksKeepTheLatest900()
    {
        start();
        QCOMPARE(m_service->livePeaks().size(), std::size_t(0));
        for (int i = 1; i <= 901; ++i) {
            CaptureBuffer buffer;
            buffer.samples.assign(32, float(i % 100) / 100.0f);
            m_server.deliver(std::move(buffer));
        }
        QTRY_COMPARE(m_service->livePeaks().size(), std::size_t(900));
        QTRY_COMPARE(m_service->livePeaks().back(), float(901 % 100) / 100.0f);
        for (int i = 2; i <= 901; ++i)
            QCOMPARE(m_service->livePeaks()[i - 2], float(i % 100) / 100.0f);
        stop();
        QCOMPARE(m_service->livePeaks().size(), std::size_t(900));
        start();
        QCOMPARE(m_service->livePeaks().size(), std::size_t(0));
    }

    void peakLevelScansAtMost2048Samples()
    {
        const auto peak = [](const std::vector<float> &samples) { return *AudioCaptureService::peakLevel(samples); };
        std::vector<float> samples(4096, 0.1f), short1000(1000, 0.0f);
        samples[1] = 0.9f; // skipped by stride 2
        QCOMPARE(peak(samples), 0.1f);
        samples[2] = -0.7f;
        QCOMPARE(peak(samples), 0.7f);
        short1000[999] = 0.3f; // stride 1 reaches the last sample
        QCOMPARE(peak(short1000), 0.3f);
        short1000[0] = -1.5f;
        QCOMPARE(peak(short1000), 1.0f);
        QVERIFY(!AudioCaptureService::peakLevel({}));
        QCOMPARE(peak(std::vector<float>(10, 0.0f)), 0.0f);
    }

    void fragmentedM4AReadsFromItsFirstFrame()
    {
        // The file as a killed take leaves it: fragments closed by checkpoints, no trailer.
        QDir().mkpath(folder());
        const auto path = folder() + QStringLiteral("/fragmented.m4a");
        const auto killed = folder() + QStringLiteral("/killed.m4a");
        {
            AacCaptureWriter writer(path, rate, 2, 192000);
            for (qint64 offset = 0; offset < 2 * rate; offset += 960) {
                writer.write(sineBuffer(offset, 960).samples.data(), 960);
                if ((offset + 960) % rate == 0)
                    writer.checkpoint();
            }
            QVERIFY(QFile::copy(path, killed));
            writer.cancel();
        }
        AudioFileReader reader(killed);
        QVERIFY2(reader.length() > rate && reader.length() <= 2 * rate, qPrintable(QString::number(reader.length())));
        const auto expected = sineBuffer(0, 2 * rate);
        for (const qint64 frame : {qint64(0), qint64(1000), qint64(30000), reader.length() - 256}) {
            reader.seek(frame);
            AudioBuffer buffer;
            QCOMPARE(reader.read(buffer, 256), 256);
            for (int i = 0; i < 256; ++i)
                QVERIFY2(std::abs(buffer.channels[0][i] - expected.samples[2 * (frame + i)]) <= 0.02f,
                         qPrintable(QStringLiteral("frame %1").arg(frame + i)));
        }
        reader.seek(0);
        AudioBuffer all;
        QCOMPARE(reader.read(all, 4 * rate), reader.length());
    }

    void writerQueueKeepsEveryBufferItAccepts()
    {
        auto log = std::make_shared<CountingWriter::Log>();
        log->gate.acquire(1000000); // the writer is stuck
        std::atomic<int> peaks = 0;
        CaptureWriterQueue queue(std::make_unique<CountingWriter>(log), 10 * 960, {[&](float) { ++peaks; }, [] {}});
        QVERIFY(queue.push(sineBuffer(0, 960)));
        QTRY_COMPARE(log->entered.load(), 1);
        int accepted = 1;
        for (int i = 0; i < 25; ++i)
            accepted += queue.push(sineBuffer(0, 960)) ? 1 : 0;
        QCOMPARE(accepted, 11); // the one being written and ten waiting
        QCOMPARE(queue.droppedBuffers(), 15);
        log->gate.release(1000000);
        queue.finish();
        QCOMPARE(log->frames.load(), qint64(accepted) * 960);
        QCOMPARE(queue.writtenFrames(), qint64(accepted) * 960);
        QCOMPARE(peaks.load(), accepted);
        QVERIFY(log->finished && !log->cancelled);
        QVERIFY(!queue.push(sineBuffer(0, 960)));
    }

    void writerQueueReportsErrorsAndCancels()
    {
        auto failing = std::make_shared<CountingWriter::Log>();
        failing->failWrites = true;
        CaptureWriterQueue queue(std::make_unique<CountingWriter>(failing), 48000, {[](float) {}, [] {}});
        QVERIFY(queue.push(sineBuffer(0, 960)));
        QVERIFY_THROWS_EXCEPTION(AudioCaptureError, queue.finish());
        QVERIFY(failing->finished); // what reached the file is still completed
        QVERIFY_THROWS_EXCEPTION(AudioCaptureError, queue.finish());

        // A queue dropped without finish discards its file.
        auto dropped = std::make_shared<CountingWriter::Log>();
        {
            CaptureWriterQueue unfinished(std::make_unique<CountingWriter>(dropped), 48000, {[](float) {}, [] {}});
        }
        QVERIFY(dropped->cancelled && !dropped->finished);
    }
};

QTEST_GUILESS_MAIN(TestCaptureService)
#include "test_capture_service.moc"
