// URL import against a local HTTP server (real sockets, TLS for the https rows), with lame and a
// scripted yt-dlp in the Encoders folder; then the store's import and source commands.

#include "import/URLAudioImportService.h"
#include "library/MetadataStore.h"
#include "library/UniqueFileNamer.h"
#include "media/AudioFileReader.h"
#include "store/RecordingLibraryStore.h"
#include "support/AudioFixtures.h"
#include "support/FakeDesktop.h"
#include "support/LocalHttpServer.h"
#include "support/TaskRunner.h"
#include "support/TestEnvironment.h"
#include "support/TestFiles.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSslConfiguration>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <qcoro/qcorosignal.h>

#include <csignal>
#include <sys/stat.h>

namespace {
const auto dateStamp = QStringLiteral("Imported \\d{4}-\\d\\d-\\d\\d \\d\\d\\.\\d\\d\\.\\d\\d\\.mp3");

/// A yt-dlp stand-in: records its arguments, then acts as FAKE_MODE says.
QByteArray fakeExtractor();
} // namespace

class TestUrlImport : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_encoders, m_fakeDir;
    LocalHttpServer m_http;
    std::unique_ptr<LocalHttpServer> m_https;
    QByteArray m_wav;

    QString library() const { return m_dir.filePath("Library"); }
    QString work() const { return UniqueFileNamer::workFolder(library()); }
    std::unique_ptr<URLAudioImportService> service(const QString &encoders = QStringLiteral("Encoders"))
    {
        auto importer = std::make_unique<URLAudioImportService>(m_dir.filePath(encoders));
        importer->setSystemFolders({});
        importer->setStallTimeout(std::chrono::milliseconds(400));
        return importer;
    }
    QStringList m_progress, m_workSeen; ///< the last import's progress texts and work folder entries
    /// Imports \a url, returning the new file's name or the error text.
    QString import(URLAudioImportService &importer, const QUrl &url, bool allow)
    {
        m_progress.clear();
        m_workSeen.clear();
        try {
            const auto file =
                finish(importer.importMP3(url, library(), AudioBitRate::kbps128, allow, [this](const QString &text) {
                    m_progress << text;
                    m_workSeen << entriesOf(work());
                }));
            if (QFileInfo(file).absolutePath() != library())
                return "outside: " + file;
            return QFileInfo(file).fileName();
        } catch (const std::exception &error) {
            return errorText(error);
        }
    }

private slots:
    void initTestCase()
    {
        QVERIFY(!QStandardPaths::findExecutable("lame").isEmpty());
        m_encoders = m_dir.filePath("Encoders");
        m_fakeDir = m_dir.filePath("fake");
        QDir().mkpath(m_fakeDir);
        for (const auto *folder : {"Encoders", "bare", "real"}) {
            QDir().mkpath(m_dir.filePath(folder));
            QFile::link(QStandardPaths::findExecutable("lame"), m_dir.filePath(folder) + "/lame");
        }
        QFile::link(QStandardPaths::findExecutable("yt-dlp"), m_dir.filePath("real/yt-dlp"));
        writeScript(m_encoders + "/yt-dlp", fakeExtractor());
        AudioFixtures::tone(m_fakeDir + "/audio.m4a", 1);
        qputenv("FAKE_DIR", m_fakeDir.toUtf8());
        m_wav = readFile(AudioFixtures::tone(m_dir.filePath("tone.wav"), 1));
        for (const auto *ext : {"wav", "aif", "m4a", "mp3", "flac", "ogg"}) {
            const auto file =
                AudioFixtures::tone(m_dir.filePath(QStringLiteral("mono.") + ext), 0.5, 440, 0.5, 44100, 1);
            m_http.route(QStringLiteral("/media/Tone.") + ext, {200, "audio/whatever", readFile(file)});
        }
        for (const auto *path :
             {"/My%20Song.mp3", "/noext", "/..%2F..%2Fescape.wav", "/%00%0A%1Fctl.wav", "/%FF%FE.wav", "/", "/big.wav"})
            m_http.route(path, {200, "application/octet-stream", m_wav});
        m_http.route("/500.wav", {500, "text/plain", "boom"});
        m_http.route("/page.wav", {200, "text/html", "<html></html>"});
        m_http.route("/page2", {200, "application/xhtml+xml; charset=utf-8", "<html/>"});
        m_http.route("/json", {200, "application/json", "{}"});
        m_http.route("/r1", {302, "text/plain", {}, "/r2"});
        // Hostile servers: a redirect loop, redirects away from the web, a decompression bomb.
        m_http.route("/loop", {302, "text/plain", {}, "/loop"});
        m_http.route("/to-file", {302, "text/plain", {}, "file:///etc/passwd"});
        m_http.route("/to-data", {302, "text/plain", {}, "data:audio/wav;base64,UklGRg=="});
        m_http.route("/to-javascript", {302, "text/plain", {}, "javascript:alert(1)"});
        QProcess zeros;
        zeros.start("sh", {"-c", "head -c 67108864 /dev/zero | gzip -9"});
        QVERIFY(zeros.waitForFinished(60000) && zeros.exitCode() == 0);
        m_http.route("/bomb.wav",
                     {200, "audio/wav", zeros.readAllStandardOutput(), "", -1, -1, -1, "Content-Encoding: gzip\r\n"});
        m_http.route("/r2", {301, "text/plain", {}, m_http.url("/media/Tone.wav").toEncoded()});
        m_http.route("/stall.wav", {200, "audio/wav", m_wav, "", -1, 1000});
        m_http.route("/cut.wav", {200, "audio/wav", m_wav, "", -1, -1, 1000});
        m_http.route("/big-undeclared.wav", {200, "audio/wav", m_wav, "", -2});
        m_http.route("/clip.m4a", {200, "audio/mp4", readFile(m_fakeDir + "/audio.m4a")});
        m_http.route(
            "/Evening.html",
            {200, "text/html",
             "<html><head><title>Evening</title></head><body><audio controls src=\"clip.m4a\"></audio></body></html>"});
        const auto certificate = TestCertificate::make();
        if (!certificate.certificate.isEmpty()) {
            auto ssl = QSslConfiguration::defaultConfiguration();
            ssl.addCaCertificate(QSslCertificate(certificate.certificate));
            QSslConfiguration::setDefaultConfiguration(ssl);
            m_https = std::make_unique<LocalHttpServer>(certificate.certificate, certificate.key);
            m_https->route("/down.wav", {302, "text/plain", {}, m_http.url("/media/Tone.wav").toEncoded()});
            m_https->route("/up.wav", {302, "text/plain", {}, m_https->url("/secure.wav").toEncoded()});
            m_https->route("/secure.wav", {200, "audio/wav", m_wav});
        }
    }

    void init()
    {
        QDir(library()).removeRecursively();
        QDir().mkpath(library());
        qputenv("FAKE_MODE", "ok");
    }

    void importsDirectFiles_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("expected"); ///< the new file's name, or the error (patterns)
        for (const auto *ext : {"wav", "aif", "m4a", "mp3", "flac", "ogg"})
            QTest::newRow(ext) << QStringLiteral("/media/Tone.") + ext << "Tone\\.mp3";
        QTest::newRow("percent-encoded, never replacing") << "/My%20Song.mp3"
                                                          << "My Song 2\\.mp3";
        QTest::newRow("no extension") << "/noext"
                                      << "noext\\.mp3";
        QTest::newRow("encoded slashes stay inside") << "/..%2F..%2Fescape.wav"
                                                     << "escape\\.mp3";
        QTest::newRow("control characters") << "/%00%0A%1Fctl.wav"
                                            << "ctl\\.mp3";
        QTest::newRow("undecodable name") << "/%FF%FE.wav" << dateStamp;
        QTest::newRow("empty path") << "/" << dateStamp;
        QTest::newRow("redirect chain, named by the address asked") << "/r1"
                                                                    << "r1\\.mp3";
        QTest::newRow("404") << "/missing.wav"
                             << "The server returned HTTP 404\\.";
        QTest::newRow("500") << "/500.wav"
                             << "The server returned HTTP 500\\.";
        QTest::newRow("html") << "/page.wav"
                              << "127\\.0\\.0\\.1 returned a web page instead of audio/video\\. Use a direct media "
                                 "file URL or record playback\\.";
        QTest::newRow("xhtml with parameters") << "/page2"
                                               << "127\\.0\\.0\\.1 returned a web page .*";
        QTest::newRow("not audio") << "/json"
                                   << "No readable audio track was found\\. Web pages and protected streams are not "
                                      "supported\\.";
        QTest::newRow("stalled") << "/stall.wav"
                                 << "The download stalled: nothing arrived for 0\\.4 seconds\\.";
        QTest::newRow("closed mid-body") << "/cut.wav"
                                         << "^(?!.*\\.mp3$).+";
        QTest::newRow("declared too large") << "/big.wav"
                                            << "The download is larger than the 64 KiB limit\\.";
        QTest::newRow("streamed too large") << "/big-undeclared.wav"
                                            << "The download is larger than the 64 KiB limit\\.";
        QTest::newRow("redirect loop") << "/loop"
                                       << "The server redirected too many times, probably in a loop\\.";
        for (const auto *scheme : {"file", "data", "javascript"})
            QTest::addRow("redirect to %s:", scheme)
                << QStringLiteral("/to-%1").arg(scheme)
                << QStringLiteral("The server redirected to a non-web address \\(“%1:”\\), which is not followed\\.")
                       .arg(scheme);
        QTest::newRow("gzip bomb") << "/bomb.wav"
                                   << "The server sent the download compressed \\(gzip\\), although it was asked "
                                      "not to; compressed downloads are not imported\\.";
        QTest::newRow("https to http refused")
            << "tls:/down.wav"
            << "The server redirected to an unencrypted http address, which is not followed\\.";
        const QString unsupported = "Paste a direct http or https audio/video file URL\\.";
        QTest::newRow("ftp") << "ftp://example.org/a.mp3" << unsupported;
        QTest::newRow("file") << "file:///etc/passwd" << unsupported;
        QTest::newRow("no scheme") << "example.org/a.mp3" << unsupported;
        QTest::newRow("media subdomain without permission")
            << "https://m.youtube.com/watch?v=1"
            << "m\\.youtube\\.com links are web pages, not direct media files\\. Open the page and use Record to "
               "capture playback\\.";
        QTest::newRow("short link") << "HTTP://youtu.be/x"
                                    << "youtu\\.be links are web pages.*";
        QTest::newRow("https to https") << "tls:/up.wav"
                                        << "up\\.mp3";
    }
    void importsDirectFiles()
    {
        QFETCH(QString, path);
        QFETCH(QString, expected);
        auto importer = service();
        if (path.contains("big"))
            importer->setMaximumDownloadSize(64 * 1024);
        QUrl url = path.startsWith('/') ? m_http.url(path) : QUrl(path);
        if (path.startsWith("tls:")) {
            if (!m_https)
                QSKIP("openssl could not make a certificate");
            url = m_https->url(path.mid(4));
        }
        writeFile(library() + "/My Song.mp3", "keep");
        const auto result = import(*importer, url, false);
        QVERIFY2(QRegularExpression("^" + expected + "$").match(result).hasMatch(), qPrintable(result));
        QCOMPARE(entriesOf(work()), QStringList());
        QCOMPARE(readFile(library() + "/My Song.mp3"), QByteArray("keep"));
        if (!result.endsWith(".mp3")) {
            auto left = entriesOf(library()); // nothing but the work folder and the kept file
            left.removeAll(".vespertone");
            QCOMPARE(left, QStringList{"My Song.mp3"});
            return;
        }
        QCOMPARE(m_progress, QStringList({"Downloading URL", "Extracting audio", "Encoding MP3"}));
        // While it is converted, the download waits in the work folder under a fresh name.
        QVERIFY2(QRegularExpression("^[0-9A-F-]{36}\\.\\w+$").match(m_workSeen.value(0)).hasMatch(),
                 qPrintable(m_workSeen.join('|')));
        const auto info = AudioFileReader::measure(library() + u'/' + result);
        QCOMPARE(info.sampleRate, 48000.0);
        QCOMPARE(info.channelCount, 2);
        QVERIFY(std::abs(info.length - (path.contains("Tone") || path == "/r1" ? 24000 : 48000)) < 2400);
    }

    void recognisesMediaHosts()
    {
        for (const auto *host : {"youtube.com", "WWW.YouTube.com", "youtu.be", "a.b.soundcloud.com", "x.bandcamp.com"})
            QVERIFY2(URLAudioImportService::isKnownStreamingPageHost(host), host);
        for (const auto *host : {"notyoutube.com", "www.youtu.be", "soundcloud.com.evil.org", "bandcamp.co", ""})
            QVERIFY2(!URLAudioImportService::isKnownStreamingPageHost(host), host);
    }

    void extractsWebPages_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<QStringList>("progress");
        const QStringList web{"Extracting web audio", "Converting audio", "Encoding MP3"};
        QTest::newRow("media page") << "ok"
                                    << "https://www.youtube.com/watch?v=abc&list=x"
                                    << "watch.mp3" << web;
        QTest::newRow("real extractor on a local page")
            << "real"
            << "@/Evening.html"
            << "Evening.mp3"
            << QStringList{"Downloading URL", "Extracting web audio", "Converting audio", "Encoding MP3"};
        QTest::newRow("html answer falls back")
            << "ok"
            << "@/page.wav"
            << "page.mp3" << QStringList{"Downloading URL", "Extracting web audio", "Converting audio", "Encoding MP3"};
        QTest::newRow("no output") << "nothing"
                                   << "https://soundcloud.com/a/b"
                                   << "The web extractor did not produce an audio file." << QStringList{web.first()};
        QTest::newRow("the later ERROR line") << "errors"
                                              << "https://soundcloud.com/a/b"
                                              << "ERROR: [generic] second" << QStringList{web.first()};
        QTest::newRow("else the last line") << "plain"
                                            << "https://soundcloud.com/a/b"
                                            << "last line" << QStringList{web.first()};
        QTest::newRow("packaged runtime")
            << "python"
            << "https://soundcloud.com/a/b"
            << "The web extractor could not load its Python runtime. Reinstall yt-dlp with “sudo apt install "
               "--reinstall yt-dlp”, then try again."
            << QStringList{web.first()};
        QTest::newRow("cancelled while it runs") << "hang"
                                                 << "https://soundcloud.com/a/b"
                                                 << "The import was cancelled." << QStringList{web.first()};
        QTest::newRow("missing extractor")
            << "missing"
            << "https://soundcloud.com/a/b"
            << "Web page extraction requires yt-dlp. Install it with “sudo apt install yt-dlp”, then try again."
            << QStringList{web.first()};
    }
    void extractsWebPages()
    {
        QFETCH(QString, mode);
        QFETCH(QString, url);
        QFETCH(QString, expected);
        QFETCH(QStringList, progress);
        qputenv("FAKE_MODE", mode.toUtf8());
        QFile::remove(m_fakeDir + "/arguments");
        if (mode == "real" && QStandardPaths::findExecutable("yt-dlp").isEmpty())
            QSKIP("yt-dlp is not installed");
        auto importer = service(mode == "missing" ? "bare" : mode == "real" ? "real" : "Encoders");
        const QUrl address = url.startsWith('@') ? m_http.url(url.mid(1)) : QUrl(url);
        QTimer poll; // cancels once the extractor has its work file
        connect(&poll, &QTimer::timeout, importer.get(), [&] {
            if (!entriesOf(work()).isEmpty())
                importer->cancel();
        });
        if (mode == "hang")
            poll.start(20);
        QCOMPARE(import(*importer, address, true), expected);
        QCOMPARE(m_progress, progress);
        QCOMPARE(entriesOf(work()), QStringList());
        if (expected.endsWith(".mp3"))
            QVERIFY(std::abs(AudioFileReader::measure(library() + u'/' + expected).length - 48000) < 2400);
        if (mode != "ok")
            return;
        const auto arguments = QString::fromUtf8(readFile(m_fakeDir + "/arguments")).split('\n');
        QCOMPARE(arguments.mid(0, 5),
                 QStringList({"--ignore-config", "--no-playlist", "--format",
                              "bestaudio[ext=m4a]/bestaudio[acodec^=mp4a]", "-o"}));
        QVERIFY(QRegularExpression("^" + QRegularExpression::escape(work()) + "/[0-9A-F-]{36}\\.%\\(ext\\)s$")
                    .match(arguments.value(5))
                    .hasMatch());
        QCOMPARE(arguments.mid(6, 2), QStringList({"--", address.toString(QUrl::FullyEncoded)}));
        QCOMPARE(readFile(m_fakeDir + "/path"), QByteArray("/usr/local/bin:/usr/bin:/bin:/usr/sbin:/sbin"));
    }

    /// The service goes (the program ends) while its helper runs: the import ends as cancelled,
    /// its work files go, and nothing touches the service that is gone.
    void importOutlivesItsService_data()
    {
        QTest::addColumn<bool>("web"); ///< gated in yt-dlp, else in lame
        QTest::newRow("during the extractor") << true;
        QTest::newRow("during the encode") << false;
    }
    void importOutlivesItsService()
    {
        QFETCH(bool, web);
        const auto gate = m_fakeDir + "/gate";
        QFile::remove(gate);
        QVERIFY(::mkfifo(QFile::encodeName(gate).constData(), 0600) == 0);
        const auto gated = m_dir.filePath("gated");
        QDir().mkpath(gated);
        QFile::remove(gated + "/lame");
        QFile::remove(gated + "/yt-dlp");
        QFile::link(m_encoders + "/yt-dlp", gated + "/yt-dlp");
        writeScript(gated + "/lame",
                    "#!/bin/sh\nread line < '" + QFile::encodeName(gate) + "'\nexec '"
                        + QFile::encodeName(QStandardPaths::findExecutable("lame")) + "' \"$@\"\n");
        qputenv("FAKE_MODE", web ? "gated" : "ok");
        auto importer = service("gated");
        QStringList progress;
        const auto address = web ? QUrl("https://soundcloud.com/a/b") : m_http.url("/media/Tone.wav");
        auto task = importer->importMP3(address, library(), AudioBitRate::kbps128, true,
                                        [&](const QString &text) { progress << text; });
        if (web)
            QTRY_VERIFY(!entriesOf(work()).isEmpty());
        else
            QTRY_VERIFY(progress.contains("Encoding MP3"));
        importer.reset();
        writeFile(gate, "go\n");
        QCOMPARE(failureOf(std::move(task)), QStringLiteral("The import was cancelled."));
        QCOMPARE(entriesOf(work()), QStringList());
        QCOMPARE(QDir(library()).entryList(QDir::Files), QStringList());
    }

    /// A yt-dlp.conf planted in the library's work folder, where the extractor once ran, would
    /// run its command with the real extractor.
    void plantedExtractorConfigurationIsNotRead()
    {
        if (QStandardPaths::findExecutable("yt-dlp").isEmpty())
            QSKIP("yt-dlp is not installed");
        const auto planted = m_dir.filePath("planted");
        QFile::remove(planted);
        writeFile(work() + "/yt-dlp.conf", "--exec \"before_dl:touch " + planted.toUtf8() + "\"\n");
        auto importer = service("real");
        QCOMPARE(import(*importer, m_http.url("/Evening.html"), true), QStringLiteral("Evening.mp3"));
        QVERIFY2(!QFileInfo::exists(planted), "the planted configuration ran its command");
        QCOMPARE(entriesOf(work()), QStringList{"yt-dlp.conf"});
    }

    void toolImportsAndOpens_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("io"); ///< standard output, "--", standard error
        QTest::newRow("import") << QStringList{"import", "@/My%20Song.mp3", "--bitrate", "320"} << 0
                                << "^@lib/My Song(_bpm_\\d+)?\\.mp3\n--\nImporting URL\nDownloading URL\nExtracting "
                                   "audio\nEncoding MP3\nImported My Song\\.mp3\nAnalyzing imported audio\n";
        QTest::newRow("import: media page without --confirm-rights")
            << QStringList{"import", "https://youtu.be/x"} << 1 << "^--\nImporting URL\nyoutu\\.be links are web pages";
        QTest::newRow("import: Ctrl-C") << QStringList{"import", "@/stall.wav", "SIGINT"} << 130
                                        << "^--\n.*The import was cancelled\\.\n$";
        QTest::newRow("import: SIGTERM") << QStringList{"import", "@/stall.wav", "SIGTERM"} << 143
                                         << "^--\n.*The import was cancelled\\.\n$";
        QTest::newRow("source") << QStringList{"source", "Old.mp3"} << 0
                                << "^\\{\\s*\"appName\": \"URL Import\",\\s*\"capturedAt\": \"2020-01-02T03:04:05Z\","
                                   "\\s*\"urlString\": \"https://example\\.org/a\"\\s*\\}\n--\n$";
        QTest::newRow("source --open") << QStringList{"source", "Old.mp3", "--open"} << 0 << "^--\nOpened source\n$";
        QTest::newRow("source: none stored") << QStringList{"source", "Plain.mp3", "--open"} << 1
                                             << "^--\nNo source was captured for this recording\\.\n$";
    }
    void toolImportsAndOpens()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QString, io);
        const auto bin = m_dir.filePath("bin");
        writeScript(bin + "/xdg-open", "#!/bin/sh\nprintf '%s' \"$1\" > \"$(dirname \"$0\")/opened\"\n");
        QFile::remove(bin + "/opened");
        writeFile(library() + "/Old.mp3", m_wav);
        writeFile(library() + "/Plain.mp3", m_wav);
        writeFile(MetadataStore::metadataURL(library() + "/Old.mp3"),
                  "{\"createdAt\": \"2020-01-02T03:04:05Z\", \"source\": {\"appName\": \"URL Import\", "
                  "\"urlString\": \"https://example.org/a\", \"capturedAt\": \"2020-01-02T03:04:05Z\"}}");
        const int signal = arguments.removeAll("SIGINT") ? SIGINT : arguments.removeAll("SIGTERM") ? SIGTERM : 0;
        for (auto &argument : arguments)
            argument.replace(QRegularExpression("^@"), m_http.url("/").toString().chopped(1));
        QProcess tool;
        auto environment = QProcessEnvironment::systemEnvironment();
        environment.insert("PATH", bin + ":" + environment.value("PATH"));
        tool.setProcessEnvironment(environment);
        tool.setWorkingDirectory(library());
        tool.start(qEnvironmentVariable("VESPERTONE_TOOL"), arguments + QStringList{"--folder", library()});
        QVERIFY(tool.waitForStarted());
        if (signal) {
            QTRY_VERIFY_WITH_TIMEOUT(!entriesOf(work()).filter(".wav").isEmpty(), 20000); // the download
            ::kill(pid_t(tool.processId()), signal);
        }
        QSignalSpy finished(&tool, &QProcess::finished);
        QVERIFY(finished.wait(60000));
        const auto output = tool.readAllStandardOutput() + "--\n" + tool.readAllStandardError();
        QVERIFY2(tool.exitCode() == exitCode, output.constData());
        QVERIFY2(QRegularExpression(io.replace("@lib", QRegularExpression::escape(library())),
                                    QRegularExpression::DotMatchesEverythingOption)
                     .match(QString::fromUtf8(output))
                     .hasMatch(),
                 output.constData());
        QCOMPARE(entriesOf(work()), QStringList());
        if (arguments.contains("--open") && exitCode == 0) // xdg-open runs detached
            QTRY_COMPARE(readFile(bin + "/opened"), QByteArray("https://example.org/a"));
    }

    void storeImportsAndOpensSources()
    {
        TestEnvironment environment;
        FakeUrlOpener opener;
        FakeBrowserSessions browsers;
        auto settings = environment.storeEnvironment();
        settings.urlOpener = &opener;
        settings.browserSessions = &browsers;
        settings.encodersFolder = m_encoders;
        const auto started = startStore(settings);
        auto &store = *started;
        QStringList statuses;
        connect(&store, &RecordingLibraryStore::statusMessageChanged, this, [&] {
            if (store.statusMessage())
                statuses << *store.statusMessage();
        });

        // Typed with spaces and line breaks; a second request meanwhile is ignored.
        const auto typed = m_http.url("/My%20Song.mp3").toString(QUrl::FullyEncoded);
        auto first = store.importURL("  \n" + typed + " \n", false);
        auto second = store.importURL(m_http.url("/noext").toString(QUrl::FullyEncoded), false);
        const auto ignored = finish(std::move(second));
        QVERIFY2(!ignored, qPrintable(ignored.value_or("") + " / " + statuses.join(" | ")));
        const auto file = finish(std::move(first));
        QVERIFY(file && QFileInfo(*file).fileName().startsWith("My Song"));
        QCOMPARE(statuses.mid(0, 6),
                 QStringList({"Importing URL", "Downloading URL", "Extracting audio", "Encoding MP3",
                              "Imported My Song.mp3", "Analyzing imported audio"}));
        QCOMPARE(store.selectedIDs(), QSet<QString>{*file});
        QVERIFY(!store.isImportingURL());
        const auto source = *MetadataStore::load(*file)->source;
        QCOMPARE(QList({source.appName, source.bundleIdentifier, source.windowTitle, source.urlString}),
                 QList<std::optional<QString>>({"URL Import", std::nullopt, "127.0.0.1", typed}));

        // Opening sources.
        RecordingItem item{*file, *MetadataStore::load(*file)};
        const auto openStatus = [&](std::optional<RecordingSourceContext> stored) {
            item.metadata.source = std::move(stored);
            statuses.clear();
            finish(store.openSource(item));
            return statuses.join(" | ");
        };
        QCOMPARE(openStatus(source), QStringLiteral("Opened source"));
        QCOMPARE(opener.opened, QList<QUrl>{QUrl(*source.urlString)});
        auto local = source;
        local.urlString = "file:///usr/bin/lame";
        QCOMPARE(openStatus(local), QStringLiteral("Could not open source URL."));
        opener.succeeds = false;
        QCOMPARE(openStatus(source), QStringLiteral("Could not open source URL."));
        QCOMPARE(openStatus(std::nullopt), QStringLiteral("No source was captured for this recording."));
        RecordingSourceContext player{"Music", "org.gnome.Music", "Song", std::nullopt, {}};
        QCOMPARE(openStatus(player), QStringLiteral("No URL was captured for this source."));
        RecordingSourceContext firefox{"Firefox", "firefox-esr", "Evening Raga — Mozilla Firefox", std::nullopt, {}};
        QCOMPARE(openStatus(firefox),
                 QStringLiteral("Finding source URL | Source URL was not available. The browser saves its session "
                                "every few seconds; try again in a moment."));
        browsers.sessions["firefox"] = {
            {{"Morning", "https://example.org/m"}, {"Evening Raga", "https://example.org/e"}},
            BrowserTab{"Morning", "https://example.org/m"}};
        opener.succeeds = true;
        opener.opened.clear();
        QCOMPARE(openStatus(firefox), QStringLiteral("Finding source URL | Opened source"));
        QCOMPARE(opener.opened, QList<QUrl>{QUrl("https://example.org/e")});
        QCOMPARE(MetadataStore::load(*file)->source->urlString, std::optional<QString>("https://example.org/e"));
    }
};

namespace {
/// A yt-dlp stand-in: records its arguments, then acts as FAKE_MODE says.
QByteArray fakeExtractor()
{
    return R"sh(#!/bin/sh
printf '%s\n' "$@" > "$FAKE_DIR/arguments"
printf '%s' "$PATH" > "$FAKE_DIR/path"
template=""
while [ $# -gt 0 ]; do [ "$1" = "-o" ] && template="$2"; shift; done
output() { echo "$template" | sed "s/%(ext)s/$1/"; }
case "$FAKE_MODE" in
  ok) cp "$FAKE_DIR/audio.m4a" "$(output m4a)"; touch "$(output m4a.part)" ;;
  nothing) exit 0 ;;
  errors) printf 'WARNING: slow\nERROR: first\n  ERROR: [generic] second  \ntrailing note\n\n' >&2; exit 1 ;;
  plain) printf 'first line\nlast line\n\n' >&2; exit 1 ;;
  python) printf '[PYI-1234:ERROR] Failed to load Python shared library\n' >&2; exit 1 ;;
  hang) touch "$(output m4a.part)"; exec sleep 30 ;;
  gated) touch "$(output m4a.part)"; read line < "$FAKE_DIR/gate"; cp "$FAKE_DIR/audio.m4a" "$(output m4a)" ;;
esac
)sh";
}
} // namespace

QTEST_GUILESS_MAIN(TestUrlImport)
#include "test_url_import.moc"
