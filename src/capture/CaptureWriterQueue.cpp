#include "capture/CaptureWriterQueue.h"

#include "capture/AudioCaptureError.h"
#include "capture/AudioCaptureService.h"

#include <chrono>

namespace {
constexpr auto idleWake = std::chrono::milliseconds(250);
} // namespace

CaptureWriterQueue::CaptureWriterQueue(std::unique_ptr<CaptureFileWriter> writer, std::int64_t capacityFrames,
                                       std::int64_t checkpointFrames, Observer observer)
    : m_writer(std::move(writer)), m_capacityFrames(capacityFrames), m_checkpointFrames(checkpointFrames),
      m_observer(std::move(observer)), m_thread(QThread::create([this] { run(); }))
{
    m_thread->setObjectName(QString::fromLatin1(label));
    m_thread->start();
}

CaptureWriterQueue::~CaptureWriterQueue()
{
    close(Ending::cancel);
}

bool CaptureWriterQueue::push(CaptureBuffer &&buffer)
{
    {
        const std::lock_guard lock(m_mutex);
        if (m_ending == Ending::none && m_queuedFrames + buffer.frames() <= m_capacityFrames) {
            m_queuedFrames += buffer.frames();
            m_queue.push_back(std::move(buffer));
            m_wake.notify_one();
            return true;
        }
    }
    ++m_dropped;
    return false;
}

void CaptureWriterQueue::markSourceFailed()
{
    m_sourceFailed = true;
    const std::lock_guard lock(m_mutex);
    m_wake.notify_one();
}

void CaptureWriterQueue::finish()
{
    close(Ending::finish);
    if (m_error)
        std::rethrow_exception(m_error);
}

void CaptureWriterQueue::cancel()
{
    close(Ending::cancel);
}

void CaptureWriterQueue::close(Ending ending)
{
    const std::lock_guard closeLock(m_closeMutex);
    if (m_closed)
        return;
    {
        const std::lock_guard lock(m_mutex);
        m_ending = ending;
        m_wake.notify_one();
    }
    m_thread->wait();
    m_closed = true;
}

void CaptureWriterQueue::run()
{
    std::deque<CaptureBuffer> batch;
    Ending ending = Ending::none;
    while (ending == Ending::none) {
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait_for(lock, idleWake, [this] {
                return !m_queue.empty() || m_ending != Ending::none || (m_sourceFailed && !m_failureSignalled);
            });
            ending = m_ending;
            if (ending != Ending::cancel)
                batch.swap(m_queue);
            m_queuedFrames = 0;
            m_queue.clear();
        }
        writeBuffers(batch);
        if (m_sourceFailed && !m_failureSignalled) {
            m_failureSignalled = true;
            if (m_observer.sourceFailed)
                m_observer.sourceFailed();
        }
    }
    end(ending);
}

void CaptureWriterQueue::writeBuffers(std::deque<CaptureBuffer> &buffers)
{
    for (auto &buffer : buffers) {
        // After a write error the file takes nothing more; finish() rethrows it.
        if (!m_error) {
            try {
                m_writer->write(buffer.samples.data(), buffer.frames());
                m_written += buffer.frames();
                if (m_observer.written)
                    m_observer.written(buffer.samples.data(), buffer.frames());
                // Also inside a long batch, so a failure later in it loses at most one interval.
                if (m_written - m_checkpointed >= m_checkpointFrames) {
                    m_checkpointed = m_written;
                    m_writer->checkpoint();
                }
            } catch (...) {
                fail();
            }
        }
        const auto level = AudioCaptureService::peakLevel(buffer.samples);
        if (level && m_observer.peak)
            m_observer.peak(*level);
    }
    buffers.clear();
}

QString CaptureWriterQueue::failureMessage() const
{
    const std::lock_guard lock(m_mutex);
    return m_failureMessage;
}

void CaptureWriterQueue::fail()
{
    m_error = std::current_exception();
    QString message;
    try {
        std::rethrow_exception(m_error);
    } catch (const std::exception &error) {
        message = errorText(error);
    } catch (...) {
        message = AudioCaptureError::notSavedMessage();
    }
    {
        const std::lock_guard lock(m_mutex);
        m_failureMessage = message;
    }
    m_writerFailed = true;
    if (m_observer.writerFailed)
        m_observer.writerFailed(message);
}

void CaptureWriterQueue::end(Ending ending)
{
    if (ending == Ending::cancel) {
        m_writer->cancel();
        return;
    }
    try {
        m_writer->finish();
    } catch (...) {
        if (!m_error)
            m_error = std::current_exception();
    }
}
