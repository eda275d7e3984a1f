#include "capture/CaptureWriterQueue.h"

#include "capture/AudioCaptureService.h"

#include <chrono>

namespace {
constexpr auto checkpointInterval = std::chrono::seconds(1);
constexpr auto idleWake = std::chrono::milliseconds(250);
} // namespace

CaptureWriterQueue::CaptureWriterQueue(std::unique_ptr<CaptureFileWriter> writer, std::int64_t capacityFrames,
                                       Observer observer)
    : m_writer(std::move(writer)), m_capacityFrames(capacityFrames), m_observer(std::move(observer)),
      m_thread(QThread::create([this] { run(); }))
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
    auto lastCheckpoint = std::chrono::steady_clock::now();
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
            m_observer.sourceFailed();
        }
        if (!m_error && std::chrono::steady_clock::now() - lastCheckpoint >= checkpointInterval) {
            lastCheckpoint = std::chrono::steady_clock::now();
            try {
                m_writer->checkpoint();
            } catch (...) {
                m_error = std::current_exception();
            }
        }
    }
    end(ending);
}

void CaptureWriterQueue::writeBuffers(std::deque<CaptureBuffer> &buffers)
{
    for (auto &buffer : buffers) {
        // After a write error the file takes nothing more; the error surfaces at finish().
        if (!m_error) {
            try {
                m_writer->write(buffer.samples.data(), buffer.frames());
                m_written += buffer.frames();
            } catch (...) {
                m_error = std::current_exception();
            }
        }
        if (const auto level = AudioCaptureService::peakLevel(buffer.samples))
            m_observer.peak(*level);
    }
    buffers.clear();
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
