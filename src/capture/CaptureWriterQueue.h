#pragma once

#include "capture/CaptureFileWriter.h"
#include "platform/CaptureBuffer.h"

#include <QThread>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>

/// The serial writer queue of one take: its own thread takes buffers from a bounded queue,
/// writes them, reports each buffer's peak and checkpoints the file after every
/// checkpointFrames frames written (a second of audio). Buffers
/// are dropped (and counted) only when the writer is more than the capacity behind. After a
/// failed write or checkpoint the file takes nothing more and the observer hears of it.
class CaptureWriterQueue {
public:
    static constexpr const char *label = "com.vespertone.capture.writer";

    /// Called on the writer thread.
    struct Observer {
        std::function<void(float)> peak;
        /// The source reported its end; after the buffers it delivered before.
        std::function<void()> sourceFailed;
        /// Writing failed; \a message is the user-facing text. Called once.
        std::function<void(const QString &message)> writerFailed;
        /// \a frames interleaved frames reached the file.
        std::function<void(const float *interleaved, std::int64_t frames)> written;
    };

    CaptureWriterQueue(std::unique_ptr<CaptureFileWriter> writer, std::int64_t capacityFrames,
                       std::int64_t checkpointFrames, Observer observer);
    /// Cancels the file unless finish() or cancel() ran.
    ~CaptureWriterQueue();
    CaptureWriterQueue(const CaptureWriterQueue &) = delete;
    CaptureWriterQueue &operator=(const CaptureWriterQueue &) = delete;

    /// From any thread; never waits for the writer. False when the buffer was dropped.
    bool push(CaptureBuffer &&buffer);
    /// From any thread: the source ended.
    void markSourceFailed();
    [[nodiscard]] bool sourceFailed() const { return m_sourceFailed; }
    /// True once a write or checkpoint failed.
    [[nodiscard]] bool writerFailed() const { return m_writerFailed; }
    /// The user-facing text of that failure; empty while none happened.
    [[nodiscard]] QString failureMessage() const;

    /// Writes what is queued, completes the file and ends the thread; rethrows the first
    /// write or finish error. Blocks; later calls return the same outcome.
    void finish();
    /// Drops what is queued, deletes the file and ends the thread. Blocks.
    void cancel();

    [[nodiscard]] std::int64_t droppedBuffers() const { return m_dropped; }
    [[nodiscard]] std::int64_t writtenFrames() const { return m_written; }

private:
    enum class Ending { none, finish, cancel };

    void run();
    void writeBuffers(std::deque<CaptureBuffer> &buffers);
    /// Records the failure in flight and tells the observer.
    void fail();
    void end(Ending ending);
    void close(Ending ending);

    std::unique_ptr<CaptureFileWriter> m_writer;
    const std::int64_t m_capacityFrames;
    const std::int64_t m_checkpointFrames;
    Observer m_observer;

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<CaptureBuffer> m_queue;
    std::int64_t m_queuedFrames = 0;
    Ending m_ending = Ending::none;
    bool m_failureSignalled = false;
    QString m_failureMessage;

    std::atomic<bool> m_sourceFailed = false;
    std::atomic<bool> m_writerFailed = false;
    std::atomic<std::int64_t> m_dropped = 0;
    std::atomic<std::int64_t> m_written = 0;
    std::exception_ptr m_error;      ///< writer thread only until it ends
    std::int64_t m_checkpointed = 0; ///< frames written at the last checkpoint; writer thread only

    std::mutex m_closeMutex;
    bool m_closed = false;
    std::unique_ptr<QThread> m_thread;
};
