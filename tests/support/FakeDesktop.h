#pragma once

#include "platform/BrowserSessions.h"
#include "platform/DesktopWindows.h"
#include "platform/MediaPlayers.h"
#include "platform/UrlOpener.h"

#include <QList>
#include <QMap>

/// A window list the test writes.
class FakeDesktopWindows final : public DesktopWindows {
public:
    std::vector<DesktopWindow> list; ///< front to back
    std::optional<RunningApplication> frontmost;
    std::vector<DesktopWindow> windows() override { return list; }
    std::optional<RunningApplication> frontmostApplication() override { return frontmost; }
};

/// Playing media players the test writes.
class FakeMediaPlayers final : public MediaPlayers {
public:
    std::vector<MediaPlayerState> playing;
    int asked = 0; ///< calls of playingPlayers()
    std::vector<MediaPlayerState> playingPlayers() override
    {
        ++asked;
        return playing;
    }
};

/// Browser sessions the test writes: a browser runs when it has a process.
class FakeBrowserSessions final : public BrowserSessions {
public:
    QMap<QString, qint64> processes;
    QMap<QString, BrowserSession> sessions;
    std::optional<qint64> runningProcess(const QString &browser) override
    {
        return processes.contains(browser) ? std::optional(processes.value(browser)) : std::nullopt;
    }
    BrowserSession session(const QString &browser) override { return sessions.value(browser); }
};

/// Records the addresses it is asked to open and answers \a succeeds.
class FakeUrlOpener final : public UrlOpener {
public:
    bool succeeds = true;
    QList<QUrl> opened;
    bool openUrl(const QUrl &url) override
    {
        opened << url;
        return succeeds;
    }
};
