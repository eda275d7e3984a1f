// The source context of a system-audio take: which application plays on the default output,
// with a scripted stream list and against the test PulseAudio daemon, also from pool threads.

#include "import/SourceContextService.h"
#include "platform/PulseSoundServer.h"
#include "platform/SoundServerError.h"
#include "support/FakeClock.h"
#include "support/FakeDesktop.h"
#include "support/FakeSoundServer.h"
#include "support/PulseTestServer.h"
#include "support/SignalAnalysis.h"

#include <QLocalServer>
#include <QStandardPaths>
#include <QTest>
#include <QtConcurrent/QtConcurrentRun>

namespace {
PlaybackStream stream(quint32 index, const QString &name, std::optional<qint64> processId = std::nullopt)
{
    return {index, false, true, name, "org.example." + name, name.toLower(), processId, name + " track"};
}
std::optional<RunningApplication> front(std::optional<qint64> pid, std::optional<QString> name,
                                        std::optional<QString> bundle = std::nullopt)
{
    return RunningApplication{pid, std::move(name), std::move(bundle)};
}
} // namespace

Q_DECLARE_METATYPE(RunningApplication)

namespace {
/// The fake desktop: streams, windows, players and browsers.
struct Desk {
    FakeSoundServer &server;
    FakeDesktopWindows &w;
    FakeMediaPlayers &p;
    FakeBrowserSessions &b;
};
using Scene = std::function<void(Desk &)>;

QString text(const std::optional<RecordingSourceContext> &context)
{
    if (!context)
        return QStringLiteral("<none>");
    return QStringList{context->appName.value_or(""), context->bundleIdentifier.value_or(""),
                       context->windowTitle.value_or(""), context->urlString.value_or("")}
        .join(u'|');
}

BrowserSession tabs(std::initializer_list<BrowserTab> list)
{
    BrowserSession session{list, std::nullopt};
    if (!session.tabs.empty())
        session.frontTab = session.tabs.front();
    return session;
}
} // namespace
Q_DECLARE_METATYPE(Scene)

class TestSourceContext : public QObject {
    Q_OBJECT

    FakeSoundServer m_server;
    FakeClock m_clock;
    SourceContextService m_service{m_server, m_clock};
    FakeDesktopWindows m_windows;
    FakeMediaPlayers m_players;
    FakeBrowserSessions m_browsers;
    SourceContextService m_desktop{m_server, m_clock, {&m_windows, &m_players, &m_browsers}};

private slots:
    void init()
    {
        m_server.streams.clear();
        m_windows = {};
        m_players = {};
        m_browsers.processes.clear();
        m_browsers.sessions.clear();
    }

    void readsBrowsersWindowsAndPlayers_data()
    {
        QTest::addColumn<Scene>("scene");
        QTest::addColumn<std::optional<RunningApplication>>("front");
        QTest::addColumn<QString>("expected");
        const auto firefox = front(10, "Firefox", "firefox-esr"), chromium = front(20, "Chromium", "chromium");
        const BrowserTab docs{"Docs", "https://docs.org/"}, mix{"Mix", "https://soundcloud.com/x/mix"},
            clip{"Clip", "https://m.youtube.com/watch?v=2"}, news{"News", "https://news.org/"};
        const auto bothRun = [=](Desk &d, BrowserSession fox, BrowserSession chrome) {
            d.b.processes = {{"firefox", 10}, {"chromium", 20}};
            d.b.sessions = {{"firefox", fox}, {"chromium", chrome}};
        };
        QTest::newRow("a media tab elsewhere beats the front browser's page") << Scene([=](Desk &d) {
            bothRun(d, tabs({docs}), tabs({news, mix}));
        }) << firefox << "Chromium|chromium|Mix|https://soundcloud.com/x/mix";
        QTest::newRow("the front browser is asked first")
            << Scene([=](Desk &d) { bothRun(d, tabs({clip}), tabs({mix})); }) << firefox
            << "Firefox|firefox|Clip|https://m.youtube.com/watch?v=2";
        QTest::newRow("the browser heard playing comes before the front one") << Scene([=](Desk &d) {
            bothRun(d, tabs({clip}), tabs({mix}));
            d.server.streams = {{4, false, true, "Chromium", std::nullopt, "chromium", 20, "Mix"}};
        }) << firefox << "Chromium|chromium|Mix|https://soundcloud.com/x/mix";
        QTest::newRow("the tab whose title the front window shows") << Scene([=](Desk &d) {
            d.b.processes = {{"firefox", 10}};
            d.b.sessions = {{"firefox", tabs({docs, {"Beta", "https://b.org/"}})}};
            d.w.list = {{11, "Other"}, {10, "Beta — Mozilla Firefox"}, {10, "Docs — Mozilla Firefox"}};
        }) << firefox << "Firefox|firefox-esr|Beta — Mozilla Firefox|https://b.org/";
        QTest::newRow("the page a browser plays, from its media player") << Scene([=](Desk &d) {
            d.b.processes = {{"firefox", 10}};
            d.b.sessions = {{"firefox", tabs({docs})}};
            d.p.playing = {{"firefox-esr", 10, "Song", "https://www.youtube.com/watch?v=1"}};
        }) << chromium << "Firefox|firefox|Song|https://www.youtube.com/watch?v=1";
        QTest::newRow("a player without address, heard playing") << Scene([=](Desk &d) {
            d.server.streams = {stream(3, "Music", 77)};
            d.w.list = {{77, "Album — Music"}};
        }) << firefox << "Music|org.example.Music|Album — Music|";
        QTest::newRow("any browser's page when the front application has none") << Scene([=](Desk &d) {
            d.b.processes = {{"chromium", 20}};
            d.b.sessions = {{"chromium", tabs({news})}};
        }) << front(5, "Terminal", "org.gnome.Terminal") << "Chromium|chromium||https://news.org/";
        QTest::newRow("an outside tool in front: the frontmost application") << Scene([=](Desk &d) {
            d.w.frontmost = RunningApplication{6, "Notes", "org.notes"};
        }) << front(5, "Code", "code") << "Notes|org.notes||";
        QTest::newRow("this program in front, nothing else")
            << Scene([](Desk &) {}) << front(1, "Vespertone", "vespertone") << "<none>";
    }
    void readsBrowsersWindowsAndPlayers()
    {
        QFETCH(Scene, scene);
        QFETCH(std::optional<RunningApplication>, front);
        QFETCH(QString, expected);
        Desk desk{m_server, m_windows, m_players, m_browsers};
        scene(desk);
        QCOMPARE(text(m_desktop.bestCandidate(front, QStringLiteral("vespertone"))), expected);
        QCOMPARE(m_players.asked, 1); // one look at the bus per lookup
    }

    void refreshesABrowserSourceURL()
    {
        const RecordingSourceContext stored{"Firefox", "firefox-esr", "Beta — Mozilla Firefox", std::nullopt,
                                            m_clock.now().addDays(-1)};
        m_browsers.sessions = {{"firefox", tabs({{"Alpha", "https://a.org/"}, {"Beta", "https://b.org/"}})}};
        // Closed: the saved session still names the tab.
        auto refreshed = m_desktop.refreshedURLContext(stored, QStringLiteral("vespertone"));
        QCOMPARE(text(refreshed), QStringLiteral("Firefox|firefox-esr|Beta — Mozilla Firefox|https://b.org/"));
        QCOMPARE(refreshed->capturedAt, m_clock.now());
        // Running: a fresh context of its front window.
        m_browsers.processes = {{"firefox", 10}};
        m_windows.list = {{10, "Alpha — Mozilla Firefox"}};
        QCOMPARE(text(m_desktop.refreshedURLContext(stored, std::nullopt)),
                 QStringLiteral("Firefox|firefox|Alpha — Mozilla Firefox|https://a.org/"));
        auto player = stored;
        player.bundleIdentifier = "org.gnome.Music";
        QCOMPARE(text(m_desktop.refreshedURLContext(player, std::nullopt)), QStringLiteral("<none>"));
    }

    void choosesAmongTheRunningStreamsOfTheDefaultSink_data()
    {
        QTest::addColumn<bool>("playing");
        QTest::addColumn<std::optional<RunningApplication>>("front");
        QTest::addColumn<std::optional<QString>>("ignoring");
        QTest::addColumn<QString>("expected");
        const std::optional<QString> none, own("org.example.Vespertone"), player("org.example.Player");
        const QString old = "Old|org.example.Old|Old track|", newest = "New|org.example.New|New track|";
        QTest::newRow("newest") << true << std::optional<RunningApplication>() << none << newest;
        QTest::newRow("front by name, any case") << true << front(std::nullopt, "old") << none << old;
        QTest::newRow("front by identifier")
            << true << front(std::nullopt, std::nullopt, "org.example.Old") << none << old;
        QTest::newRow("front without properties: its binary")
            << true << front(150, std::nullopt) << none << "middle|middle||";
        QTest::newRow("front paused") << true << front(std::nullopt, "Paused") << none << newest;
        QTest::newRow("front elsewhere") << true << front(std::nullopt, "Headset") << none << newest;
        QTest::newRow("ignored even in front") << true << front(std::nullopt, "Vespertone") << own << newest;
        QTest::newRow("silence: front, without a stream's title")
            << false << front(55, "Player", "org.example.Player") << none << "Player|org.example.Player||";
        QTest::newRow("silence: front unnamed")
            << false << front(55, std::nullopt, "org.example.Player") << none << "<none>";
        QTest::newRow("silence: front ignored")
            << false << front(55, "Player", "org.example.Player") << player << "<none>";
        QTest::newRow("silence, no front") << false << std::optional<RunningApplication>() << none << "<none>";
    }
    void choosesAmongTheRunningStreamsOfTheDefaultSink()
    {
        QFETCH(bool, playing);
        QFETCH(std::optional<RunningApplication>, front);
        QFETCH(std::optional<QString>, ignoring);
        QFETCH(QString, expected);
        auto paused = stream(20, "Paused"), elsewhere = stream(21, "Headset"), anonymous = stream(22, "Anon");
        const PlaybackStream bare{5, false, true, std::nullopt, std::nullopt, "middle", 150, std::nullopt};
        paused.corked = true;
        elsewhere.onDefaultSink = false;
        anonymous.appName.reset();
        anonymous.processBinary.reset();
        m_server.streams = {stream(3, "Old", 100), stream(12, "New", 200), bare, paused, elsewhere, anonymous};
        if (ignoring)
            m_server.streams.push_back(stream(19, "Vespertone"));
        if (!playing)
            m_server.streams.clear();
        const auto context = m_service.bestCandidate(front, ignoring);
        QCOMPARE(text(context), expected);
        if (context)
            QCOMPARE(context->capturedAt, m_clock.now());
    }

    void readsTheRealServerFromPoolThreads()
    {
        if (!serverAnswers() || QStandardPaths::findExecutable(QStringLiteral("paplay")).isEmpty())
            QSKIP("needs scripts/with-test-services.sh and paplay");
        QTemporaryDir dir;
        QObject players;
        auto play = [&](const QString &name, const QString &title, const QString &sink) {
            return playTone(
                &players, dir.path(), sink, 440, 0.1, 30,
                {"--client-name=" + name, "--stream-name=" + title, "--property=application.id=org.example." + name});
        };
        PulseSoundServer server;
        SourceContextService service(server, m_clock);
        // As the store runs it: on the thread pool, several lookups at once.
        auto contextNow = [&](const std::optional<RunningApplication> &app) {
            QList<QFuture<std::optional<RecordingSourceContext>>> lookups;
            for (int i = 0; i < 4; ++i)
                lookups << QtConcurrent::run([&] { return service.bestCandidate(app, std::nullopt); });
            QStringList contexts;
            for (auto &lookup : lookups)
                contexts << text(lookup.result());
            contexts.removeDuplicates();
            return contexts.join(u' ');
        };
        const auto tonePid = play("ToneApp", "Evening Raga", "@DEFAULT_SINK@");
        QVERIFY(tonePid);
        const QString tone = "ToneApp|org.example.ToneApp|Evening Raga|";
        QTRY_COMPARE_WITH_TIMEOUT(contextNow(std::nullopt), tone, 10000);
        QVERIFY(play("MicApp", "Voice", "mic_feed"));
        QVERIFY(play("OtherApp", "Morning", "@DEFAULT_SINK@"));
        QTRY_COMPARE_WITH_TIMEOUT(contextNow(std::nullopt), QStringLiteral("OtherApp|org.example.OtherApp|Morning|"),
                                  10000);
        QCOMPARE(contextNow(front(tonePid, std::nullopt)), tone);
    }

    void silentServerIsGivenUpOn()
    {
        // A socket that takes the connection and never answers.
        QTemporaryDir dir;
        QLocalServer silent;
        QVERIFY(silent.listen(dir.filePath(QStringLiteral("silent"))));
        PulseSoundServer server("unix:" + silent.fullServerName().toUtf8());
        try {
            (void)server.playbackStreams();
            QFAIL("a silent server answered");
        } catch (const SoundServerError &error) {
            QVERIFY(error.code() == SoundServerError::Code::unreachable);
        }
    }
};

QTEST_GUILESS_MAIN(TestSourceContext)
#include "test_source_context.moc"
