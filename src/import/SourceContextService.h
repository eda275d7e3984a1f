#pragma once

#include "library/RecordingSourceContext.h"
#include "platform/BrowserSessions.h"
#include "platform/CaptureTarget.h"
#include "platform/PlaybackStream.h"
#include "platform/RunningApplication.h"

#include <QStringList>
#include <optional>
#include <vector>

class BrowserSessions;
class Clock;
class DesktopWindows;
class MediaPlayers;
class SoundServer;

/// The desktop facilities the source context is looked up in; an absent one answers nothing.
struct SourceContextSources {
    DesktopWindows *windows = nullptr;
    MediaPlayers *players = nullptr;
    BrowserSessions *browsers = nullptr;
};

/// Works out where the sound of a system-audio take comes from: the application playing on the
/// default output or last in front, its window title and, for a browser, the address of the
/// playing or matching tab. Keeps no state between calls; every failure reads as no answer.
class SourceContextService {
public:
    using Sources = SourceContextSources;

    /// \a server, \a clock and \a sources outlive the service.
    SourceContextService(SoundServer &server, Clock &clock, Sources sources = {})
        : m_server(server), m_clock(clock), m_sources(sources)
    {}

    /// The supported browsers' desktop-entry names, in the order every search follows.
    [[nodiscard]] static const QStringList &browserBundleIdentifiers();
    /// The one outside application never taken as the source merely for having been in front.
    [[nodiscard]] static const QStringList &ignoredBundleIdentifiers();
    /// The supported browser \a identifier names (aliases and window classes included), if any.
    [[nodiscard]] static std::optional<QString> browserIdentifier(const std::optional<QString> &identifier);

    /// The best guess of the source at this moment: a browser tab on a media site first (the
    /// browser that plays, else the one last in front), then the last foreground application
    /// (the one the sound server hears playing when that differs), any browser's tab, the front
    /// application. Applications with \a ignoringBundleIdentifier never count. Blocks while the
    /// desktop answers; call it off the GUI thread.
    [[nodiscard]] std::optional<RecordingSourceContext>
    bestCandidate(const std::optional<RunningApplication> &latestForegroundApp,
                  const std::optional<QString> &ignoringBundleIdentifier) const;
    /// Where a take of the application \a target gets its sound: that application, with the
    /// title of what it plays and, for a browser, its tab on a media site or the address of the
    /// tab matching its window. Blocks like bestCandidate.
    [[nodiscard]] std::optional<RecordingSourceContext>
    applicationCandidate(const CaptureTarget &target, const std::optional<QString> &ignoringBundleIdentifier) const;
    /// A context with a fresh address for the browser source \a stored; none when it is no
    /// supported browser or no address can be found.
    [[nodiscard]] std::optional<RecordingSourceContext>
    refreshedURLContext(const RecordingSourceContext &stored,
                        const std::optional<QString> &ignoringBundleIdentifier) const;
    /// The context of \a application: its name, identifier, window title and, for a browser,
    /// the address of the tab matching that title. None for the ignored or an unnamed application.
    [[nodiscard]] std::optional<RecordingSourceContext> context(const RunningApplication &application,
                                                                const std::optional<QString> &ignoring) const;

    /// The stream's application identifier: application.id, else the process binary.
    [[nodiscard]] static std::optional<QString> bundleIdentifier(const PlaybackStream &stream);
    /// The title literal's content matching: equal, or either containing the other.
    [[nodiscard]] static bool titlesMatch(const QString &tabTitle, const QString &windowTitle);

    /// The title of \a processIdentifier's playing media item, else of its front window.
    [[nodiscard]] std::optional<QString> windowTitle(std::optional<qint64> processIdentifier,
                                                     const std::optional<QString> &bundleIdentifier) const;
    /// The address of \a browser's playing tab, else its tab whose title matches \a title, else
    /// its front window's selected tab.
    [[nodiscard]] std::optional<QString> browserURL(const std::optional<QString> &browser,
                                                    const std::optional<QString> &title) const;
    /// \a browser's playing tabs, then its saved tabs.
    [[nodiscard]] std::vector<BrowserTab> browserTabs(const QString &browser) const;
    /// The first of \a browser's tabs on a media site.
    [[nodiscard]] std::optional<BrowserTab> preferredMediaBrowserTab(const QString &browser) const;
    /// The first running browser, \a preferred first, with a media tab.
    [[nodiscard]] std::optional<RecordingSourceContext>
    runningMediaBrowser(const std::optional<QString> &preferred, const std::optional<QString> &ignoring) const;
    /// A running browser with a media tab, else the first running browser that gives an address.
    [[nodiscard]] std::optional<RecordingSourceContext> runningBrowser(const std::optional<QString> &ignoring) const;

private:
    /// Runs \a lookup on a service whose players and sessions are each asked once.
    template <typename Lookup>
    [[nodiscard]] auto withSnapshot(Lookup lookup) const;

    /// The streams playing (on the default output only, when \a defaultSinkOnly), newest first.
    [[nodiscard]] std::vector<PlaybackStream> playingStreams(const std::optional<QString> &ignoring,
                                                             bool defaultSinkOnly = true) const;
    [[nodiscard]] std::optional<qint64> runningProcess(const QString &browser) const;
    [[nodiscard]] RecordingSourceContext browserContext(const QString &browser, const BrowserTab &tab) const;

    SoundServer &m_server;
    Clock &m_clock;
    Sources m_sources;
    bool m_isSnapshot = false;
};
