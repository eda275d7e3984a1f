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
#include <mutex>

namespace {

constexpr int rate = 48000;

/// Stereo sine frames starting at frame \a offset.
CaptureBuffer sineBuffer(qint64 offset, qint64 frames, double frequency = 440, double amplitude = 0.5)
{
    CaptureBuffer buffer;
    buffer.samples.resize(frames * 2);
    for (qint64 i = 0; i < frames; ++i) {
        const auto value = float(amplitude * std::sin(2 * M_PI * frequency * double(offset + i) / rate));
        buffer.samples[2 * i] = buffer.samples[2 * i + 1] = value;
    }
    return buffer;
}

CaptureBuffer constantBuffer(float level, qint64 frames = 16)
{
    CaptureBuffer buffer;
    buffer.samples.assign(frames * 2, level);
    return buffer;
}

/// Feeds \a seconds of a sine in 20 ms buffers; returns the frames delivered.
qint64 feedSine(FakeSoundServer &server, double seconds)
{
    const qint64 total = qint64(seconds * rate);
    for (qint64 offset = 0; offset < total; offset += 960)
        server.deliver(sineBuffer(offset, std::min<qint64>(960, total - offset)));
    return total;
}

struct FileSignal {
    double sampleRate = 0;
    int channels = 0;
    qint64 length = 0;
    qint64 decoded = 0;
    float peak = 0;
    double frequency = 0; ///< from the rising zero crossings of the first channel
};

FileSignal analyse(const QString &path)
{
    AudioFileReader reader(path);
    FileSignal signal{reader.sampleRate(), reader.channelCount(), reader.length()};
    AudioBuffer buffer;
    float previous = 0;
    qint64 crossings = 0, firstCrossing = -1, lastCrossing = -1;
    while (const auto frames = reader.read(buffer, 8192)) {
        for (qint64 i = 0; i < frames; ++i) {
            const float value = buffer.channels[0][i];
            signal.peak = std::max(signal.peak, std::abs(value));
            if (previous < 0 && value >= 0) {
                firstCrossing = firstCrossing < 0 ? signal.decoded + i : firstCrossing;
                lastCrossing = signal.decoded + i;
                ++crossings;
            }
            previous = value;
        }
        signal.decoded += frames;
    }
    if (crossings > 1)
        signal.frequency = double(crossings - 1) * signal.sampleRate / double(lastCrossing - firstCrossing);
    return signal;
}

RecordingEncodingSettings settingsFor(RecordingOutputFormat format)
{
    return {format, AudioBitRate::kbps192, 48000, 2};
}

/// The text of what \a task throws, or a null text.
QString failureOf(QCoro::Task<QString> task)
{
    try {
        finish(std::move(task));
    } catch (const std::exception &error) {
        return errorText(error);
    }
    return {};
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
    QString start(RecordingOutputFormat format = RecordingOutputFormat::wavPCM,
                  RecordingInputSource source = RecordingInputSource::macAudio)
    {
        return finish(m_service->startRecording(folder(), settingsFor(format), source));
    }
    QString stop() { return finish(m_service->stopRecording()); }
    [[nodiscard]] QStringList audioFiles() const
    {
        return QDir(folder()).entryList({"*.m4a", "*.wav", "*.aiff"}, QDir::Files)
             + QDir(folder() + QStringLiteral("/.vespertone/tmp")).entryList(QDir::Files);
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
        QTest::addColumn<QString>("relativePath");
        QTest::newRow("m4a") << RecordingOutputFormat::aacM4A << QStringLiteral(".m4a");
        QTest::newRow("mp3 intermediate") << RecordingOutputFormat::mp3LAME << QStringLiteral(".wav");
        QTest::newRow("wav") << RecordingOutputFormat::wavPCM << QStringLiteral(".wav");
        QTest::newRow("aiff") << RecordingOutputFormat::aiffPCM << QStringLiteral(".aiff");
    }
    void takeIsWrittenInTheChosenFormat()
    {
        QFETCH(RecordingOutputFormat, format);
        QFETCH(QString, relativePath);
        QSignalSpy states(m_service.get(), &AudioCaptureService::stateChanged);

        const auto url = start(format);
        const auto directory = format == RecordingOutputFormat::mp3LAME ? folder() + QStringLiteral("/.vespertone/tmp")
                                                                        : folder();
        QCOMPARE(url, directory + u'/' + stamped(relativePath));
        QCOMPARE(m_service->activeURL(), std::optional(url));
        QCOMPARE(m_service->state(), CaptureState::recording(m_clock.now()));
        QCOMPARE(states.count(), 2); // preparing, recording
        QCOMPARE(m_server.lastDevice(), SoundServer::CaptureDevice::defaultSinkMonitor);

        const auto frames = feedSine(m_server, 1.5);
        QCOMPARE(stop(), url);
        QCOMPARE(m_service->state(), CaptureState::idle());
        QVERIFY(!m_service->activeURL());
        QVERIFY(!m_server.running());

        const auto signal = analyse(url);
        QCOMPARE(signal.sampleRate, 48000.0);
        QCOMPARE(signal.channels, 2);
        QCOMPARE(signal.length, frames);
        QCOMPARE(signal.decoded, frames);
        QVERIFY2(std::abs(signal.peak - 0.5f) < 0.03f, qPrintable(QString::number(signal.peak)));
        QVERIFY2(std::abs(signal.frequency - 440) < 2, qPrintable(QString::number(signal.frequency)));
        QVERIFY(QDir(folder() + QStringLiteral("/.vespertone/tmp")).entryList(QDir::Files).size()
                == (format == RecordingOutputFormat::mp3LAME ? 1 : 0));
    }

    void emptyTakeStillFinishes_data() { takeIsWrittenInTheChosenFormat_data(); }
    void emptyTakeStillFinishes()
    {
        QFETCH(RecordingOutputFormat, format);
        const auto url = start(format);
        QCOMPARE(stop(), url);
        QCOMPARE(m_service->state(), CaptureState::idle());
        QVERIFY(QFile::exists(url));
    }

    void microphoneRecordsTheDefaultSource()
    {
        start(RecordingOutputFormat::wavPCM, RecordingInputSource::microphone);
        QCOMPARE(m_server.lastDevice(), SoundServer::CaptureDevice::defaultSource);
        stop();
    }

    void takesInTheSameSecondGetNumbers()
    {
        QDir().mkpath(folder());
        for (const auto &name : {stamped(QStringLiteral(".m4a")), stamped(QStringLiteral(" 2.m4a"))}) {
            QFile file(folder() + u'/' + name);
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        QCOMPARE(start(RecordingOutputFormat::aacM4A), folder() + u'/' + stamped(QStringLiteral(" 3.m4a")));
        stop();
        QCOMPARE(start(RecordingOutputFormat::aacM4A), folder() + u'/' + stamped(QStringLiteral(" 4.m4a")));
        stop();
    }

    void startIsRefusedWhilePreparingRecordingOrFinishing()
    {
        const auto busy = QStringLiteral("A recording is already running.");
        const auto inactive = QStringLiteral("No recording is active.");
        m_server.holdOpen = true;
        auto starting = m_service->startRecording(folder(), settingsFor(RecordingOutputFormat::wavPCM),
                                                  RecordingInputSource::macAudio);
        QCOMPARE(m_service->state(), CaptureState::preparing());
        QCOMPARE(failureOf(m_service->startRecording(folder(), settingsFor(RecordingOutputFormat::wavPCM),
                                                     RecordingInputSource::macAudio)),
                 busy);
        QCOMPARE(failureOf(m_service->stopRecording()), inactive);
        QCOMPARE(m_service->state(), CaptureState::preparing());
        m_server.openGate.release();
        const auto url = finish(std::move(starting));
        m_server.holdOpen = false;

        QCOMPARE(failureOf(m_service->startRecording(folder(), settingsFor(RecordingOutputFormat::wavPCM),
                                                     RecordingInputSource::microphone)),
                 busy);
        QCOMPARE(m_service->state(), CaptureState::recording(m_clock.now()));

        auto stopping = m_service->stopRecording();
        QCOMPARE(m_service->state(), CaptureState::finishing());
        QCOMPARE(failureOf(m_service->startRecording(folder(), settingsFor(RecordingOutputFormat::wavPCM),
                                                     RecordingInputSource::macAudio)),
                 busy);
        QCOMPARE(failureOf(m_service->stopRecording()), inactive);
        QCOMPARE(finish(std::move(stopping)), url);
        QCOMPARE(m_service->state(), CaptureState::idle());
        QCOMPARE(audioFiles().size(), 1);
    }

    void stopWhileIdleIsRefused()
    {
        QSignalSpy states(m_service.get(), &AudioCaptureService::stateChanged);
        QCOMPARE(failureOf(m_service->stopRecording()), QStringLiteral("No recording is active."));
        QCOMPARE(m_service->state(), CaptureState::idle());
        QCOMPARE(states.count(), 0);
    }

    void sourceThatCannotOpenFailsTheStart_data()
    {
        QTest::addColumn<SoundServerError::Code>("failure");
        QTest::addColumn<RecordingInputSource>("source");
        QTest::addColumn<QString>("message");
        using Code = SoundServerError::Code;
        QTest::newRow("unreachable") << Code::unreachable << RecordingInputSource::macAudio
                                     << QStringLiteral("The sound server could not be reached.");
        QTest::newRow("no sink") << Code::noDefaultSink << RecordingInputSource::macAudio
                                 << QStringLiteral("No audio output was available for system audio capture.");
        QTest::newRow("no source") << Code::noDefaultSource << RecordingInputSource::microphone
                                   << QStringLiteral("No microphone input was available.");
        QTest::newRow("monitor refused") << Code::streamFailed << RecordingInputSource::macAudio
                                         << QStringLiteral("No audio output was available for system audio capture.");
        QTest::newRow("input refused") << Code::streamFailed << RecordingInputSource::microphone
                                       << QStringLiteral("No microphone input was available.");
    }
    void sourceThatCannotOpenFailsTheStart()
    {
        QFETCH(SoundServerError::Code, failure);
        QFETCH(RecordingInputSource, source);
        QFETCH(QString, message);
        m_server.openFailure = failure;
        QCOMPARE(failureOf(m_service->startRecording(folder(), settingsFor(RecordingOutputFormat::aacM4A), source)),
                 message);
        QCOMPARE(m_service->state(), CaptureState::failed(message));
        QVERIFY(!m_service->activeURL());
        QCOMPARE(audioFiles(), QStringList());

        m_server.openFailure.reset();
        start(RecordingOutputFormat::aacM4A, source);
        QVERIFY(m_service->state().is(CaptureState::Kind::recording));
        stop();
    }

    void writerThatCannotBePreparedFailsTheStart()
    {
        const auto message = QStringLiteral("The audio writer could not be prepared.");
        QFile blocker(folder());
        QVERIFY(blocker.open(QIODevice::WriteOnly)); // a file where the folder should be
        blocker.close();
        QCOMPARE(failureOf(m_service->startRecording(folder(), settingsFor(RecordingOutputFormat::wavPCM),
                                                     RecordingInputSource::macAudio)),
                 message);
        QCOMPARE(m_service->state(), CaptureState::failed(message));
        QFile::remove(folder());

        auto unusable = settingsFor(RecordingOutputFormat::aacM4A);
        unusable.channelCount = 0;
        QCOMPARE(failureOf(m_service->startRecording(folder(), unusable, RecordingInputSource::macAudio)), message);
        QCOMPARE(m_server.opened.load(), 0);
        QCOMPARE(audioFiles(), QStringList());
    }

    void sourceEndingDuringATakeKeepsTheFile_data()
    {
        QTest::addColumn<RecordingOutputFormat>("format");
        QTest::newRow("m4a") << RecordingOutputFormat::aacM4A;
        QTest::newRow("wav") << RecordingOutputFormat::wavPCM;
    }
    void sourceEndingDuringATakeKeepsTheFile()
    {
        QFETCH(RecordingOutputFormat, format);
        const auto message = QStringLiteral("The audio source stopped during the recording.");
        QSignalSpy interrupted(m_service.get(), &AudioCaptureService::recordingInterrupted);
        const auto url = start(format);
        const auto frames = feedSine(m_server, 1.0);
        m_server.failSource();
        QVERIFY(interrupted.wait());
        QCOMPARE(interrupted.first().first().toString(), url);
        QCOMPARE(m_service->state(), CaptureState::failed(message));
        QVERIFY(!m_service->activeURL());
        QCOMPARE(analyse(url).decoded, frames);
        QCOMPARE(failureOf(m_service->stopRecording()), QStringLiteral("No recording is active."));

        start(format);
        QVERIFY(m_service->state().is(CaptureState::Kind::recording));
    }

    void failedFinishEndsInFailed()
    {
        // Writes past this size fail with EFBIG, as on a full disk.
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit original{};
        getrlimit(RLIMIT_FSIZE, &original);
        const auto url = start(RecordingOutputFormat::wavPCM);
        rlimit limited = original;
        limited.rlim_cur = 64 * 1024;
        setrlimit(RLIMIT_FSIZE, &limited);
        feedSine(m_server, 1.0);
        const auto failure = failureOf(m_service->stopRecording());
        setrlimit(RLIMIT_FSIZE, &original);

        QCOMPARE(failure, QStringLiteral("The recording could not be saved."));
        QCOMPARE(m_service->state(), CaptureState::failed(failure));
        QVERIFY(!m_service->activeURL());
        QVERIFY(QFile::exists(url));
        start(RecordingOutputFormat::wavPCM);
        QVERIFY(m_service->state().is(CaptureState::Kind::recording));
    }

    void livePeaksKeepTheLatest900()
    {
        start();
        QCOMPARE(m_service->livePeaks().size(), std::size_t(0));
        for (int i = 1; i <= 901; ++i)
            m_server.deliver(constantBuffer(float(i % 100) / 100.0f));
        QTRY_COMPARE(m_service->livePeaks().size(), std::size_t(900));
        QTRY_COMPARE(m_service->livePeaks().back(), float(901 % 100) / 100.0f);
        QCOMPARE(m_service->livePeaks().size(), std::size_t(900));
        for (int i = 2; i <= 901; ++i)
            QCOMPARE(m_service->livePeaks()[i - 2], float(i % 100) / 100.0f);
        stop();
        QCOMPARE(m_service->livePeaks().size(), std::size_t(900));
        start();
        QCOMPARE(m_service->livePeaks().size(), std::size_t(0));
    }

    void peakLevelScansAtMost2048Samples()
    {
        std::vector<float> samples(4096, 0.1f);
        samples[1] = 0.9f; // skipped by stride 2
        QCOMPARE(*AudioCaptureService::peakLevel(samples), 0.1f);
        samples[2] = -0.7f;
        QCOMPARE(*AudioCaptureService::peakLevel(samples), 0.7f);

        std::vector<float> short1000(1000, 0.0f);
        short1000[999] = 0.3f; // stride 1 reaches the last sample
        QCOMPARE(*AudioCaptureService::peakLevel(short1000), 0.3f);
        short1000[0] = -1.5f;
        QCOMPARE(*AudioCaptureService::peakLevel(short1000), 1.0f);
        QVERIFY(!AudioCaptureService::peakLevel({}));
        QCOMPARE(*AudioCaptureService::peakLevel(std::vector<float>(10, 0.0f)), 0.0f);
    }

    void destroyingTheServiceKeepsTheTake()
    {
        const auto url = start(RecordingOutputFormat::aacM4A);
        const auto frames = feedSine(m_server, 0.5);
        m_service.reset();
        QVERIFY(!m_server.running());
        QCOMPARE(analyse(url).decoded, frames);
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
                const auto buffer = sineBuffer(offset, 960);
                writer.write(buffer.samples.data(), 960);
                if ((offset + 960) % rate == 0)
                    writer.checkpoint();
            }
            QVERIFY(QFile::copy(path, killed));
            writer.cancel();
        }
        AudioFileReader reader(killed);
        QVERIFY2(reader.length() > rate && reader.length() <= 2 * rate, qPrintable(QString::number(reader.length())));
        const auto expected = sineBuffer(0, 2 * rate);
        auto matches = [&](qint64 frame) {
            reader.seek(frame);
            AudioBuffer buffer;
            if (reader.read(buffer, 256) != 256)
                return false;
            for (int i = 0; i < 256; ++i) {
                if (std::abs(buffer.channels[0][i] - expected.samples[2 * (frame + i)]) > 0.02f)
                    return false;
            }
            return true;
        };
        QVERIFY(matches(0));
        QVERIFY(matches(1000));
        QVERIFY(matches(30000));
        QVERIFY(matches(reader.length() - 256));
        reader.seek(0);
        AudioBuffer all;
        QCOMPARE(reader.read(all, 4 * rate), reader.length());
    }

    void writerQueueKeepsEveryBufferItAccepts()
    {
        auto log = std::make_shared<CountingWriter::Log>();
        log->gate.acquire(1000000); // the writer is stuck
        std::atomic<int> peaks = 0;
        CaptureWriterQueue queue(std::make_unique<CountingWriter>(log), 10 * 960,
                                 {[&](float) { ++peaks; }, [] {}});
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

    void writerQueueReportsWriteErrorsAtFinish()
    {
        auto log = std::make_shared<CountingWriter::Log>();
        log->failWrites = true;
        CaptureWriterQueue queue(std::make_unique<CountingWriter>(log), 48000, {[](float) {}, [] {}});
        QVERIFY(queue.push(sineBuffer(0, 960)));
        QVERIFY_THROWS_EXCEPTION(AudioCaptureError, queue.finish());
        QVERIFY(log->finished); // what reached the file is still completed
        QVERIFY_THROWS_EXCEPTION(AudioCaptureError, queue.finish());
    }

    void writerQueueCancelDiscardsTheFile()
    {
        auto log = std::make_shared<CountingWriter::Log>();
        {
            CaptureWriterQueue queue(std::make_unique<CountingWriter>(log), 48000, {[](float) {}, [] {}});
        }
        QVERIFY(log->cancelled && !log->finished);
    }
};

QTEST_GUILESS_MAIN(TestCaptureService)
#include "test_capture_service.moc"
