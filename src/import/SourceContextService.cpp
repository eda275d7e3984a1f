#include "import/SourceContextService.h"

#include "base/Logging.h"

#include "import/MediaHosts.h"
#include "platform/BrowserSessions.h"
#include "platform/Clock.h"
#include "platform/DesktopWindows.h"
#include "platform/MediaPlayers.h"
#include "platform/SoundServer.h"

#include <QHash>
#include <QUrl>

#include <algorithm>

namespace {
struct Browser {
    QString identifier;
    QString name;
    QStringList aliases; ///< other desktop-entry names and window classes, lower-case
};

const std::vector<Browser> &browsers()
{
    static const std::vector<Browser> table{
        {"firefox", "Firefox", {"firefox-esr", "org.mozilla.firefox", "navigator"}},
        {"google-chrome", "Google Chrome", {"com.google.chrome"}},
        {"brave-browser", "Brave", {"com.brave.browser"}},
        {"microsoft-edge", "Microsoft Edge", {"com.microsoft.edge"}},
        {"chromium", "Chromium", {"chromium-browser", "org.chromium.chromium"}},
    };
    return table;
}

QString displayName(const QString &browser)
{
    for (const auto &entry : browsers()) {
        if (entry.identifier == browser)
            return entry.name;
    }
    return browser;
}

std::optional<QString> trimmedText(const std::optional<QString> &text)
{
    if (!text)
        return std::nullopt;
    auto trimmed = text->trimmed();
    return trimmed.isEmpty() ? std::nullopt : std::optional(trimmed);
}

bool parses(const std::optional<QString> &text)
{
    if (!text || text->isEmpty())
        return false;
    const QUrl url(*text, QUrl::StrictMode);
    return url.isValid() && !url.scheme().isEmpty();
}

bool isMediaTab(const BrowserTab &tab)
{
    const QUrl url(tab.urlString, QUrl::StrictMode);
    return url.isValid() && !url.host().isEmpty() && MediaHosts::isMediaHost(url.host());
}

bool sameIdentifier(const std::optional<QString> &a, const std::optional<QString> &b)
{
    if (a == b)
        return true;
    const auto browserA = SourceContextService::browserIdentifier(a);
    return browserA && browserA == SourceContextService::browserIdentifier(b);
}

bool isApplication(const PlaybackStream &stream, const RunningApplication &application)
{
    if (application.processIdentifier && stream.processId == application.processIdentifier)
        return true;
    if (application.bundleIdentifier
        && sameIdentifier(SourceContextService::bundleIdentifier(stream), application.bundleIdentifier))
        return true;
    return application.localizedName && stream.appName
        && stream.appName->compare(*application.localizedName, Qt::CaseInsensitive) == 0;
}

/// The players as they were when first asked, so that one lookup asks the bus once.
class PlayerSnapshot final : public MediaPlayers {
public:
    explicit PlayerSnapshot(MediaPlayers *players) : m_players(players) {}
    std::vector<MediaPlayerState> playingPlayers() override
    {
        if (!m_playing)
            m_playing = m_players ? m_players->playingPlayers() : std::vector<MediaPlayerState>();
        return *m_playing;
    }

private:
    MediaPlayers *m_players;
    std::optional<std::vector<MediaPlayerState>> m_playing;
};

/// Each browser's session as first read, so that one lookup reads each file once.
class SessionSnapshot final : public BrowserSessions {
public:
    explicit SessionSnapshot(BrowserSessions *sessions) : m_sessions(sessions) {}
    std::optional<qint64> runningProcess(const QString &browser) override
    {
        if (!m_processes.contains(browser))
            m_processes.insert(browser, m_sessions ? m_sessions->runningProcess(browser) : std::nullopt);
        return m_processes.value(browser);
    }
    BrowserSession session(const QString &browser) override
    {
        if (!m_read.contains(browser))
            m_read.insert(browser, m_sessions ? m_sessions->session(browser) : BrowserSession{});
        return m_read.value(browser);
    }

private:
    BrowserSessions *m_sessions;
    QHash<QString, std::optional<qint64>> m_processes;
    QHash<QString, BrowserSession> m_read;
};

RunningApplication streamApplication(const PlaybackStream &stream)
{
    return {stream.processId, stream.appName ? stream.appName : stream.processBinary,
            SourceContextService::bundleIdentifier(stream)};
}
} // namespace

const QStringList &SourceContextService::browserBundleIdentifiers()
{
    static const QStringList identifiers = [] {
        QStringList list;
        for (const auto &entry : browsers())
            list << entry.identifier;
        return list;
    }();
    return identifiers;
}

const QStringList &SourceContextService::ignoredBundleIdentifiers()
{
    static const QStringList identifiers{QStringLiteral("code")};
    return identifiers;
}

std::optional<QString> SourceContextService::browserIdentifier(const std::optional<QString> &identifier)
{
    if (!identifier)
        return std::nullopt;
    auto name = identifier->trimmed().toLower();
    if (name.endsWith(QLatin1String(".desktop")))
        name.chop(8);
    for (const auto &entry : browsers()) {
        if (name == entry.identifier || entry.aliases.contains(name))
            return entry.identifier;
    }
    return std::nullopt;
}

std::optional<QString> SourceContextService::bundleIdentifier(const PlaybackStream &stream)
{
    return stream.applicationId ? stream.applicationId : stream.processBinary;
}

bool SourceContextService::titlesMatch(const QString &tabTitle, const QString &windowTitle)
{
    return !tabTitle.isEmpty() && !windowTitle.isEmpty()
        && (tabTitle == windowTitle || tabTitle.contains(windowTitle) || windowTitle.contains(tabTitle));
}

template <typename Lookup>
auto SourceContextService::withSnapshot(Lookup lookup) const
{
    PlayerSnapshot players(m_sources.players);
    SessionSnapshot sessions(m_sources.browsers);
    SourceContextService snapshot(
        m_server, m_clock,
        {m_sources.windows, m_sources.players ? &players : nullptr, m_sources.browsers ? &sessions : nullptr});
    snapshot.m_isSnapshot = true;
    return lookup(snapshot);
}

std::optional<RecordingSourceContext>
SourceContextService::bestCandidate(const std::optional<RunningApplication> &latestForegroundApp,
                                    const std::optional<QString> &ignoringBundleIdentifier) const
{
    if (!m_isSnapshot) {
        return withSnapshot([&](const SourceContextService &snapshot) {
            return snapshot.bestCandidate(latestForegroundApp, ignoringBundleIdentifier);
        });
    }
    const auto &ignoring = ignoringBundleIdentifier;
    // The sound server knows who plays: the front application when it is among them, else the
    // stream that started last stands in for it.
    const auto playing = playingStreams(ignoring);
    auto latestApp = latestForegroundApp;
    std::optional<QString> streamTitle;
    std::optional<QString> playingBrowser;
    for (const auto &stream : playing) {
        if (!playingBrowser)
            playingBrowser = browserIdentifier(bundleIdentifier(stream));
    }
    if (!playing.empty()) {
        auto chosen = playing.front();
        if (latestForegroundApp) {
            const auto front = std::find_if(playing.begin(), playing.end(), [&](const PlaybackStream &stream) {
                return isApplication(stream, *latestForegroundApp);
            });
            if (front != playing.end())
                chosen = *front;
        }
        latestApp = streamApplication(chosen);
        streamTitle = chosen.mediaName;
    }
    auto latest = latestApp ? context(*latestApp, ignoring) : std::nullopt;
    if (latest && !latest->windowTitle)
        latest->windowTitle = streamTitle;

    const auto preferred = playingBrowser ? playingBrowser : (latest ? latest->bundleIdentifier : std::nullopt);
    if (auto media = runningMediaBrowser(preferred, ignoring))
        return media;
    if (latest && parses(latest->urlString))
        return latest;
    if (auto browser = runningBrowser(ignoring))
        return browser;
    if (latest && !(latest->bundleIdentifier && ignoredBundleIdentifiers().contains(*latest->bundleIdentifier)))
        return latest;
    if (!m_sources.windows)
        return std::nullopt;
    const auto frontmost = m_sources.windows->frontmostApplication();
    return frontmost ? context(*frontmost, ignoring) : std::nullopt;
}

std::optional<RecordingSourceContext>
SourceContextService::refreshedURLContext(const RecordingSourceContext &stored,
                                          const std::optional<QString> &ignoringBundleIdentifier) const
{
    if (!m_isSnapshot) {
        return withSnapshot([&](const SourceContextService &snapshot) {
            return snapshot.refreshedURLContext(stored, ignoringBundleIdentifier);
        });
    }
    const auto browser = browserIdentifier(stored.bundleIdentifier);
    if (!browser)
        return std::nullopt;
    if (const auto process = runningProcess(*browser)) {
        const RunningApplication application{process, displayName(*browser), *browser};
        auto fresh = context(application, ignoringBundleIdentifier);
        if (fresh && parses(fresh->urlString))
            return fresh;
    }
    const auto url = browserURL(browser, stored.windowTitle);
    if (!url)
        return std::nullopt;
    auto refreshed = stored;
    refreshed.urlString = url;
    refreshed.capturedAt = m_clock.now();
    return refreshed;
}

std::optional<RecordingSourceContext> SourceContextService::context(const RunningApplication &application,
                                                                    const std::optional<QString> &ignoring) const
{
    if (sameIdentifier(application.bundleIdentifier, ignoring) || !application.localizedName)
        return std::nullopt;
    RecordingSourceContext context;
    context.appName = application.localizedName;
    context.bundleIdentifier = application.bundleIdentifier;
    context.windowTitle = windowTitle(application.processIdentifier, application.bundleIdentifier);
    context.urlString = browserURL(application.bundleIdentifier, context.windowTitle);
    context.capturedAt = m_clock.now();
    return context;
}

std::optional<QString> SourceContextService::windowTitle(std::optional<qint64> processIdentifier,
                                                         const std::optional<QString> &bundleIdentifier) const
{
    if (m_sources.players) {
        for (const auto &player : m_sources.players->playingPlayers()) {
            const bool same = (processIdentifier && player.processIdentifier == processIdentifier)
                || (bundleIdentifier && sameIdentifier(player.desktopEntry, bundleIdentifier));
            if (same && trimmedText(player.title))
                return player.title;
        }
    }
    if (!m_sources.windows || !processIdentifier)
        return std::nullopt;
    for (const auto &window : m_sources.windows->windows()) {
        if (window.processIdentifier == processIdentifier && !window.title.isEmpty())
            return window.title;
    }
    return std::nullopt;
}

std::optional<QString> SourceContextService::browserURL(const std::optional<QString> &bundleIdentifier,
                                                        const std::optional<QString> &title) const
{
    const auto browser = browserIdentifier(bundleIdentifier);
    if (!browser)
        return std::nullopt;
    const auto target = trimmedText(title);
    const auto tabs = browserTabs(*browser);
    if (target) {
        for (const auto &tab : tabs) {
            if (tab.title && titlesMatch(*tab.title, *target))
                return tab.urlString;
        }
    }
    // The playing tab, else the front window's selected tab.
    if (m_sources.players) {
        for (const auto &player : m_sources.players->playingPlayers()) {
            if (sameIdentifier(player.desktopEntry, browser) && trimmedText(player.url))
                return player.url->trimmed();
        }
    }
    if (!m_sources.browsers)
        return std::nullopt;
    const auto front = m_sources.browsers->session(*browser).frontTab;
    return front ? std::optional(front->urlString) : std::nullopt;
}

std::vector<BrowserTab> SourceContextService::browserTabs(const QString &browser) const
{
    std::vector<BrowserTab> tabs;
    if (m_sources.players) {
        for (const auto &player : m_sources.players->playingPlayers()) {
            if (sameIdentifier(player.desktopEntry, browser) && trimmedText(player.url))
                tabs.push_back({trimmedText(player.title), player.url->trimmed()});
        }
    }
    if (m_sources.browsers) {
        for (auto &tab : m_sources.browsers->session(browser).tabs)
            tabs.push_back(std::move(tab));
    }
    return tabs;
}

std::optional<BrowserTab> SourceContextService::preferredMediaBrowserTab(const QString &browser) const
{
    for (const auto &tab : browserTabs(browser)) {
        if (isMediaTab(tab))
            return tab;
    }
    return std::nullopt;
}

std::optional<RecordingSourceContext>
SourceContextService::runningMediaBrowser(const std::optional<QString> &preferred,
                                          const std::optional<QString> &ignoring) const
{
    QStringList candidates;
    if (const auto first = browserIdentifier(preferred))
        candidates << *first;
    for (const auto &browser : browserBundleIdentifiers()) {
        if (!candidates.contains(browser))
            candidates << browser;
    }
    for (const auto &browser : candidates) {
        if (sameIdentifier(browser, ignoring) || !runningProcess(browser))
            continue;
        if (const auto tab = preferredMediaBrowserTab(browser))
            return browserContext(browser, *tab);
    }
    return std::nullopt;
}

std::optional<RecordingSourceContext> SourceContextService::runningBrowser(const std::optional<QString> &ignoring) const
{
    if (auto media = runningMediaBrowser(std::nullopt, ignoring))
        return media;
    for (const auto &browser : browserBundleIdentifiers()) {
        if (sameIdentifier(browser, ignoring))
            continue;
        const auto process = runningProcess(browser);
        if (!process)
            continue;
        auto found = context(RunningApplication{process, displayName(browser), browser}, ignoring);
        if (found && parses(found->urlString))
            return found;
    }
    return std::nullopt;
}

std::vector<PlaybackStream> SourceContextService::playingStreams(const std::optional<QString> &ignoring) const
{
    std::vector<PlaybackStream> streams;
    try {
        streams = m_server.playbackStreams();
    } catch (const std::exception &error) {
        // No playing stream tells where the sound comes from; the windows may still.
        logIgnoredFailure(lcImport(), error);
        return {};
    }
    std::erase_if(streams, [&](const PlaybackStream &stream) {
        return stream.corked || !stream.onDefaultSink || !(stream.appName || stream.processBinary)
            || (ignoring && sameIdentifier(bundleIdentifier(stream), ignoring));
    });
    std::sort(streams.begin(), streams.end(),
              [](const PlaybackStream &a, const PlaybackStream &b) { return a.index > b.index; });
    return streams;
}

std::optional<qint64> SourceContextService::runningProcess(const QString &browser) const
{
    if (m_sources.browsers) {
        if (auto process = m_sources.browsers->runningProcess(browser))
            return process;
    }
    // A browser that plays through its media-player interface runs, whatever its profile says.
    if (m_sources.players) {
        for (const auto &player : m_sources.players->playingPlayers()) {
            if (sameIdentifier(player.desktopEntry, browser))
                return player.processIdentifier.value_or(0);
        }
    }
    return std::nullopt;
}

RecordingSourceContext SourceContextService::browserContext(const QString &browser, const BrowserTab &tab) const
{
    RecordingSourceContext context;
    context.appName = displayName(browser);
    context.bundleIdentifier = browser;
    context.windowTitle = tab.title;
    context.urlString = tab.urlString;
    context.capturedAt = m_clock.now();
    return context;
}
