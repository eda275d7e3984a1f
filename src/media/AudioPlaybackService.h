#pragma once

#include "media/PlaybackSelection.h"
#include "platform/AudioOutput.h"

#include <QObject>
#include <QString>
#include <memory>
#include <optional>
#include <vector>

class QTimer;

/// Plays one recording from a start time to the selection's end, or loops the selection,
/// publishing whether it plays and the time being heard. Decoding and the sound server run on
/// a feeder thread of each play; every public member is called on the GUI thread and returns
/// at once.
class AudioPlaybackService : public QObject {
    Q_OBJECT
public:
    /// \a openOutput opens the playback stream (on the feeder thread).
    explicit AudioPlaybackService(AudioOutput::Opener openOutput, QObject *parent = nullptr);
    /// Plays on the desktop's sound server.
    explicit AudioPlaybackService(QObject *parent = nullptr);
    ~AudioPlaybackService() override;

    /// True from the start of playback until it stops.
    [[nodiscard]] bool isPlaying() const { return m_isPlaying; }
    /// Seconds into the file of what is being heard; keeps its last value after a stop.
    [[nodiscard]] double currentTime() const { return m_currentTime; }
    /// The normalised selection of the last play or update.
    [[nodiscard]] const PlaybackSelection &selection() const { return m_selection; }

    /// Stops what plays, then plays \a url from \a start to \a end (or the file's end), looping
    /// with \a loop.
    void play(const QString &url, double start, std::optional<double> end, bool loop);
    /// Stops at once; harmless when nothing plays.
    void stop();
    /// Changes the selection, also while playing: a start after the current place jumps there,
    /// an end before it loops back or stops.
    void updateSelection(double start, std::optional<double> end, bool loop);

signals:
    void isPlayingChanged(bool playing);
    void currentTimeChanged(double seconds);
    /// Playback stopped because the file or the sound server failed; \a text says why.
    void failed(const QString &text);

private:
    struct Session;

    /// Publishes the feeder's progress: about every 33 ms while a session runs.
    void poll();
    void setPlaying(bool playing);
    void setCurrentTime(double seconds);
    /// Joins feeder threads that have finished their teardown.
    void reapFinished(bool wait);

    AudioOutput::Opener m_openOutput;
    PlaybackSelection m_selection;
    bool m_isPlaying = false;
    double m_currentTime = 0;
    QTimer *m_ticker;
    std::shared_ptr<Session> m_session;
    std::vector<std::shared_ptr<Session>> m_stopping;
};
