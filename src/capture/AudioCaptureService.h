#pragma once

#include "capture/CaptureState.h"
#include "capture/RecordingEncodingSettings.h"
#include "platform/CaptureTarget.h"

#include <QDateTime>
#include <QObject>
#include <QString>
#include <qcoro/qcorotask.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <vector>

class CapturePeaks;
class CaptureSource;
class CaptureWriterQueue;
class Clock;
class LiveCapture;
class SoundServer;
class Timer;

/// Records a capture target (an output's monitor, an input, one application) into one audio
/// file per take, publishes the state and a short history of peak levels, and can keep the last
/// seconds of a target in memory to save as a take or to begin takes with. Lives on the GUI
/// thread; the sound server is only ever waited for on capture threads of its own.
class AudioCaptureService : public QObject {
    Q_OBJECT
public:
    static constexpr int maxLivePeaks = 900;
    /// How far the writer may fall behind before buffers are dropped.
    static constexpr int writerBacklogSeconds = 5;
    /// How often a running take's file is put on the disk.
    static constexpr std::chrono::milliseconds defaultSyncInterval{2000};
    /// How much audio the writer takes at a time (and the live levels arrive in).
    static constexpr int writerBatchMilliseconds = 100;
    /// How long a kept window whose capture failed waits before it listens again.
    static constexpr std::chrono::milliseconds windowRetryInterval{5000};
    static constexpr int sampleRate = 48000;
    static constexpr int channelCount = 2;

    /// \a server and \a clock outlive the service.
    AudioCaptureService(SoundServer &server, Clock &clock, QObject *parent = nullptr);
    /// Waits for the capture work still in flight; a take still open is finished, so its audio
    /// is kept. No writer or source callback runs afterwards.
    ~AudioCaptureService() override;

    [[nodiscard]] const CaptureState &state() const { return m_state; }
    /// The file being written; empty when no take is open.
    [[nodiscard]] const std::optional<QString> &activeURL() const { return m_activeURL; }
    /// Peak levels 0...1 of the latest buffers, oldest first.
    [[nodiscard]] const std::vector<float> &livePeaks() const { return m_livePeaks; }
    /// The levels the take has published so far, those that livePeaks no longer holds included.
    [[nodiscard]] qint64 liveLevelCount() const { return m_liveLevelCount; }
    /// Buffers the current (else the last) take lost because the writer fell behind.
    [[nodiscard]] qint64 droppedBufferCount() const;
    /// The fine peak levels kept while the WAV or AIFF take \a url was written, once it is
    /// finished; none for other takes and formats.
    [[nodiscard]] std::shared_ptr<const CapturePeaks> peaksOf(const QString &url) const;

    /// Opens a take of \a target in \a folder (MP3 takes in its work folder) and returns the
    /// file being written. Throws AudioCaptureError.
    QCoro::Task<QString> startRecording(QString folder, RecordingEncodingSettings settings, CaptureTarget target);
    /// Closes the open take and returns its file. Throws AudioCaptureError.
    QCoro::Task<QString> stopRecording();

    /// Keeps the last \a seconds of \a target in memory from now on, never on disk; none, or
    /// 0 seconds, keeps nothing. A window whose capture fails listens again a little later.
    void keepWindow(std::optional<CaptureTarget> target, int seconds);
    /// The kept window's target; none when nothing is kept.
    [[nodiscard]] const std::optional<CaptureTarget> &windowTarget() const { return m_windowTarget; }
    [[nodiscard]] int windowSeconds() const { return m_windowTarget ? m_windowSeconds : 0; }
    /// True while the kept window's capture runs.
    [[nodiscard]] bool isListening() const;
    /// Why a kept window does not listen; empty while it does or nothing is kept.
    [[nodiscard]] const QString &windowProblem() const { return m_windowProblem; }
    /// Takes of the window's target begin with what the window holds.
    void setPreRoll(bool enabled) { m_preRoll = enabled; }
    [[nodiscard]] bool preRoll() const { return m_preRoll; }
    /// Writes what the window holds as a new file in \a folder (an MP3 take's WAV in its work
    /// folder) named for when its audio began; \a reserved hears the name before the writing
    /// starts. The window keeps listening meanwhile. Throws AudioCaptureError.
    QCoro::Task<QString> saveWindow(QString folder, RecordingEncodingSettings settings,
                                    std::function<void(const QString &)> reserved = {});

    /// How often a running take's file is synced; zero never (for measurements).
    void setSyncInterval(std::chrono::milliseconds interval) { m_syncInterval = interval; }

    /// The largest magnitude among at most about 2048 evenly spaced samples, over 32767 and
    /// clamped to 1; empty for an empty buffer.
    [[nodiscard]] static std::optional<float> peakLevel(std::span<const std::int16_t> samples);

signals:
    void stateChanged();
    void activeURLChanged();
    void livePeaksChanged();
    /// The kept window started or stopped listening, or changed.
    void windowChanged();
    /// A take ended on its own: its source ended or its file could not be written. \a url is
    /// the finished file holding what was kept, \a message the user-facing reason (the state
    /// becomes failed(message) too, in no promised order).
    void recordingInterrupted(const QString &url, const QString &message);

private:
    struct Jobs;
    using CaptureSlot = std::shared_ptr<std::shared_ptr<LiveCapture>>;

    QString openTake(const QString &folder, const RecordingEncodingSettings &settings, const QDateTime &begins,
                     std::int64_t preRollFrames);
    QCoro::Task<QString> finishTake();
    void cleanupAfterFailedStart();
    QCoro::Task<> finishInterruptedTake(quint64 take, QString message);
    QCoro::Task<> openWindow();
    void windowFailed(quint64 generation, const QString &message);
    void releaseWindow();
    /// A slot the destructor empties if the job filling it is never awaited to its end.
    CaptureSlot newSlot(std::shared_ptr<LiveCapture> capture);
    void dropSlot(const CaptureSlot &slot);
    void appendLivePeaks(quint64 take, const std::vector<float> &levels);
    void setState(const CaptureState &state);
    void setActiveURL(const std::optional<QString> &url);

    SoundServer &m_server;
    Clock &m_clock;
    CaptureState m_state;
    std::optional<QString> m_activeURL;
    std::vector<float> m_livePeaks;
    qint64 m_liveLevelCount = 0;
    std::chrono::milliseconds m_syncInterval = defaultSyncInterval;

    quint64 m_take = 0; ///< counts takes, so late peaks and failures of an old one are ignored
    std::optional<QString> m_outputURL;
    std::shared_ptr<CaptureWriterQueue> m_writer;
    std::shared_ptr<LiveCapture> m_capture; ///< what the open take is fed from

    std::optional<CaptureTarget> m_windowTarget;
    int m_windowSeconds = 0;
    bool m_preRoll = false;
    quint64 m_windowGeneration = 0; ///< counts window changes, so a late open of an old one is dropped
    std::shared_ptr<LiveCapture> m_window;
    QString m_windowProblem;
    Timer *m_windowRetry;

    std::vector<CaptureSlot> m_slots;
    std::shared_ptr<Jobs> m_jobs; ///< the work running on the capture threads
    qint64 m_lastDropped = 0;
    /// The levels of the latest PCM take and its file, fed on its writer thread.
    std::pair<QString, std::shared_ptr<CapturePeaks>> m_takePeaks;
};
