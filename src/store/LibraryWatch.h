#pragma once

#include <QDateTime>
#include <QObject>
#include <QString>
#include <chrono>
#include <functional>
#include <optional>

class Clock;
class FolderWatcher;
class Timer;

/// Keeps the library listed as its folder changes under it (a file manager, a sync client, the
/// terminal tool): changes to the library folder and its metadata folder are gathered for a
/// moment and rescanned once, and wait while a take or an import writes into the folder.
class LibraryWatch : public QObject {
    Q_OBJECT
public:
    struct Hooks {
        std::function<bool()> isWriting; ///< a take or an import is writing into the folder
        std::function<void()> rescan;
    };
    /// Quiet time after the last change before the rescan.
    static constexpr std::chrono::milliseconds settleTime{250};
    /// Longest wait after the first change, however busy the folder stays.
    static constexpr std::chrono::milliseconds longestWait{1000};

    /// \a watcher and \a clock outlive the watch.
    LibraryWatch(FolderWatcher &watcher, Clock &clock, Hooks hooks, QObject *parent = nullptr);

    /// Watches \a folder and its metadata folder from now on.
    void follow(const QString &folder);
    /// Rescans now when changes waited for the writing to end and it has.
    void writingEnded();

private:
    [[nodiscard]] QStringList folders() const;
    void noteChange();
    void settle();

    FolderWatcher &m_watcher;
    Clock &m_clock;
    Hooks m_hooks;
    Timer *m_timer;
    QString m_folder;
    std::optional<QDateTime> m_firstChange;
    bool m_waiting = false;
};
