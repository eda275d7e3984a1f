#pragma once

#include "capture/CaptureState.h"
#include "capture/RecordingEncodingSettings.h"
#include "library/RecordingInputSource.h"

#include <QObject>
#include <QString>
#include <qcoro/qcorotask.h>

#include <memory>
#include <optional>
#include <span>
#include <vector>

class CapturePeaks;
class CaptureSource;
class CaptureWriterQueue;
class Clock;
class SoundServer;

/// Records the computer's output or the default input into one audio file per take and
/// publishes the state and a short history of peak levels. Lives on the GUI thread.
class AudioCaptureService : public QObject {
    Q_OBJECT
public:
    static constexpr int maxLivePeaks = 900;
    /// How far the writer may fall behind before buffers are dropped.
    static constexpr int writerBacklogSeconds = 5;

    /// \a server and \a clock outlive the service.
    AudioCaptureService(SoundServer &server, Clock &clock, QObject *parent = nullptr);
    /// Waits for a start or stop still in flight; a take still open is finished, so its audio
    /// is kept. No writer or source callback runs afterwards.
    ~AudioCaptureService() override;

    [[nodiscard]] const CaptureState &state() const { return m_state; }
    /// The file being written; empty when no take is open.
    [[nodiscard]] const std::optional<QString> &activeURL() const { return m_activeURL; }
    /// Peak levels 0...1 of the latest buffers, oldest first.
    [[nodiscard]] const std::vector<float> &livePeaks() const { return m_livePeaks; }
    /// Buffers the current (else the last) take lost because the writer fell behind.
    [[nodiscard]] qint64 droppedBufferCount() const;
    /// The fine peak levels kept while the WAV or AIFF take \a url was written, once it is
    /// finished; none for other takes and formats.
    [[nodiscard]] std::shared_ptr<const CapturePeaks> peaksOf(const QString &url) const;

    /// Opens a take in \a folder (MP3 takes in its work folder) and returns the file being
    /// written. Throws AudioCaptureError.
    QCoro::Task<QString> startRecording(QString folder, RecordingEncodingSettings settings,
                                        RecordingInputSource source);
    /// Closes the open take and returns its file. Throws AudioCaptureError.
    QCoro::Task<QString> stopRecording();

    /// The largest magnitude among at most about 2048 evenly spaced samples, clamped to 1;
    /// empty for an empty buffer.
    [[nodiscard]] static std::optional<float> peakLevel(std::span<const float> samples);

signals:
    void stateChanged();
    void activeURLChanged();
    void livePeaksChanged();
    /// A take ended on its own: its source ended or its file could not be written. \a url is
    /// the finished file holding what was kept, \a message the user-facing reason (the state
    /// becomes failed(message) too, in no promised order).
    void recordingInterrupted(const QString &url, const QString &message);

private:
    QString openTake(const QString &folder, const RecordingEncodingSettings &settings);
    QCoro::Task<QString> finishTake();
    void cleanupAfterFailedStart();
    QCoro::Task<> finishInterruptedTake(quint64 take, QString message);
    void appendLivePeak(quint64 take, float level);
    void setState(const CaptureState &state);
    void setActiveURL(const std::optional<QString> &url);

    struct Jobs;

    SoundServer &m_server;
    Clock &m_clock;
    CaptureState m_state;
    std::optional<QString> m_activeURL;
    std::vector<float> m_livePeaks;

    quint64 m_take = 0; ///< counts takes, so late peaks and failures of an old one are ignored
    std::optional<QString> m_outputURL;
    std::shared_ptr<CaptureWriterQueue> m_writer;
    std::unique_ptr<CaptureSource> m_source;
    /// Where the open job in flight puts its source; the destructor ends one nobody took.
    std::shared_ptr<std::unique_ptr<CaptureSource>> m_opening;
    std::shared_ptr<Jobs> m_jobs; ///< the start or stop work running on the thread pool
    qint64 m_lastDropped = 0;
    /// The levels of the latest PCM take and its file, fed on its writer thread.
    std::pair<QString, std::shared_ptr<CapturePeaks>> m_takePeaks;
};
