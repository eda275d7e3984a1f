// vespertone-tool from the outside: each row runs one command in a fresh home whose stored
// library folder holds the same recordings, then checks the exit status, both outputs and the
// files left behind.

#include "library/MetadataStore.h"
#include "support/AudioFixtures.h"
#include "support/ToolRunner.h"

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

namespace {
/// Rows write "@lib" and "@home" for the run's library and home folders.
QString expand(QString text, const QString &library, const QString &home, bool pattern)
{
    const auto quote = [pattern](const QString &path) { return pattern ? QRegularExpression::escape(path) : path; };
    return text.replace(QLatin1String("@lib"), quote(library)).replace(QLatin1String("@home"), quote(home));
}

bool matches(const QString &pattern, const QString &text)
{
    return QRegularExpression(pattern, QRegularExpression::DotMatchesEverythingOption).match(text).hasMatch();
}

/// Arguments, exit status, patterns that stdout and stderr must match, the files afterwards
/// ("NAME" exists, "!NAME" does not, "NAME ~ PATTERN" has matching text, "NAME ≈ BYTES" has
/// about that size; NAME is in the library, or in the home after "~/") and NAME=VALUE settings
/// of the environment.
void row(const char *name, const QStringList &arguments, int exitCode, const QString &out, const QString &err,
         const QStringList &after = {}, const QStringList &environment = {})
{
    QTest::newRow(name) << arguments << exitCode << out << err << after << environment;
}
} // namespace

class ToolTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_fixtures; ///< Library/ and home/ as every row starts

private slots:
    void initTestCase()
    {
        QVERIFY2(!qEnvironmentVariableIsEmpty("VESPERTONE_TOOL"), "run through ctest");
        QDir(m_fixtures.path()).mkpath("Library");
        QDir(m_fixtures.path()).mkpath("home");
        const auto library = m_fixtures.filePath("Library/");
        AudioFixtures::tone(library + "Take.wav", 3);
        AudioFixtures::clickTrack(library + "Loop.wav", 8, 120);
        AudioFixtures::tone(library + "Surround.wav", 0.5, 440, 0.5, 48000, 8);
        AudioFixtures::tone(m_fixtures.filePath("home/Outside.wav"), 1);
        QFile broken(library + "Broken.wav");
        QVERIFY(broken.open(QIODevice::WriteOnly) && broken.write("no audio here") > 0);
        AudioFixtures::tone(library + "Old Take.wav", 1);
        auto old = RecordingMetadata::fresh(QDateTime(QDate(2020, 1, 2), QTime(3, 4, 5), Qt::UTC));
        old.bpm = 120;
        old.musicalKey = QStringLiteral("A minor");
        old.trimStart = 0.25;
        old.trimEnd = 0.75;
        RecordingSourceContext source;
        source.appName = QStringLiteral("Music");
        source.urlString = QStringLiteral("https://example.org/a");
        source.capturedAt = old.createdAt;
        old.source = source;
        MetadataStore::save(old, library + "Old Take.wav");
    }

    void runsCommands_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("out");
        QTest::addColumn<QString>("err");
        QTest::addColumn<QStringList>("after");
        QTest::addColumn<QStringList>("environment");
        const auto oldTake =
            R"(\{\s*"bpm": 120,\s*"createdAt": "2020-01-02T03:04:05Z",\s*"duration": 1,\s*)"
            R"("musicalKey": "A minor",\s*"path": "@lib/Old Take\.wav",\s*"source": \{\s*)"
            R"("appName": "Music",\s*"capturedAt": "2020-01-02T03:04:05Z",\s*)"
            R"("urlString": "https://example\.org/a"\s*\},\s*"trimEnd": 0\.75,\s*"trimStart": 0\.25\s*\})";
        row("scan: stored folder, newest first", {"scan"}, 0,
            QStringLiteral(R"(\{\s*"createdAt": "\S+",\s*"duration": 3,\s*"path": "@lib/Take\.wav"\s*\}.*)") + oldTake,
            "^$");
        row("scan: --folder for this run", {"scan", "--folder", "@lib/new/library"}, 0, R"(^\[\s*\]$)", "^$",
            {"new/library", R"(~/.config/Vespertone/Vespertone.conf ~ SaveFolderPath=@lib\n)"});
        row("scan: a file as folder", {"scan", "--folder", "@lib/Take.wav"}, 1, "^$",
            "^The folder “Take.wav” couldn’t be created\\.$");
        row("scan: an argument", {"scan", "extra"}, 2, "^$", "^scan takes no arguments");
        row("no command", {}, 2, "^$", "^Usage:");
        row("only a folder", {"--folder", "@lib"}, 2, "^$", "^Usage:");
        row("unknown command", {"frobnicate"}, 2, "^$", "^Unknown command “frobnicate”");
        row("--folder without value", {"scan", "--folder"}, 2, "^$", "^--folder needs a folder");
        row("--folder empty", {"scan", "--folder", ""}, 2, "^$", "^--folder needs a folder");
        row("help", {"--help"}, 0, "^Usage:", "^$");
        row("probe: a file anywhere, writing nothing", {"probe", "@lib/Loop.wav"}, 0,
            R"(^\{\s*"bpm": 120,\s*"duration": 8,\s*"musicalKey": "[\w ]+"\s*\}$)", "^$",
            {"!.vespertone/metadata/Loop.wav.vtmeta.json"});
        row("probe: a missing file", {"probe", "Missing.wav"}, 1, "^$", "^The file “Missing.wav” couldn’t be opened");
        row("probe: no file", {"probe"}, 2, "^$", "^probe takes one audio file");
        row("peaks: --target values", {"peaks", "Take.wav", "--target", "100"}, 0,
            R"(^\[(\s*[\d.]+,){99}\s*[\d.]+\s*\]$)", "^$");
        row("peaks: --target 0", {"peaks", "Take.wav", "--target", "0"}, 2, "^$", "^--target needs a positive number");
        row("peaks: --target not a number", {"peaks", "Take.wav", "--target", "x"}, 2, "^$",
            "^--target needs a number");
        // With a tempo of 120 every loop starts and ends on the 1/8-second grid.
        const auto grid = R"(\d+(\.(125|25|375|5|625|75|875))?)";
        row("loops: --bpm and --limit", {"loops", "Loop.wav", "--bpm", "120", "--limit", "3"}, 0,
            QStringLiteral(R"(^\[(\s*\{\s*"confidence": [\d.e-]+,\s*"end": %1,\s*"start": %1\s*\},?){1,3}\s*\]$)")
                .arg(grid),
            "^$");
        row("loops: --bpm NaN", {"loops", "Loop.wav", "--bpm", "nan"}, 2, "^$", "^--bpm needs a number");
        row("loops: --limit -1", {"loops", "Loop.wav", "--limit", "-1"}, 2, "^$", "^--limit needs a positive number");
        row("analyze: tempo into the sidecar and name", {"analyze", "Loop.wav"}, 0,
            R"("bpm": 120,\s*"duration": 8,\s*"musicalKey": "[\w ]+",\s*"path": "@lib/Loop_bpm_120\.wav")",
            "^Analysis saved$", {"Loop_bpm_120.wav", "!Loop.wav"});
        row("analyze: not audio", {"analyze", "@lib/Broken.wav"}, 1, "^$", ".",
            {"!.vespertone/metadata/Broken.wav.vtmeta.json"});
        for (const QStringList &arguments : QList<QStringList>{{"analyze", "@home/Outside.wav"},
                                                               {"rename", "@home/Outside.wav", "Inside"},
                                                               {"delete", "@home/Outside.wav"},
                                                               {"trim", "@home/Outside.wav", "0", "1"}})
            row(qPrintable("outside the library: " + arguments.first()), arguments, 1, "^$",
                "is not in the library folder", {"~/Outside.wav", "!Inside.wav"});
        row("trim: a new M4A", {"trim", "Take.wav", "0.5", "2.5"}, 0, R"(^@lib/Take Trim\.m4a$)", R"(^Trim saved\.$)",
            {"Take.wav ≈ 576044", R"(.vespertone/metadata/Take Trim.m4a.vtmeta.json ~ "trimEnd" : 2,)"});
        row("trim: not a number", {"trim", "Take.wav", "one", "2"}, 2, "^$", "^“one” is not a number",
            {"!Take Trim.m4a"});
        row("trim: NaN START", {"trim", "Take.wav", "nan", "2"}, 2, "^$", "^“nan” is not a number", {"!Take Trim.m4a"});
        row("trim: infinite END", {"trim", "Take.wav", "0", "inf"}, 2, "^$", "^“inf” is not a number");
        row("trim: missing END", {"trim", "Take.wav", "1"}, 2, "^$", "^trim takes FILE START END");
        row("trim: not listed", {"trim", "Other.wav", "0", "1"}, 1, "^$", "is not a recording");
        row("trim: empty range", {"trim", "Take.wav", "2", "1"}, 1, "^$", "too short", {"!Take Trim.m4a"});
        row("rename: sanitised", {"rename", "Take.wav", "  a/b  "}, 0, R"(^@lib/a b\.wav$)", R"(^Renamed to a b\.wav$)",
            {"a b.wav", "!Take.wav"});
        row("rename: never over another", {"rename", "Take.wav", "Loop"}, 0, R"(^@lib/Loop 2\.wav$)", "",
            {"Loop.wav ≈ 1536044", "Loop 2.wav ≈ 576044"});
        row("rename: same name", {"rename", "Loop.wav", "Loop"}, 0, R"(^@lib/Loop\.wav$)", "^$", {"Loop.wav"});
        row("rename: no NEWNAME", {"rename", "Take.wav"}, 2, "^$", "^rename takes FILE NEWNAME", {"Take.wav"});
        row("rename: empty name", {"rename", "Take.wav", " / "}, 1, "^$", R"(^Enter a name before renaming\.$)",
            {"Take.wav"});
        row("delete: into the Trash with sidecars", {"delete", "Take.wav", "Old Take.wav", "@lib/Loop.wav"}, 0, "^$",
            "^Moved 3 recordings to Trash$",
            {"!Take.wav", "!Loop.wav", "!Old Take.wav", "!.vespertone/metadata/Old Take.wav.vtmeta.json",
             "~/.local/share/Trash/files/Loop.wav", "~/.local/share/Trash/files/Old Take.wav.vtmeta.json"});
        row("delete: one unknown keeps all", {"delete", "Take.wav", "Missing.wav"}, 1, "^$", "is not a recording",
            {"Take.wav"});
        row("delete: one", {"delete", "Take.wav"}, 0, "^$", R"(^Moved Take\.wav to Trash$)", {"!Take.wav"});
        // Qt warns that it cannot set up the Trash there, for itself, not for the tool's users.
        row("delete: Qt's warnings", {"delete", "Take.wav"}, 0, "^$", R"(^Moved Take\.wav to Trash$)", {"!Take.wav"},
            {"XDG_DATA_HOME=@lib/Loop.wav/share"});
        row("delete: a file as folder", {"delete", "Take.wav", "--folder", "@lib/Loop.wav"}, 1, "^$",
            "^The folder “Loop.wav” couldn’t be created\\.$", {"Take.wav"});
        row("encode-mp3: 128 kbps", {"encode-mp3", "Take.wav", "Take.mp3", "--bitrate", "128"}, 0,
            R"(^@lib/Take\.mp3$)", "^$", {"Take.mp3 ≈ 48000"});
        row("encode-mp3: never over a file", {"encode-mp3", "Take.wav", "@lib/Loop.wav"}, 1, "^$", "already exists",
            {"Loop.wav ≈ 1536044"});
        row("encode-mp3: bit rate", {"encode-mp3", "Take.wav", "Out.mp3", "--bitrate", "96"}, 2, "^$", "^--bitrate",
            {"!Out.mp3"});
        row("encode-mp3: missing WAV", {"encode-mp3", "None.wav", "Out.mp3"}, 1, "^$", "does not exist", {"!Out.mp3"});
        row("encode-mp3: one path", {"encode-mp3", "Take.wav"}, 2, "^$", "^encode-mp3 takes");
        // The encoder takes at most two channels: its own diagnostic is shown.
        row("encode-mp3: eight channels", {"encode-mp3", "Surround.wav", "Out.mp3"}, 1, "^$",
            "Unsupported number of channels", {"!Out.mp3"});
    }

    void runsCommands()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QString, out);
        QFETCH(QString, err);
        QFETCH(QStringList, after);
        QFETCH(QStringList, environment);
        QTemporaryDir root;
        QCOMPARE(QProcess::execute("cp", {"-a", m_fixtures.path() + "/.", root.path()}), 0);
        const auto library = root.filePath("Library"), home = root.filePath("home");
        QSettings(home + "/.config/Vespertone/Vespertone.conf", QSettings::NativeFormat)
            .setValue("Vespertone.SaveFolderPath", library);
        auto system = QProcessEnvironment::systemEnvironment();
        system.insert("HOME", home);
        system.insert("XDG_CONFIG_HOME", home + "/.config");
        system.insert("XDG_DATA_HOME", home + "/.local/share");
        for (const auto &setting : environment) {
            const auto expanded = expand(setting, library, home, false);
            system.insert(expanded.section(u'=', 0, 0), expanded.section(u'=', 1));
        }
        for (auto &argument : arguments)
            argument = expand(argument, library, home, false);

        QDir::setCurrent(library); // relative FILEs name files in the tool's working folder
        const auto run = runTool(arguments, 60000, system);
        QDir::setCurrent(QDir::tempPath());
        QVERIFY2(run.exitCode == exitCode, qPrintable(QStringLiteral("exit %1: %2").arg(run.exitCode).arg(run.err)));
        QVERIFY2(matches(expand(out, library, home, true), QString::fromUtf8(run.out)), run.out.constData());
        QVERIFY2(matches(expand(err, library, home, true), QString::fromUtf8(run.err)), run.err.constData());
        for (const auto &entry : after) {
            const auto name = entry.section(QRegularExpression(" [~≈] "), 0, 0).remove(QRegularExpression("^!"));
            const auto path = name.startsWith("~/") ? home + name.mid(1) : library + u'/' + name;
            QVERIFY2(QFileInfo::exists(path) != entry.startsWith(u'!'), qPrintable(entry));
            QFile file(path);
            if (const auto pattern = entry.section(" ~ ", 1); !pattern.isEmpty()) {
                QVERIFY(file.open(QIODevice::ReadOnly));
                QVERIFY2(matches(expand(pattern, library, home, true), QString::fromUtf8(file.readAll())),
                         qPrintable(entry));
            } else if (const auto bytes = entry.section(" ≈ ", 1); !bytes.isEmpty()) {
                QVERIFY2(qAbs(file.size() - bytes.toLongLong()) < bytes.toLongLong() / 10, qPrintable(entry));
            }
        }
    }
};

QTEST_GUILESS_MAIN(ToolTest)
#include "test_tool.moc"
