#include "capture/AudioCaptureService.h"

#include "base/IgnoreFailure.h"
#include "capture/AudioCaptureError.h"
#include "capture/CaptureFileWriter.h"
#include "capture/CapturePeaks.h"
#include "capture/CaptureThreads.h"
#include "capture/CaptureWriterQueue.h"
#include "capture/LiveCapture.h"
#include "library/Formatters.h"
#include "library/UniqueFileNamer.h"
#include "platform/BackgroundTask.h"
#include "platform/Clock.h"
#include "platform/SoundServer.h"
#include "platform/SoundServerError.h"
#include "platform/Timer.h"

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

AudioCaptureError translated(const SoundServerError &error, const CaptureTarget &target)
{
    using Code = AudioCaptureError::Code;
    switch (error.code()) {
    case SoundServerError::Code::unreachable: return AudioCaptureError(Code::soundServerUnavailable);
    case SoundServerError::Code::noDefaultSink: return AudioCaptureError(Code::noAudioOutputAvailable);
    case SoundServerError::Code::noDefaultSource: return AudioCaptureError(Code::noMicrophoneAvailable);
    case SoundServerError::Code::streamFailed: break;
    }
    switch (target.kind) {
    case CaptureTarget::Kind::outputMonitor: return AudioCaptureError(Code::noAudioOutputAvailable);
    case CaptureTarget::Kind::input: return AudioCaptureError(Code::noMicrophoneAvailable);
    case CaptureTarget::Kind::application: break;
    }
    return AudioCaptureError(Code::applicationUnavailable);
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

/// A new, empty file for a take of \a settings that begins at \a begins, reserved in \a folder
/// (an MP3 take's in its work folder).
QString reserveTakeFile(const QString &folder, const RecordingEncodingSettings &settings, const QDateTime &begins)
{
    const auto directory =
        settings.format == RecordingOutputFormat::mp3LAME ? UniqueFileNamer::workFolder(folder) : folder;
    makeFolder(folder);
    makeFolder(directory);
    // The name is ours from here on: another take, here or in another process, picks the next.
    return UniqueFileNamer::reserveUniqueURL(
        directory, QStringLiteral("Vespertone ") + AppDateFormatters::fileStamp(begins), settings.pathExtension());
}

std::unique_ptr<CaptureFileWriter> createWriter(const QString &url, const RecordingEncodingSettings &settings)
{
    try {
        return CaptureFileWriter::create(url, settings);
    } catch (...) {
        QFile::remove(url);
        throw;
    }
}

/// Opens the capture of \a target; blocks until it runs.
std::shared_ptr<LiveCapture> openCapture(SoundServer &server, const CaptureTarget &target, std::int64_t windowFrames,
                                         std::function<void()> failed)
{
    try {
        return std::make_shared<LiveCapture>(server, target, AudioCaptureService::sampleRate,
                                             AudioCaptureService::channelCount, windowFrames, std::move(failed));
    } catch (const SoundServerError &error) {
        throw translated(error, target);
    }
}

/// Writes \a audio into \a url as \a settings say and completes the file.
void writeKept(const RollingAudioWindow::Audio &audio, const QString &url, const RecordingEncodingSettings &settings)
{
    auto file = createWriter(url, settings);
    try {
        auto skip = audio.skippedFrames;
        for (const auto &buffer : audio.buffers) {
            file->write(buffer->samples.data() + skip * buffer->channelCount, buffer->frames() - skip);
            skip = 0;
        }
        file->finish();
    } catch (...) {
        file->cancel();
        throw;
    }
}
} // namespace

/// Counts the service's jobs on the capture threads: begun on the GUI thread, ended by the job.
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
    : QObject(parent), m_server(server), m_clock(clock), m_windowRetry(clock.createTimer(this)),
      m_jobs(std::make_shared<Jobs>())
{
    connect(m_windowRetry, &Timer::timeout, this, [this] { openWindow(); });
}

AudioCaptureService::~AudioCaptureService()
{
    // A job in flight holds a capture and the writer: let it end here, so no capture outlives
    // the service and the writer thread ends before any member goes.
    m_jobs->waitForAll();
    for (const auto &slot : m_slots)
        slot->reset();
    m_window.reset();
    m_capture.reset();
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

bool AudioCaptureService::isListening() const
{
    return m_window && !m_window->hasFailed();
}

AudioCaptureService::CaptureSlot AudioCaptureService::newSlot(std::shared_ptr<LiveCapture> capture)
{
    m_slots.push_back(std::make_shared<std::shared_ptr<LiveCapture>>(std::move(capture)));
    return m_slots.back();
}

void AudioCaptureService::dropSlot(const CaptureSlot &slot)
{
    std::erase(m_slots, slot);
}

QCoro::Task<QString> AudioCaptureService::startRecording(QString folder, RecordingEncodingSettings settings,
                                                         CaptureTarget target)
{
    if (m_state.isTaking())
        throw AudioCaptureError(AudioCaptureError::Code::alreadyRecording);
    // Capture needs no permission here; an unreachable sound server fails when the source opens.
    setState(CaptureState::preparing());
    m_livePeaks.clear();
    m_liveLevelCount = 0;
    emit livePeaksChanged();

    QPointer self(this);
    std::exception_ptr error;
    try {
        // A take of what the window listens to is fed by the window's capture, and may begin
        // with what it already heard.
        const bool fromWindow = isListening() && m_window->target() == target;
        const std::int64_t preRoll =
            fromWindow && m_preRoll ? std::min(m_window->heldFrames(), std::int64_t(m_windowSeconds) * sampleRate) : 0;
        const auto begins = m_clock.now().addMSecs(-preRoll * 1000 / sampleRate);
        const auto url = openTake(folder, settings, begins, preRoll);
        auto slot = newSlot(fromWindow ? m_window : nullptr);
        m_jobs->begin();
        auto open = [slot, jobs = m_jobs, server = &m_server, writer = m_writer, target, preRoll] {
            const Jobs::Scope scope{*jobs};
            if (!*slot)
                *slot = openCapture(*server, target, 0, {});
            (*slot)->attach(writer, preRoll);
        };
        auto opening = BackgroundTask::run(CaptureThreads::pool(), std::move(open));
        co_await std::move(opening);
        if (!self)
            throw AudioCaptureError(AudioCaptureError::Code::captureInterrupted);
        m_capture = std::move(*slot);
        dropSlot(slot);
        if (m_writer->writerFailed())
            throw AudioCaptureError::writerFailed(m_writer->failureMessage());
        if (m_writer->sourceFailed())
            throw AudioCaptureError(AudioCaptureError::Code::captureInterrupted);
        setState(CaptureState::recording(begins));
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

QString AudioCaptureService::openTake(const QString &folder, const RecordingEncodingSettings &settings,
                                      const QDateTime &begins, std::int64_t preRollFrames)
{
    const auto url = reserveTakeFile(folder, settings, begins);
    auto file = createWriter(url, settings);

    const auto take = ++m_take;
    CaptureWriterQueue::Observer observer;
    std::shared_ptr<CapturePeaks> peaks;
    if (settings.format == RecordingOutputFormat::wavPCM || settings.format == RecordingOutputFormat::aiffPCM) {
        peaks = std::make_shared<CapturePeaks>(settings.channelCount);
        observer.written = [peaks](const std::int16_t *interleaved, std::int64_t frames) {
            peaks->add(interleaved, frames);
        };
    }
    m_takePeaks = {url, peaks};
    observer.peaks = [this, take](const std::vector<float> &levels) {
        QMetaObject::invokeMethod(
            this, [this, take, levels] { appendLivePeaks(take, levels); }, Qt::QueuedConnection);
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
    const auto rate = std::int64_t(settings.sampleRate);
    // The pre-roll arrives at once: the queue holds it on top of the backlog it allows.
    m_writer = std::make_shared<CaptureWriterQueue>(std::move(file), rate * writerBacklogSeconds + preRollFrames, rate,
                                                    m_syncInterval, rate * writerBatchMilliseconds / 1000,
                                                    std::move(observer));
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
    if (m_capture)
        m_capture->stopFeeding();
    m_capture.reset();
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
        // The audio still in transit is waited for off the GUI thread.
        m_jobs->begin();
        auto finish = [writer, jobs = m_jobs, capture = std::exchange(m_capture, nullptr)]() mutable {
            const Jobs::Scope scope{*jobs};
            if (capture)
                capture->detach();
            capture.reset();
            writer->finish();
        };
        auto finishing = BackgroundTask::run(CaptureThreads::pool(), std::move(finish));
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

void AudioCaptureService::keepWindow(std::optional<CaptureTarget> target, int seconds)
{
    if (seconds <= 0)
        target.reset();
    const bool same = target == m_windowTarget;
    m_windowTarget = std::move(target);
    m_windowSeconds = m_windowTarget ? seconds : 0;
    if (same && m_window && !m_window->hasFailed()) {
        m_window->setWindow(std::int64_t(m_windowSeconds) * sampleRate);
        emit windowChanged();
        return;
    }
    ++m_windowGeneration;
    m_windowRetry->stop();
    releaseWindow();
    m_windowProblem.clear();
    emit windowChanged();
    if (m_windowTarget)
        openWindow();
}

void AudioCaptureService::releaseWindow()
{
    // A take it feeds keeps it until the take ends, holding no window meanwhile.
    if (m_window)
        m_window->setWindow(0);
    m_window.reset();
}

QCoro::Task<> AudioCaptureService::openWindow()
{
    if (!m_windowTarget)
        co_return;
    const auto generation = m_windowGeneration;
    const auto target = *m_windowTarget;
    const auto frames = std::int64_t(m_windowSeconds) * sampleRate;
    QPointer self(this);
    auto slot = newSlot(nullptr);
    // Runs on the sound server's thread while the service lives (the destructor ends the capture).
    auto failed = [this, generation] {
        QMetaObject::invokeMethod(
            this,
            [this, generation] {
                windowFailed(generation, AudioCaptureError(AudioCaptureError::Code::captureInterrupted).text());
            },
            Qt::QueuedConnection);
    };
    m_jobs->begin();
    auto open = [slot, jobs = m_jobs, server = &m_server, target, frames, failed] {
        const Jobs::Scope scope{*jobs};
        *slot = openCapture(*server, target, frames, failed);
    };
    QString problem;
    try {
        auto opening = BackgroundTask::run(CaptureThreads::pool(), std::move(open));
        co_await std::move(opening);
    } catch (const std::exception &error) {
        problem = errorText(error);
    }
    if (!self)
        co_return;
    auto capture = std::move(*slot);
    dropSlot(slot);
    if (generation != m_windowGeneration)
        co_return;
    if (!problem.isEmpty()) {
        windowFailed(generation, problem);
        co_return;
    }
    m_window = std::move(capture);
    m_windowProblem.clear();
    emit windowChanged();
}

void AudioCaptureService::windowFailed(quint64 generation, const QString &message)
{
    if (generation != m_windowGeneration || !m_windowTarget)
        return;
    releaseWindow();
    m_windowProblem = message;
    emit windowChanged();
    m_windowRetry->start(windowRetryInterval, false);
}

QCoro::Task<QString> AudioCaptureService::saveWindow(QString folder, RecordingEncodingSettings settings,
                                                     std::function<void(const QString &)> reserved)
{
    if (!m_windowTarget)
        throw AudioCaptureError(AudioCaptureError::Code::notKeeping);
    if (!isListening() || m_window->heldFrames() == 0)
        throw AudioCaptureError(AudioCaptureError::Code::nothingKept);
    const auto capture = m_window;
    const auto frames = std::min(capture->heldFrames(), std::int64_t(m_windowSeconds) * sampleRate);
    const auto url = reserveTakeFile(folder, settings, m_clock.now().addMSecs(-frames * 1000 / sampleRate));
    if (reserved)
        reserved(url);
    m_jobs->begin();
    auto save = [capture, jobs = m_jobs, url, settings, seconds = m_windowSeconds] {
        const Jobs::Scope scope{*jobs};
        try {
            const auto audio = capture->keptAudio(std::int64_t(seconds) * sampleRate);
            if (audio.frames == 0)
                throw AudioCaptureError(AudioCaptureError::Code::nothingKept);
            writeKept(audio, url, settings);
        } catch (...) {
            QFile::remove(url);
            throw;
        }
    };
    auto saving = BackgroundTask::run(CaptureThreads::pool(), std::move(save));
    co_await std::move(saving);
    co_return url;
}

void AudioCaptureService::appendLivePeaks(quint64 take, const std::vector<float> &levels)
{
    if (take != m_take)
        return;
    m_livePeaks.insert(m_livePeaks.end(), levels.begin(), levels.end());
    m_liveLevelCount += qint64(levels.size());
    if (m_livePeaks.size() > std::size_t(maxLivePeaks))
        m_livePeaks.erase(m_livePeaks.begin(), m_livePeaks.end() - maxLivePeaks);
    emit livePeaksChanged();
}

std::optional<float> AudioCaptureService::peakLevel(std::span<const std::int16_t> samples)
{
    const auto count = samples.size();
    if (count < 1)
        return std::nullopt;
    const std::size_t stride = count < 2048 ? 1 : count / 2048;
    int peak = 0;
    for (std::size_t i = 0; i < count; i += stride)
        peak = std::max(peak, std::abs(int(samples[i])));
    return std::min(float(peak) / 32767.0f, 1.0f);
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
