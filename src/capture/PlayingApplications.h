#pragma once

#include "capture/PlayingApplication.h"
#include "platform/PlaybackStream.h"

#include <QObject>
#include <memory>
#include <vector>

class Clock;
class DesktopEntries;
class SoundServer;
class Timer;

/// The applications playing right now, kept current from the sound server's reports on a
/// connection of its own (listening again a little after it is lost). Lives on the GUI thread,
/// which only ever reads the list.
class PlayingApplications : public QObject {
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds retryInterval{5000};

    /// \a server and \a clock outlive it. It is empty until watch() is called.
    PlayingApplications(SoundServer &server, Clock &clock, QObject *parent = nullptr);
    ~PlayingApplications() override;

    /// Starts keeping the list current; later calls do nothing.
    void watch();

    /// By title; empty until the sound server first answers.
    [[nodiscard]] const std::vector<PlayingApplication> &applications() const { return m_applications; }
    /// The playing application \a target names; none when it plays nothing now.
    [[nodiscard]] std::optional<PlayingApplication> find(const CaptureTarget &target) const;

    /// The applications of \a streams that are not paused and not \a ownProcess, one each, by
    /// title; \a entries names them (none: the stream's names).
    [[nodiscard]] static std::vector<PlayingApplication> group(const std::vector<PlaybackStream> &streams,
                                                               const DesktopEntries *entries, qint64 ownProcess);

signals:
    void changed();

private:
    struct Shared;

    void openWatch();
    void publish(std::vector<PlayingApplication> applications);

    SoundServer &m_server;
    Timer *m_retry;
    std::vector<PlayingApplication> m_applications;
    std::shared_ptr<Shared> m_shared;
    bool m_watching = false;
};
