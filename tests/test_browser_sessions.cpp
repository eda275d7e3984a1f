// Browser session state as the browsers leave it: mozLz4 session stores and SNSS session files
// generated here from their formats, whole, cut off, corrupted and fuzzed, and found in a home.

#include "platform/BrowserSessionFiles.h"
#include "platform/ChromiumSessionReader.h"
#include "platform/FirefoxSessionReader.h"
#include "support/TestFiles.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <lz4.h>

namespace {
QByteArray mozLz4(const QByteArray &json)
{
    QByteArray out("mozLz40\0", 8);
    char size[4];
    qToLittleEndian<quint32>(quint32(json.size()), size);
    out.append(size, 4);
    QByteArray block(LZ4_compressBound(int(json.size())), '\0');
    const int written = LZ4_compress_default(json.constData(), block.data(), int(json.size()), int(block.size()));
    return out + block.left(written);
}

/// Two windows; the second is in front with its first tab selected.
QByteArray firefoxJson()
{
    return R"({"selectedWindow": 2, "windows": [
        {"selected": 2, "tabs": [
            {"index": 2, "entries": [{"url": "https://a.org/1", "title": "A one"},
                                     {"url": "https://a.org/2", "title": "  A two  "}]},
            {"index": 1, "entries": [{"url": "https://b.org/", "title": ""}]},
            {"index": 5, "entries": [{"url": "https://gone.org/", "title": "Gone"}]}]},
        {"selected": 1, "tabs": [{"index": 1, "entries": [{"url": "https://c.org/", "title": "C"}]}]}]})";
}

QByteArray ints(std::initializer_list<qint32> values)
{
    QByteArray out;
    for (const auto value : values) {
        char bytes[4];
        qToLittleEndian(value, bytes);
        out.append(bytes, 4);
    }
    return out;
}

QByteArray padded(QByteArray bytes)
{
    while (bytes.size() % 4)
        bytes.append('\0');
    return bytes;
}

QByteArray record(quint8 command, const QByteArray &payload)
{
    char size[2];
    qToLittleEndian<quint16>(quint16(payload.size() + 1), size);
    return QByteArray(size, 2) + char(command) + payload;
}

QByteArray navigation(qint32 tab, qint32 index, const QByteArray &url, const QString &title)
{
    const QByteArray title16(reinterpret_cast<const char *>(title.utf16()), title.size() * 2);
    const auto pickle = ints({tab, index, qint32(url.size())}) + padded(url) + ints({qint32(title.size())})
        + padded(title16) + ints({0, 0});
    return record(ChromiumSessionReader::updateTabNavigation, ints({qint32(pickle.size())}) + pickle);
}

/// Window 1 holds tabs 11 (index 0) and 10 (index 1); window 2 holds tab 12 and is active.
QByteArray chromiumSession()
{
    using namespace ChromiumSessionReader;
    QByteArray out = QByteArray("SNSS") + ints({3});
    out += record(setTabWindow, ints({1, 10})) + record(setTabWindow, ints({1, 11}))
        + record(setTabWindow, ints({2, 12})) + record(setTabWindow, ints({1, 13}));
    out += record(setTabIndexInWindow, ints({10, 1})) + record(setTabIndexInWindow, ints({11, 0}))
        + record(setTabIndexInWindow, ints({13, 2}));
    out += navigation(10, 0, "https://a.org/0", "A0") + navigation(10, 1, "https://a.org/1", "A1")
        + record(setSelectedNavigationIndex, ints({10, 1}));
    out += navigation(11, 0, "https://b.org/", "") + navigation(13, 0, "https://closed.org/", "Closed")
        + record(tabClosed, ints({13}) + QByteArray(8, '\0'));
    out += navigation(12, 0, "https://c.org/0", "C0") + navigation(12, 1, "https://c.org/1", "C1")
        + navigation(12, 2, "https://c.org/2", "C2") + navigation(12, 3, "https://c.org/3", "C3")
        + record(tabNavigationPathPruned, ints({12, 1, 2})) + record(setSelectedNavigationIndex, ints({12, 1}));
    out += record(setSelectedTabInIndex, ints({2, 0})) + record(setActiveWindow, ints({2}));
    out += record(99, "unknown command");
    return out;
}

QStringList describe(const BrowserSession &session)
{
    QStringList rows;
    for (const auto &tab : session.tabs)
        rows << tab.title.value_or("-") + u' ' + tab.urlString;
    if (session.frontTab)
        rows << "front: " + session.frontTab->urlString;
    return rows;
}

QByteArray flipped(QByteArray bytes, QRandomGenerator &random)
{
    for (int i = 0, n = 1 + random.bounded(4); i < n && !bytes.isEmpty(); ++i)
        bytes[random.bounded(int(bytes.size()))] = char(random.bounded(256));
    return bytes;
}
} // namespace

class TestBrowserSessions : public QObject {
    Q_OBJECT

private slots:
    void readsFirefoxAndChromiumSessions()
    {
        const auto session = FirefoxSessionReader::parse(FirefoxSessionReader::decompress(mozLz4(firefoxJson())));
        QCOMPARE(
            describe(session),
            QStringList({"A two https://a.org/2", "- https://b.org/", "C https://c.org/", "front: https://c.org/"}));
        // Tab 12 kept navigations 0 and 3 (now 1) after the pruning; the closed tab is gone.
        QCOMPARE(
            describe(ChromiumSessionReader::parse(chromiumSession())),
            QStringList({"- https://b.org/", "A1 https://a.org/1", "C3 https://c.org/3", "front: https://c.org/3"}));
    }

    void damagedFilesGiveWhatCameBeforeAndNeverCrash()
    {
        const auto full = chromiumSession();
        const int fullCount = int(ChromiumSessionReader::parse(full).tabs.size());
        for (qsizetype cut = 0; cut < full.size(); ++cut)
            QVERIFY(int(ChromiumSessionReader::parse(full.left(cut)).tabs.size()) <= fullCount + 1);
        // A cut-off last record is what a running browser leaves: everything before it counts.
        const auto appended = full + navigation(14, 0, "https://late.org/", "Late");
        QCOMPARE(describe(ChromiumSessionReader::parse(appended.chopped(5))),
                 describe(ChromiumSessionReader::parse(full)));

        const auto stored = mozLz4(firefoxJson());
        auto lyingSize = stored;
        lyingSize[8] = char(lyingSize.at(8) + 1);
        for (const auto &bad : {stored.chopped(1), stored.left(12), QByteArray("mozLz40"), "mozLz41" + stored.mid(7),
                                lyingSize, QByteArray("mozLz40\0\xff\xff\xff\xff", 12) + stored.mid(12)})
            QVERIFY(FirefoxSessionReader::decompress(bad).isEmpty());
        QVERIFY(FirefoxSessionReader::parse("{\"windows\": [1, {\"tabs\": 7}, {\"tabs\": [{\"index\": -3}]}]}")
                    .tabs.empty());
        // Random bytes flipped never crash either reader.
        QRandomGenerator random(20261207);
        std::size_t seen = 0;
        for (int round = 0; round < 3000; ++round) {
            seen += ChromiumSessionReader::parse(flipped(full, random)).tabs.size();
            seen += FirefoxSessionReader::parse(FirefoxSessionReader::decompress(flipped(stored, random))).tabs.size();
        }
        QVERIFY(seen > 0);
    }

    void hostileChromiumSessionsReadRight_data()
    {
        using namespace ChromiumSessionReader;
        QTest::addColumn<QByteArray>("snss");
        QTest::addColumn<QStringList>("expected");
        const auto header = QByteArray("SNSS") + ints({3});
        const auto pages = [](qint32 tab, int count) {
            QByteArray out;
            for (qint32 index = 0; index < count; ++index)
                out += navigation(tab, index, "https://n.org/" + QByteArray::number(index), "");
            return out;
        };
        const auto repeated = [](const QByteArray &record, int times) { return record.repeated(times); };

        QTest::newRow("prunes that remove nothing, then one that shifts") << header + record(setTabWindow, ints({1, 1}))
                + pages(1, 200) + repeated(record(tabNavigationPathPruned, ints({1, 1000000000, 5})), 2000)
                + record(tabNavigationPathPruned, ints({1, 0, 100}))
                + record(setSelectedNavigationIndex, ints({1, 50})) << QStringList{"- https://n.org/150"};
        QTest::newRow("many navigations show the highest index")
            << header + record(setTabWindow, ints({1, 1})) + pages(1, 1000) << QStringList{"- https://n.org/999"};
        QTest::newRow("closings of a window that holds none of the tabs")
            << header + record(setTabWindow, ints({1, 1})) + pages(1, 1) + record(setTabWindow, ints({2, 2}))
                + pages(2, 2) + repeated(record(windowClosed, ints({3})), 2000) + record(windowClosed, ints({1}))
            << QStringList{"- https://n.org/1"};
        QTest::newRow("a tab moved away outlives its old window") << header + record(setTabWindow, ints({1, 7}))
                + record(setTabWindow, ints({2, 7})) + pages(7, 1) + record(setTabWindow, ints({1, 8})) + pages(8, 2)
                + record(windowClosed, ints({1})) + record(setTabWindow, ints({1, 9}))
                + pages(9, 3) << QStringList{"- https://n.org/0", "- https://n.org/2"};
        QTest::newRow("a closed tab leaves its window") << header + record(setTabWindow, ints({1, 4})) + pages(4, 1)
                + record(tabClosed, ints({4})) + record(setTabWindow, ints({2, 4})) + pages(4, 2)
                + record(windowClosed, ints({1})) << QStringList{"- https://n.org/1"};
    }
    void hostileChromiumSessionsReadRight()
    {
        QFETCH(QByteArray, snss);
        QFETCH(QStringList, expected);
        QCOMPARE(describe(ChromiumSessionReader::parse(snss)), expected);
    }

    void findsProfilesAndLiveLocksInAHome()
    {
        QTemporaryDir home;
        QProcess holder; // a live process standing in for the browser
        holder.start("sleep", {"30"});
        QVERIFY(holder.waitForStarted());
        const auto pid = QByteArray::number(holder.processId());

        // Firefox from Flatpak: the installation's default profile, the newer of its two stores.
        const auto firefox = home.filePath(".var/app/org.mozilla.firefox/.mozilla/firefox");
        writeFile(firefox + "/profiles.ini",
                  "[Profile0]\nName=old\nIsRelative=1\nPath=old.default\nDefault=1\n\n"
                  "[Install4F96D1932A9F858E]\nDefault=abc.default-release\nLocked=1\n");
        QDir().mkpath(firefox + "/old.default");
        writeFile(firefox + "/abc.default-release/sessionstore.jsonlz4", mozLz4("{\"windows\": []}"));
        writeFile(firefox + "/abc.default-release/sessionstore-backups/recovery.jsonlz4", mozLz4(firefoxJson()));
        QFile::link("127.0.1.1:+" + pid, firefox + "/abc.default-release/lock");
        // Chromium: the profile last used, its newest session file, and a lock on this host.
        const auto chromium = home.filePath(".config/chromium");
        writeFile(chromium + "/Local State", "{\"profile\": {\"last_used\": \"Profile 1\"}}");
        writeFile(chromium + "/Profile 1/Sessions/Session_2", "SNSS");
        writeFile(chromium + "/Profile 1/Sessions/Session_1", chromiumSession());
        for (const auto &older :
             {chromium + "/Profile 1/Sessions/Session_2", firefox + "/abc.default-release/sessionstore.jsonlz4"}) {
            QFile file(older); // a minute older than the files written now
            QVERIFY(file.open(QIODevice::ReadWrite));
            QVERIFY(file.setFileTime(QDateTime::currentDateTime().addSecs(-60), QFileDevice::FileModificationTime));
        }
        QFile::link(QSysInfo::machineHostName() + "-" + pid, chromium + "/SingletonLock");
        QDir().mkpath(home.filePath(".config/google-chrome"));
        QFile::link("elsewhere-" + pid, home.filePath(".config/google-chrome/SingletonLock"));

        BrowserSessionFiles files(home.path());
        QCOMPARE(files.firefoxProfiles().value(0), firefox + "/abc.default-release");
        QCOMPARE(describe(files.session("firefox")).last(), QStringLiteral("front: https://c.org/"));
        QCOMPARE(describe(files.session("chromium")).last(), QStringLiteral("front: https://c.org/3"));
        QCOMPARE(files.runningProcess("firefox"), std::optional<qint64>(holder.processId()));
        QCOMPARE(files.runningProcess("chromium"), std::optional<qint64>(holder.processId()));
        QCOMPARE(files.runningProcess("google-chrome"), std::nullopt); // another machine's lock
        QCOMPARE(files.runningProcess("brave-browser"), std::nullopt);
        // The terminal tool's view of the same home: the running browser's media tab.
        writeFile(chromium + "/Profile 1/Sessions/Session_1",
                  chromiumSession() + record(ChromiumSessionReader::setTabWindow, ints({2, 15}))
                      + navigation(15, 0, "https://soundcloud.com/a/mix", "Mix"));
        QProcess tool;
        auto environment = QProcessEnvironment::systemEnvironment();
        environment.insert("HOME", home.path());
        environment.remove("DISPLAY");
        tool.setProcessEnvironment(environment);
        tool.start(qEnvironmentVariable("VESPERTONE_TOOL"), {"source", "--now"});
        QVERIFY(tool.waitForFinished(30000));
        QCOMPARE(QJsonDocument::fromJson(tool.readAllStandardOutput()).object().value("urlString").toString(),
                 QStringLiteral("https://soundcloud.com/a/mix"));

        holder.kill();
        holder.waitForFinished();
        QCOMPARE(files.runningProcess("firefox"), std::nullopt);
        QCOMPARE(files.runningProcess("chromium"), std::nullopt);
    }
};

QTEST_GUILESS_MAIN(TestBrowserSessions)
#include "test_browser_sessions.moc"
