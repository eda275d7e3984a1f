// The installed browsers themselves, headless against local pages: their session files, as read
// by BrowserSessionFiles, name both pages with their titles while the browser runs, and Firefox
// publishes its playing page on the session bus.

#include "platform/BrowserSessionFiles.h"
#include "platform/MprisMediaPlayers.h"
#include "support/AudioFixtures.h"
#include "support/LocalHttpServer.h"
#include "support/TestFiles.h"

#include <QDir>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <unistd.h>

namespace {
/// A page that replaces its history state shortly after loading, so the browser saves its title.
QByteArray page(const QByteArray &title)
{
    return "<html><head><title>" + title
        + "</title></head><body><script>setTimeout(function () { history.replaceState({seen: 1}, ''); }, 300);"
          "</script></body></html>";
}

/// A browser in its own process group, which goes entirely when the test ends.
class BrowserProcess : public QProcess {
public:
    explicit BrowserProcess(const QString &home = {})
    {
        auto environment = QProcessEnvironment::systemEnvironment();
        if (!home.isEmpty())
            environment.insert("HOME", home);
        setProcessEnvironment(environment);
        setChildProcessModifier([] { ::setsid(); });
        setStandardOutputFile(QProcess::nullDevice());
        setStandardErrorFile(QProcess::nullDevice());
    }
    ~BrowserProcess() override
    {
        if (processId() > 0)
            ::kill(-pid_t(processId()), SIGKILL);
        waitForFinished(5000);
    }
};

} // namespace

class TestRealBrowsers : public QObject {
    Q_OBJECT

    LocalHttpServer m_http;

    /// True when \a browser runs under \a home and its saved session names both pages with their titles.
    [[nodiscard]] bool holdsBothPages(const QString &home, const QString &browser)
    {
        BrowserSessionFiles files(home);
        const auto tabs = files.session(browser).tabs;
        const auto holds = [&](const QString &title, const QString &path) {
            return std::any_of(tabs.begin(), tabs.end(), [&](const BrowserTab &tab) {
                return tab.title == title && QUrl(tab.urlString) == m_http.url(path);
            });
        };
        return files.runningProcess(browser) && holds("Page One", "/one.html") && holds("Page Two", "/two.html");
    }

private slots:
    void initTestCase()
    {
        m_http.route("/one.html", {200, "text/html", page("Page One")});
        m_http.route("/two.html", {200, "text/html", page("Page Two")});
    }

    void firefoxSessionStoreAndPlayer()
    {
        const auto program = QStandardPaths::findExecutable("firefox-esr");
        if (program.isEmpty() || QStandardPaths::findExecutable("dbus-daemon").isEmpty())
            QSKIP("firefox-esr or dbus-daemon is not installed (scripts/install-deps.sh --test)");
        if (QProcess::execute("pactl", {"info"}) != 0)
            QSKIP("needs the sound server of scripts/with-test-services.sh");
        // A private session bus, used by this process as well.
        BrowserProcess bus;
        bus.setStandardOutputFile({});
        bus.start("dbus-daemon", {"--session", "--nofork", "--print-address=1"});
        QVERIFY(bus.waitForStarted());
        QByteArray address;
        while (!address.contains('\n')) {
            QVERIFY(bus.waitForReadyRead(10000));
            address += bus.readAllStandardOutput();
        }
        qputenv("DBUS_SESSION_BUS_ADDRESS", address.trimmed());

        QTemporaryDir home;
        m_http.route("/tone.wav", {200, "audio/wav", readFile(AudioFixtures::tone(home.filePath("tone.wav"), 30))});
        m_http.route("/play.html",
                     {200, "text/html",
                      "<html><head><title>Playing Tone</title></head><body>"
                      "<audio autoplay loop src=\"tone.wav\"></audio></body></html>"});
        const auto profiles = home.filePath(".mozilla/firefox");
        writeFile(profiles + "/profiles.ini", "[Profile0]\nName=test\nIsRelative=1\nPath=test.default\nDefault=1\n");
        writeFile(profiles + "/test.default/user.js",
                  "user_pref(\"browser.sessionstore.interval\", 1000);\n"
                  "user_pref(\"browser.shell.checkDefaultBrowser\", false);\n"
                  "user_pref(\"datareporting.policy.dataSubmissionEnabled\", false);\n"
                  "user_pref(\"browser.aboutwelcome.enabled\", false);\n"
                  "user_pref(\"media.autoplay.default\", 0);\n"
                  "user_pref(\"media.autoplay.blocking_policy\", 0);\n"
                  "user_pref(\"media.block-autoplay-until-in-foreground\", false);\n");
        BrowserProcess firefox(home.path());
        firefox.start(program,
                      {"--headless", "--no-remote", "--profile", profiles + "/test.default",
                       m_http.url("/one.html").toString(), m_http.url("/two.html").toString(),
                       m_http.url("/play.html").toString()});
        QVERIFY(firefox.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(holdsBothPages(home.path(), "firefox"), 60000);
        // The playing tab is published on the bus with its page and title.
        MprisMediaPlayers players;
        const auto playing = [&] {
            for (const auto &player : players.playingPlayers()) {
                if (player.url == m_http.url("/play.html").toString())
                    return player.desktopEntry.value_or("") + " | " + player.title.value_or("");
            }
            return QString();
        };
        QTRY_COMPARE_WITH_TIMEOUT(playing(), QStringLiteral("firefox-esr | Playing Tone"), 60000);
    }

    void chromiumSessionFile()
    {
        const auto program = QStandardPaths::findExecutable("chromium");
        if (program.isEmpty())
            QSKIP("chromium is not installed (scripts/install-deps.sh --test)");
        QTemporaryDir home;
        const auto userData = home.filePath(".config/chromium");
        BrowserProcess chromium(home.path());
        chromium.start(program,
                       {"--headless=new", "--no-sandbox", "--password-store=basic", "--no-first-run",
                        "--remote-debugging-port=0", "--user-data-dir=" + userData,
                        m_http.url("/one.html").toString()});
        QVERIFY(chromium.waitForStarted());
        // The second tab through the debugging endpoint, whose port the browser writes down.
        QTRY_VERIFY_WITH_TIMEOUT(!readFile(userData + "/DevToolsActivePort").isEmpty(), 30000);
        const auto port = readFile(userData + "/DevToolsActivePort").split('\n').value(0);
        QNetworkAccessManager network;
        QNetworkRequest request(
            QUrl("http://127.0.0.1:" + QString::fromLatin1(port) + "/json/new?" + m_http.url("/two.html").toString()));
        std::unique_ptr<QNetworkReply> reply(network.sendCustomRequest(request, "PUT"));
        QTRY_VERIFY_WITH_TIMEOUT(reply->isFinished(), 30000);
        QCOMPARE(reply->error(), QNetworkReply::NoError);
        QTRY_VERIFY_WITH_TIMEOUT(holdsBothPages(home.path(), "chromium"), 60000);
    }
};

QTEST_GUILESS_MAIN(TestRealBrowsers)
#include "test_real_browsers.moc"
