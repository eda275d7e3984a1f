// vespertone-tool from the outside: each row runs one command in a fresh home whose stored library
// folder holds the same recordings, then checks the exit status, both outputs and the files left.

#include "library/MetadataStore.h"
#include "support/AudioFixtures.h"
#include "support/TestFiles.h"
#include "support/ToolRunner.h"

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <unistd.h>

namespace {
/// Leading NAME=VALUE arguments set the environment; then the command and its arguments, the exit
/// status, patterns for stdout and stderr, and the files afterwards: "NAME" exists, "!NAME" does
/// not, "NAME ~ PATTERN" has matching text, "NAME ≈ BYTES" about that size. NAME is in the
/// library, or in the home after "~/"; "@lib" and "@home" stand for those folders everywhere.
/// The tool runs in the library folder unless PWD=FOLDER says otherwise.
void row(const QString &name, const QStringList &arguments, int exitCode, const QString &out, const QString &err,
         const QStringList &after = {})
{
    QTest::newRow(qPrintable(name)) << arguments << exitCode << out << err << after;
}

// Defined after the test class, whose slots the meta-object compiler finds only before raw strings.
void prepareFixtures(const QString &root);
void addRows();

/// True once process \a pid catches SIGTERM and SIGINT, that is, once a command set up its stop.
bool catchesStopSignals(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return false;
    for (const auto &line : status.readAll().split('\n')) {
        if (line.startsWith("SigCgt:")) {
            const auto mask = line.mid(7).trimmed().toULongLong(nullptr, 16);
            const auto bit = [](int signal) { return 1ULL << (signal - 1); };
            return (mask & bit(SIGTERM)) && (mask & bit(SIGINT));
        }
    }
    return false;
}
} // namespace

class ToolTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_fixtures; ///< Library/ and home/ as every row starts
    QTemporaryDir m_long;     ///< Long.wav, five minutes of a tone, linked into the rows that need it

private slots:
    void initTestCase()
    {
        QVERIFY2(!qEnvironmentVariableIsEmpty("VESPERTONE_TOOL"), "run through ctest");
        prepareFixtures(m_fixtures.path());
        QCOMPARE(QProcess::execute("ffmpeg",
                                   {"-v", "error", "-f", "lavfi", "-i", "sine=f=440:d=300", "-ac", "2", "-ar", "48000",
                                    "-c:a", "pcm_s16le", m_long.filePath("Long.wav")}),
                 0);
    }

    /// A long command stopped by a signal ends with 128 plus its number, after removing its work
    /// files; one killed outright leaves them to the next start's sweep, which never takes those
    /// of a command still running in another process.
    void stopsCleanly_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("signal");
        QTest::addColumn<QString>("working"); ///< the work file whose appearance says the work runs
        QTest::addColumn<int>("exitCode");    ///< -1: killed
        QTest::addColumn<QString>("err");
        QTest::addColumn<QStringList>("after");
        const QStringList untrimmed{"Long.wav", "!Long Trim*.m4a"};
        QTest::newRow("trim: SIGTERM") << QStringList{"trim", "Long.wav", "0", "290"} << SIGTERM << "\\.m4a$" << 143
                                       << "^The trim was cancelled\\.\n$" << untrimmed;
        QTest::newRow("trim: SIGINT") << QStringList{"trim", "Long.wav", "0", "290"} << SIGINT << "\\.m4a$" << 130
                                      << "^The trim was cancelled\\.\n$" << untrimmed;
        QTest::newRow("trim: SIGKILL, then a scan")
            << QStringList{"trim", "Long.wav", "0", "290"} << SIGKILL << "\\.m4a$" << -1 << "^$" << untrimmed;
        QTest::newRow("encode-mp3: SIGTERM")
            << QStringList{"encode-mp3", "Long.wav", "Out.mp3"} << SIGTERM << "\\.mp3$" << 143
            << "^The MP3 encoding was cancelled\\.\n$" << QStringList{"!Out.mp3"};
        QTest::newRow("encode-mp3: SIGKILL, then a scan") << QStringList{"encode-mp3", "Long.wav", "Out.mp3"} << SIGKILL
                                                          << "\\.mp3$" << -1 << "^$" << QStringList{"!Out.mp3"};
        // The precise analysis: the standard one of a WAV ends before its signal could be sent.
        QTest::newRow("analyze: SIGTERM") << QStringList{"analyze", "Long.wav", "--precise"} << SIGTERM << QString()
                                          << 143 << "^(The analysis was cancelled\\.\n)?$"
                                          << QStringList{"Long.wav", "!.vespertone/metadata/Long.wav.vtmeta.json"};
        // No signal: another process's start-up runs meanwhile and leaves the trim its work file.
        QTest::newRow("trim: a scan meanwhile") << QStringList{"trim", "Long.wav", "0", "60"} << 0 << "\\.m4a$" << 0
                                                << "^Trim saved\\.\n$" << QStringList{"Long.wav", "Long Trim*.m4a"};
    }
    void stopsCleanly()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, signal);
        QFETCH(QString, working);
        QFETCH(int, exitCode);
        QFETCH(QString, err);
        QFETCH(QStringList, after);
        QTemporaryDir root;
        const auto library = root.filePath("Library"), work = library + "/.vespertone/tmp";
        QVERIFY(QDir().mkpath(work));
        QVERIFY(::link(QFile::encodeName(m_long.filePath("Long.wav")).constData(),
                       QFile::encodeName(library + "/Long.wav").constData())
                == 0);
        auto environment = QProcessEnvironment::systemEnvironment();
        environment.insert("HOME", root.filePath("home"));
        environment.insert("XDG_CONFIG_HOME", root.filePath("home/.config"));
        QProcess tool;
        tool.setProcessEnvironment(environment);
        tool.setWorkingDirectory(library);
        tool.start(qEnvironmentVariable("VESPERTONE_TOOL"), arguments + QStringList{"--folder", library});
        QVERIFY(tool.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(catchesStopSignals(tool.processId()), 20000);
        const auto hasWorkFile = [&] { return !entriesOf(work).filter(QRegularExpression(working)).isEmpty(); };
        if (!working.isEmpty())
            QTRY_VERIFY_WITH_TIMEOUT(hasWorkFile(), 20000);
        if (signal) {
            ::kill(pid_t(tool.processId()), signal);
        } else {
            const auto scan = runTool({"scan", "--folder", library}, 60000, environment);
            QCOMPARE(scan.exitCode, 0);
            QVERIFY2(hasWorkFile(), qPrintable(entriesOf(work).join(", ")));
        }
        QVERIFY(tool.waitForFinished(120000));
        const auto stderrText = QString::fromUtf8(tool.readAllStandardError());
        QCOMPARE(tool.exitStatus() == QProcess::NormalExit ? tool.exitCode() : -1, exitCode);
        QVERIFY2(QRegularExpression(err).match(stderrText).hasMatch(), qPrintable(stderrText));
        if (exitCode == -1) {
            QVERIFY(hasWorkFile()); // the kill gave it no time; the next start sweeps it
            const auto scan = runTool({"scan", "--folder", library}, 60000, environment);
            QCOMPARE(scan.exitCode, 0);
            QVERIFY2(!scan.out.contains("Trim") && !scan.out.contains("Out.mp3"), scan.out.constData());
        }
        QCOMPARE(entriesOf(work), QStringList());
        for (const auto &entry : after) { // "NAME" exists, "!NAME" does not; NAME may hold wildcards
            const auto pattern = QString(entry).remove(QRegularExpression("^!"));
            const auto found = QDir(library).entryList({pattern}, QDir::Files | QDir::Hidden);
            QVERIFY2(found.isEmpty() == entry.startsWith(u'!'),
                     qPrintable(entry + ": " + entriesOf(library).join(", ")));
        }
    }

    void runsCommands_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("out");
        QTest::addColumn<QString>("err");
        QTest::addColumn<QStringList>("after");
        addRows();
    }

    void runsCommands()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QString, out);
        QFETCH(QString, err);
        QFETCH(QStringList, after);
        QTemporaryDir root;
        QCOMPARE(QProcess::execute("cp", {"-a", m_fixtures.path() + "/.", root.path()}), 0);
        const auto library = root.filePath("Library"), home = root.filePath("home");
        QSettings(home + "/.config/Vespertone/Vespertone.conf", QSettings::NativeFormat)
            .setValue("Vespertone.SaveFolderPath", library);
        const auto expand = [&](QString text, bool pattern = false) {
            return text.replace("@lib", pattern ? QRegularExpression::escape(library) : library)
                .replace("@home", pattern ? QRegularExpression::escape(home) : home);
        };
        const auto matches = [&](const QString &pattern, const QByteArray &text) {
            return QRegularExpression(expand(pattern, true), QRegularExpression::DotMatchesEverythingOption)
                .match(QString::fromUtf8(text))
                .hasMatch();
        };
        auto environment = QProcessEnvironment::systemEnvironment();
        environment.insert("PWD", library); // relative paths name files in the tool's working folder
        arguments =
            QStringList{"HOME=@home", "XDG_CONFIG_HOME=@home/.config", "XDG_DATA_HOME=@home/.local/share"} + arguments;
        while (!arguments.isEmpty() && arguments.first().contains(QRegularExpression("^[A-Z_]+="))) {
            const auto setting = arguments.takeFirst();
            environment.insert(setting.section(u'=', 0, 0), expand(setting.section(u'=', 1)));
        }
        for (auto &argument : arguments)
            argument = expand(argument);

        QDir::setCurrent(environment.value("PWD"));
        const auto run = runTool(arguments, 60000, environment);
        QVERIFY2(run.exitCode == exitCode, qPrintable(QStringLiteral("exit %1: %2").arg(run.exitCode).arg(run.err)));
        QVERIFY2(matches(out, run.out), run.out.constData());
        QVERIFY2(matches(err, run.err), run.err.constData());
        for (const auto &entry : after) {
            const auto name = entry.section(QRegularExpression(" [~≈] "), 0, 0).remove(QRegularExpression("^!"));
            QFile file(name.startsWith("~/") ? home + name.mid(1) : library + u'/' + name);
            QVERIFY2(file.exists() != entry.startsWith(u'!'), qPrintable(entry));
            if (const auto pattern = entry.section(" ~ ", 1); !pattern.isEmpty())
                QVERIFY2(file.open(QIODevice::ReadOnly) && matches(pattern, file.readAll()), qPrintable(entry));
            if (const auto bytes = entry.section(" ≈ ", 1).toLongLong())
                QVERIFY2(qAbs(file.size() - bytes) < bytes / 10, qPrintable(entry));
        }
    }
};

namespace {
void prepareFixtures(const QString &root)
{
    const auto library = root + "/Library/";
    writeFile(library + "Broken.wav", "no audio here");
    AudioFixtures::tone(library + "Take.wav", 3);
    AudioFixtures::clickTrack(library + "Loop.wav", 8, 120);
    AudioFixtures::tone(library + "Surround.wav", 0.5, 440, 0.5, 48000, 8);
    AudioFixtures::tone(library + "Old Take.wav", 1);
    QDir().mkpath(root + "/home");
    AudioFixtures::tone(root + "/home/Outside.wav", 1);
    writeFile(MetadataStore::metadataURL(library + "Old Take.wav"),
              R"({"createdAt": "2020-01-02T03:04:05Z", "bpm": 120, "musicalKey": "A minor", "trimStart": 0.25,
                  "trimEnd": 0.75, "source": {"appName": "Music", "urlString": "https://example.org/a",
                  "capturedAt": "2020-01-02T03:04:05Z"}})");
}

void addRows()
{
    row("scan: stored folder, newest first", {"scan"}, 0,
        R"("duration": 3,\s*"path": "@lib/Take\.wav"\s*\}.*\{\s*"bpm": 120,\s*"createdAt": "2020-01-02T03:04:05Z",)"
        R"(.*"musicalKey": "A minor",\s*"path": "@lib/Old Take\.wav",\s*"source": \{\s*"appName": "Music",.*)"
        R"("urlString": "https://example\.org/a"\s*\},\s*"trimEnd": 0\.75,\s*"trimStart": 0\.25\s*\}\s*\]$)",
        "^$");
    row("scan: --folder for this run", {"scan", "--folder", "@lib/new/library"}, 0, R"(^\[\s*\]$)", "^$",
        {"new/library", R"(~/.config/Vespertone/Vespertone.conf ~ SaveFolderPath=@lib\n)"});
    row("scan: a file as folder", {"scan", "--folder", "@lib/Take.wav"}, 1, "^$", "^The folder “Take.wav”");
    row("delete: a file as folder", {"delete", "Take.wav", "--folder", "@lib/Loop.wav"}, 1, "^$",
        "^The folder “Loop.wav” couldn’t be created\\.$", {"Take.wav"});
    row("folder: the stored one", {"folder"}, 0, "^@lib\n$", "^$");
    row("folder: --folder, neither made nor stored", {"folder", "--folder", "new"}, 0, "^@lib/new\n$", "^$",
        {"!new", R"(~/.config/Vespertone/Vespertone.conf ~ SaveFolderPath=@lib\n)"});
    row("version", {"--version"}, 0, R"(^vespertone-tool \d+\.\d+\.\d+\n$)", "^$");
    row("no command", {}, 2, "^$", "^Usage:");
    row("only a folder", {"--folder", "@lib"}, 2, "^$", "^Usage:");
    row("unknown command", {"frobnicate"}, 2, "^$", "^Unknown command “frobnicate”");
    // A wrong command line: a message on stderr, exit status 2 and nothing done.
    for (const QString line : {"scan x",
                               "probe",
                               "peaks Take.wav x",
                               "analyze",
                               "trim Take.wav 1",
                               "rename x",
                               "delete",
                               "encode-mp3 Take.wav",
                               "folder x",
                               "scan --folder",
                               "scan --folder ",
                               "peaks Take.wav --target 0",
                               "peaks Take.wav --target x",
                               "loops Loop.wav --bpm nan",
                               "loops Loop.wav --limit -1",
                               "trim Take.wav one 2",
                               "trim Take.wav 0 inf",
                               "encode-mp3 Take.wav Out.mp3 --bitrate 96",
                               "analyze Loop.wav --standard --precise",
                               "probe --precise"})
        row("usage: " + line, line.split(' '), 2, "^$", R"(^\S+ (takes|needs|is) )", {"!Take Trim.m4a", "!Out.mp3"});
    row("record: an application needs its name", {"record", "--input", "app"}, 2, "^$",
        "^--input app needs --app NAME or PID; “apps” lists");
    row("record: an unknown input", {"record", "--input", "phone"}, 2, "^$", "^--input takes mac, mic or app\\.\n$");
    row("record: --app with another input", {"record", "--app", "x", "--input", "mic"}, 2, "^$",
        "^--app goes with --input app\\.\n$");
    row("apps: no arguments", {"apps", "x"}, 2, "^$", "^apps does not take “x”");
    row("probe: a file anywhere, writing nothing", {"probe", "@lib/Loop.wav"}, 0,
        R"(^\{\s*"bpm": 120,\s*"duration": 8,\s*"musicalKey": "[\w ]+"\s*\}$)", "^$",
        {"!.vespertone/metadata/Loop.wav.vtmeta.json"});
    row("probe --precise: confidences and alternatives", {"probe", "--precise", "Loop.wav"}, 0,
        R"(^\{\s*"bpm": 120,\s*"bpmAlternatives": \[\s*\{\s*"bpm": (60|240),\s*"confidence": [\d.]+\s*\},\s*)"
        R"(\{\s*"bpm": (60|240),\s*"confidence": [\d.]+\s*\}\s*\],\s*"bpmConfidence": 0\.\d+,\s*"duration": 8,\s*)"
        R"("keyAlternatives": \[\s*\{\s*"confidence": [\d.]+,\s*"musicalKey": "[\w# ]+"\s*\}\s*\],\s*)"
        R"("keyConfidence": [\d.]+,\s*"musicalKey": "[\w# ]+"\s*\}$)",
        "^$", {"!.vespertone/metadata/Loop.wav.vtmeta.json"});
    row("probe: a missing file", {"probe", "Missing.wav"}, 1, "^$", "^The file “Missing.wav” couldn’t be opened");
    row("peaks: --target", {"peaks", "Take.wav", "--target", "100"}, 0, R"(^\[(\s*[\d.]+,){99}\s*[\d.]+\s*]$)", "^$");
    // With a tempo of 120 every loop starts and ends on the 1/8-second grid.
    row("loops: --bpm and --limit", {"loops", "Loop.wav", "--bpm", "120", "--limit", "3"}, 0,
        QStringLiteral(R"(^\[(\s*\{\s*"confidence": [\d.e-]+,\s*"end": %1,\s*"start": %1\s*\},?){1,3}\s*\]$)")
            .arg(R"(\d+(\.(125|25|375|5|625|75|875))?)"),
        "^$");
    row("analyze: tempo into the sidecar and name", {"analyze", "Loop.wav"}, 0,
        R"("bpm": 120,\s*"duration": 8,\s*"musicalKey": "[\w ]+",\s*"path": "@lib/Loop_bpm_120\.wav")",
        "^Analysis saved$", {"Loop_bpm_120.wav", "!Loop.wav"});
    row("analyze --precise: the figures into the sidecar", {"analyze", "--precise", "Loop.wav"}, 0,
        R"("bpm": 120,\s*"bpmAlternatives": \[.*"bpmConfidence": [\d.]+,.*"path": "@lib/Loop_bpm_120\.wav")",
        "^Analysis saved$",
        {"!Loop.wav", R"(.vespertone/metadata/Loop_bpm_120.wav.vtmeta.json ~ "bpmConfidence" : 0\.\d+,)"});
    row("analyze: not audio", {"analyze", "@lib/Broken.wav"}, 1, "^$", ".",
        {"!.vespertone/metadata/Broken.wav.vtmeta.json"});
    for (const QString line : {"analyze @home/Outside.wav", "rename @home/Outside.wav Inside",
                               "delete @home/Outside.wav", "trim @home/Outside.wav 0 1"})
        row("outside the library: " + line.section(' ', 0, 0), line.split(' '), 1, "^$", "is not in the library folder",
            {"~/Outside.wav", "!Inside.wav"});
    // A bare name is a take in the library wherever the tool runs; a path is the working folder's.
    row("bare name: rename elsewhere", {"PWD=@home", "rename", "Take.wav", "Renamed"}, 0, R"(^@lib/Renamed\.wav$)",
        "^Renamed to Renamed\\.wav$", {"Renamed.wav", "!Take.wav", "~/Outside.wav"});
    row("bare name: source elsewhere", {"PWD=@home", "source", "Old Take.wav"}, 0, R"("appName": "Music")", "^$");
    row("path: relative to the working folder", {"PWD=@home", "delete", "./Take.wav"}, 1, "^$",
        "is not in the library folder", {"Take.wav"});
    row("trim: a new M4A", {"trim", "Take.wav", "0.5", "2.5"}, 0, R"(^@lib/Take Trim\.m4a$)", R"(^Trim saved\.$)",
        {"Take.wav ≈ 576044", R"(.vespertone/metadata/Take Trim.m4a.vtmeta.json ~ "trimEnd" : 2,)"});
    row("trim: empty range", {"trim", "Take.wav", "2", "1"}, 1, "^$", "too short", {"!Take Trim.m4a"});
    row("rename: sanitised", {"rename", "Take.wav", "  a/b  "}, 0, R"(^@lib/a b\.wav$)", R"(^Renamed to a b\.wav$)",
        {"a b.wav", "!Take.wav"});
    row("rename: empty name", {"rename", "Take.wav", " / "}, 1, "^$", "^Enter a name before", {"Take.wav"});
    row("delete: into the Trash with sidecars", {"delete", "Take.wav", "Old Take.wav", "@lib/Loop.wav"}, 0, "^$",
        "^Moved 3 recordings to Trash$",
        {"!Take.wav", "!Loop.wav", "!Old Take.wav", "~/.local/share/Trash/files/Old Take.wav.vtmeta.json"});
    row("delete: one unknown, none go", {"delete", "Take.wav", "x"}, 1, "^$", "is not a recording", {"Take.wav"});
    // Encoding needs no library: none is scanned, so nothing is remembered of one.
    row("encode-mp3: 128 kbps", {"encode-mp3", "Take.wav", "Take.mp3", "--bitrate", "128"}, 0, R"(^@lib/Take\.mp3$)",
        "^$", {"Take.mp3 ≈ 48000", "!.vespertone/cache"});
    row("encode-mp3: not over a file", {"encode-mp3", "Take.wav", "Loop.wav"}, 1, "^$", "already exists",
        {"Loop.wav ≈ 1536044"});
    row("encode-mp3: not PCM", {"encode-mp3", "Broken.wav", "Out.mp3"}, 1, "^$",
        "^“Broken.wav” is not a PCM WAV file.\n$", {"!Out.mp3"});
    // The encoder takes at most two channels: its own diagnostic is shown.
    row("encode-mp3: 8 channels", {"encode-mp3", "Surround.wav", "Out.mp3"}, 1, "^$", "Unsupported number of channels",
        {"!Out.mp3"});
}
} // namespace

QTEST_GUILESS_MAIN(ToolTest)
#include "test_tool.moc"
