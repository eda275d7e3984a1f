#include "capture/AudioCaptureService.h"

#include "base/IgnoreFailure.h"
#include "capture/AudioCaptureError.h"
#include "capture/CaptureFileWriter.h"
#include "capture/CapturePeaks.h"
#include "capture/CaptureWriterQueue.h"
#include "library/Formatters.h"
#include "library/UniqueFileNamer.h"
#include "platform/BackgroundTask.h"
#include "platform/Clock.h"
#include "platform/SoundServer.h"
#include "platform/SoundServerError.h"

#include <QFile>
#include <QFileInfo>
#include <QPointer>

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <filesystem>
#include <mutex>

namespace {
using Kind = CaptureState::Kind;

AudioCaptureError translated(const SoundServerError &error, SoundServer::CaptureDevice device)
{
    using Code = AudioCaptureError::Code;
    const bool output = device == SoundServer::CaptureDevice::defaultSinkMonitor;
    switch (error.code()) {
    case SoundServerError::Code::unreachable: return AudioCaptureError(Code::soundServerUnavailable);
    case SoundServerError::Code::noDefaultSink: return AudioCaptureError(Code::noAudioOutputAvailable);
    case SoundServerError::Code::noDefaultSource: return AudioCaptureError(Code::noMicrophoneAvailable);
    case SoundServerError::Code::streamFailed: break;
    }
    return AudioCaptureError(output ? Code::noAudioOutputAvailable : Code::noMicrophoneAvailable);
}

/// Creates \a path with its parents; throws AppError naming the cause.
void makeFolder(const QString &path)
{
    std::error_code error;
    std::filesystem::create_directories(QFile::encodeName(path).toStdString(), error);
    if (error)
        throw AppError(QStringLiteral("“%1” couldn’t be created: %2")
                           .arg(QFileInfo(path).fileName(), QString::fromLocal8Bit(error.message().c_str())));
}

/// Opens the record stream that feeds \a writer; blocks until it runs.
std::unique_ptr<CaptureSource> openSource(SoundServer &server, SoundServer::CaptureDevice device, int sampleRate,
                                          int channelCount, const std::shared_ptr<CaptureWriterQueue> &writer)
{
    CaptureSource::Handlers handlers;
    handlers.audio = [writer](CaptureBuffer &&buffer) { writer->push(std::move(buffer)); };
    handlers.failed = [writer] { writer->markSourceFailed(); };
    try {
        return server.openCapture(device, sampleRate, channelCount, std::move(handlers));
    } catch (const SoundServerError &error) {
        throw translated(error, device);
    }
}
} // namespace

/// Counts the service's jobs on the thread pool: begun on the GUI thread, ended by the job.
struct AudioCaptureService::Jobs {
    std::mutex mutex;
    std::condition_variable idle;
    int running = 0;

    void begin()
    {
        const std::lock_guard lock(mutex);
        ++running;
    }
    void end()
    {
        const std::lock_guard lock(mutex);
        --running;
        idle.notify_all();
    }
    void waitForAll()
    {
        std::unique_lock lock(mutex);
        idle.wait(lock, [this] { return running == 0; });
    }
    /// Ends the job when the work's scope ends, however it ends.
    struct Scope {
        Jobs &jobs;
        ~Scope() { jobs.end(); }
    };
};

AudioCaptureService::AudioCaptureService(SoundServer &server, Clock &clock, QObject *parent)
    : QObject(parent), m_server(server), m_clock(clock), m_jobs(std::make_shared<Jobs>())
{}

AudioCaptureService::~AudioCaptureService()
{
    // An open or finish in flight holds the source and the writer: let it end here, so no
    // source outlives the service and the writer thread ends before any member goes.
    m_jobs->waitForAll();
    if (m_opening)
        m_opening->reset();
    m_source.reset();
    if (!m_writer)
        return;
    if (m_state.is(Kind::preparing)) {
        m_writer->cancel();
        return;
    }
    // Whatever reached the file stays there; nobody is left to tell.
    ignoreFailure(lcCapture(), [&] { m_writer->finish(); });
}

qint64 AudioCaptureService::droppedBufferCount() const
{
    return m_writer ? m_writer->droppedBuffers() : m_lastDropped;
}

QCoro::Task<QString> AudioCaptureService::startRecording(QString folder, RecordingEncodingSettings settings,
                                                         RecordingInputSource source)
{
    if (m_state.isTaking())
        throw AudioCaptureError(AudioCaptureError::Code::alreadyRecording);
    // Capture needs no permission here; an unreachable sound server fails when the source opens.
    setState(CaptureState::preparing());
    m_livePeaks.clear();
    emit livePeaksChanged();

    QPointer self(this);
    std::exception_ptr error;
    try {
        const auto url = openTake(folder, settings);
        const auto device = source == RecordingInputSource::macAudio ? SoundServer::CaptureDevice::defaultSinkMonitor
                                                                     : SoundServer::CaptureDevice::defaultSource;
        // The source comes back through a slot, not as the task's value, which the finished
        // future would keep a copy of; the destructor ends a source nobody came back for.
        auto slot = std::make_shared<std::unique_ptr<CaptureSource>>();
        m_opening = slot;
        m_jobs->begin();
        auto open = [slot, jobs = m_jobs, server = &m_server, writer = m_writer, device,
                     rate = int(settings.sampleRate), channels = settings.channelCount] {
            const Jobs::Scope scope{*jobs};
            *slot = openSource(*server, device, rate, channels, writer);
        };
        auto opening = BackgroundTask::run(std::move(open));
        co_await std::move(opening);
        if (!self)
            throw AudioCaptureError(AudioCaptureError::Code::captureInterrupted);
        m_opening.reset();
        m_source = std::move(*slot);
        if (m_writer->writerFailed())
            throw AudioCaptureError::writerFailed(m_writer->failureMessage());
        if (m_writer->sourceFailed())
            throw AudioCaptureError(AudioCaptureError::Code::captureInterrupted);
        setState(CaptureState::recording(m_clock.now()));
        co_return url;
    } catch (...) {
        error = std::current_exception();
    }
    if (self) {
        cleanupAfterFailedStart();
        try {
            std::rethrow_exception(error);
        } catch (const std::exception &e) {
            setState(CaptureState::failed(errorText(e)));
        }
    }
    std::rethrow_exception(error);
}

QString AudioCaptureService::openTake(const QString &folder, const RecordingEncodingSettings &settings)
{
    const auto directory =
        settings.format == RecordingOutputFormat::mp3LAME ? UniqueFileNamer::workFolder(folder) : folder;
    makeFolder(folder);
    makeFolder(directory);
    // The name is ours from here on: another take, here or in another process, picks the next.
    const auto url = UniqueFileNamer::reserveUniqueURL(
        directory, QStringLiteral("Vespertone ") + AppDateFormatters::fileStamp(m_clock.now()),
        settings.pathExtension());
    std::unique_ptr<CaptureFileWriter> file;
    try {
        file = CaptureFileWriter::create(url, settings);
    } catch (...) {
        QFile::remove(url);
        throw;
    }

    const auto take = ++m_take;
    CaptureWriterQueue::Observer observer;
    std::shared_ptr<CapturePeaks> peaks;
    if (settings.format == RecordingOutputFormat::wavPCM || settings.format == RecordingOutputFormat::aiffPCM) {
        peaks = std::make_shared<CapturePeaks>(settings.channelCount);
        observer.written = [peaks](const float *interleaved, std::int64_t frames) { peaks->add(interleaved, frames); };
    }
    m_takePeaks = {url, peaks};
    observer.peak = [this, take](float level) {
        QMetaObject::invokeMethod(
            this, [this, take, level] { appendLivePeak(take, level); }, Qt::QueuedConnection);
    };
    // These run on the writer thread, which ends before the service does (see the destructor).
    observer.sourceFailed = [this, take] {
        QMetaObject::invokeMethod(
            this,
            [this, take] {
                finishInterruptedTake(take, AudioCaptureError(AudioCaptureError::Code::captureInterrupted).text());
            },
            Qt::QueuedConnection);
    };
    observer.writerFailed = [this, take](const QString &message) {
        QMetaObject::invokeMethod(
            this, [this, take, message] { finishInterruptedTake(take, message); }, Qt::QueuedConnection);
    };
    m_writer =
        std::make_shared<CaptureWriterQueue>(std::move(file), std::int64_t(settings.sampleRate) * writerBacklogSeconds,
                                             std::int64_t(settings.sampleRate), std::move(observer));
    m_outputURL = url;
    setActiveURL(url);
    return url;
}

std::shared_ptr<const CapturePeaks> AudioCaptureService::peaksOf(const QString &url) const
{
    // Only a finished take's: until then its writer thread still adds to them.
    if (m_takePeaks.first != url || (m_outputURL && *m_outputURL == url))
        return nullptr;
    return m_takePeaks.second;
}

void AudioCaptureService::cleanupAfterFailedStart()
{
    ++m_take;
    m_opening.reset();
    m_source.reset();
    setActiveURL(std::nullopt);
    if (m_writer) {
        m_writer->cancel();
        m_lastDropped = m_writer->droppedBuffers();
        m_writer.reset();
    }
    m_outputURL.reset();
}

QCoro::Task<QString> AudioCaptureService::stopRecording()
{
    if (!m_state.is(Kind::recording) || !m_outputURL)
        throw AudioCaptureError(AudioCaptureError::Code::noActiveRecording);
    setState(CaptureState::finishing());
    QPointer self(this);
    std::exception_ptr error;
    try {
        const auto url = co_await finishTake();
        if (self) {
            setActiveURL(std::nullopt);
            setState(CaptureState::idle());
        }
        co_return url;
    } catch (...) {
        error = std::current_exception();
    }
    // A failed finish leaves the service ready for the next take.
    if (self) {
        setActiveURL(std::nullopt);
        try {
            std::rethrow_exception(error);
        } catch (const std::exception &e) {
            setState(CaptureState::failed(errorText(e)));
        }
    }
    std::rethrow_exception(error);
}

QCoro::Task<QString> AudioCaptureService::finishTake()
{
    ++m_take;
    const auto url = *m_outputURL;
    const auto writer = m_writer;
    QPointer self(this);
    std::exception_ptr error;
    try {
        // Closing the source waits for the audio still in transit: off the GUI thread.
        m_jobs->begin();
        auto finish = [writer, jobs = m_jobs, source = std::shared_ptr<CaptureSource>(std::move(m_source))]() mutable {
            const Jobs::Scope scope{*jobs};
            source.reset();
            writer->finish();
        };
        auto finishing = BackgroundTask::run(std::move(finish));
        co_await std::move(finishing);
    } catch (...) {
        error = std::current_exception();
    }
    if (self) {
        m_lastDropped = writer->droppedBuffers();
        m_writer.reset();
        m_outputURL.reset();
    }
    if (error)
        std::rethrow_exception(error);
    co_return url;
}

QCoro::Task<> AudioCaptureService::finishInterruptedTake(quint64 take, QString message)
{
    if (take != m_take || !m_state.is(Kind::recording))
        co_return;
    setState(CaptureState::finishing());
    const auto url = *m_outputURL;
    QPointer self(this);
    try {
        co_await finishTake();
    } catch (const std::exception &error) {
        // The writer kept what reached the file playable; message already says why it ended.
        logIgnoredFailure(lcCapture(), error);
    }
    if (!self)
        co_return;
    setActiveURL(std::nullopt);
    setState(CaptureState::failed(message));
    emit recordingInterrupted(url, message);
}

void AudioCaptureService::appendLivePeak(quint64 take, float level)
{
    if (take != m_take)
        return;
    m_livePeaks.push_back(level);
    if (m_livePeaks.size() > std::size_t(maxLivePeaks))
        m_livePeaks.erase(m_livePeaks.begin(), m_livePeaks.end() - maxLivePeaks);
    emit livePeaksChanged();
}

std::optional<float> AudioCaptureService::peakLevel(std::span<const float> samples)
{
    const auto count = samples.size();
    if (count < 1)
        return std::nullopt;
    const std::size_t stride = count < 2048 ? 1 : count / 2048;
    float peak = 0;
    for (std::size_t i = 0; i < count; i += stride)
        peak = std::max(peak, std::abs(samples[i]));
    return std::min(peak, 1.0f);
}

void AudioCaptureService::setState(const CaptureState &state)
{
    if (m_state == state)
        return;
    m_state = state;
    emit stateChanged();
}

void AudioCaptureService::setActiveURL(const std::optional<QString> &url)
{
    if (m_activeURL == url)
        return;
    m_activeURL = url;
    emit activeURLChanged();
}
