// vespertone-tool: analyze, trim, rename, delete and encode-mp3 on a private library folder.

#include "library/MetadataStore.h"
#include "media/AudioFileReader.h"
#include "support/AudioFixtures.h"
#include "support/ToolRunner.h"

#include <QCryptographicHash>
#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

namespace {
QByteArray digest(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha1);
}

QString text(const QByteArray &bytes)
{
    return QString::fromUtf8(bytes).trimmed();
}
} // namespace

class ToolEditingTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_home;
    QTemporaryDir m_fixtures;
    QProcessEnvironment m_environment = QProcessEnvironment::systemEnvironment();
    std::unique_ptr<QTemporaryDir> m_library;
    QString m_click;
    QString m_tone;
    QString m_surround; ///< 0.5 s in eight channels

    [[nodiscard]] QString path(const QString &name) const { return m_library->filePath(name); }

    /// Runs the tool in the library folder, which is also its --folder.
    ToolRun tool(QStringList arguments)
    {
        arguments << QStringLiteral("--folder") << m_library->path();
        return runTool(arguments, 60000, m_environment);
    }

    QString add(const QString &fixture, const QString &name)
    {
        QFile::copy(fixture, path(name));
        return path(name);
    }

    [[nodiscard]] QStringList files() const { return QDir(m_library->path()).entryList(QDir::Files, QDir::Name); }

private slots:
    void initTestCase()
    {
        QVERIFY2(!qEnvironmentVariableIsEmpty("VESPERTONE_TOOL"), "run through ctest");
        m_environment.insert("HOME", m_home.path());
        m_environment.insert("XDG_CONFIG_HOME", m_home.filePath(".config"));
        m_environment.insert("XDG_DATA_HOME", m_home.filePath(".local/share"));
        m_click = AudioFixtures::clickTrack(m_fixtures.filePath("click.wav"), 8, 120);
        m_tone = AudioFixtures::tone(m_fixtures.filePath("tone.wav"), 3);
        m_surround = AudioFixtures::tone(m_fixtures.filePath("surround.wav"), 0.5, 440, 0.5, 48000, 8);
    }

    void init()
    {
        m_library = std::make_unique<QTemporaryDir>();
        // Relative FILE arguments resolve against the tool's working folder.
        QDir::setCurrent(m_library->path());
    }

    void cleanup() { QDir::setCurrent(QDir::tempPath()); }

    void analyzeStoresAndRenames()
    {
        add(m_click, "Loop.wav");
        auto run = tool({"analyze", "Loop.wav"});
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(text(run.err), QStringLiteral("Analysis saved"));
        const auto result = QJsonDocument::fromJson(run.out).object();
        QCOMPARE(result["path"].toString(), path("Loop_bpm_120.wav"));
        QCOMPARE(result["bpm"].toDouble(), 120.0);
        QVERIFY(std::abs(result["duration"].toDouble() - 8) < 0.01);
        QVERIFY(result.contains("musicalKey"));
        QCOMPARE(files(), QStringList{"Loop_bpm_120.wav"});
        QCOMPARE(MetadataStore::load(path("Loop_bpm_120.wav"))->bpm, std::optional<double>(120));

        // Not audio: an error, no output and no sidecar.
        QFile broken(path("Broken.wav"));
        QVERIFY(broken.open(QIODevice::WriteOnly));
        broken.write("no audio here");
        broken.close();
        run = tool({"analyze", path("Broken.wav")});
        QCOMPARE(run.exitCode, 1);
        QVERIFY(!text(run.err).isEmpty());
        QVERIFY(run.out.isEmpty());
        QVERIFY(!QFileInfo::exists(MetadataStore::metadataURL(path("Broken.wav"))));
    }

    void trimPrintsTheNewFile()
    {
        add(m_tone, "Take.wav");
        const auto before = digest(path("Take.wav"));
        const auto run = tool({"trim", "Take.wav", "0.5", "2.5"});
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(text(run.err), QStringLiteral("Trim saved. Undo available."));
        QCOMPARE(text(run.out), path("Take Trim.m4a"));
        QCOMPARE(digest(path("Take.wav")), before);
        const auto metadata = MetadataStore::load(path("Take Trim.m4a"));
        QVERIFY(metadata);
        QCOMPARE(metadata->trimEnd, std::optional<double>(2));
        AudioFileReader reader(path("Take Trim.m4a"));
        QVERIFY(std::abs(double(reader.length()) / reader.sampleRate() - 2) < 0.05);
    }

    void trimRefusesBadArguments_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("message");
        QTest::newRow("not a number") << QStringList{"trim", "Take.wav", "one", "2"} << "“one” is not a number";
        QTest::newRow("missing end") << QStringList{"trim", "Take.wav", "1"} << "trim takes FILE START END";
        QTest::newRow("not listed") << QStringList{"trim", "Other.wav", "0", "1"} << "is not a recording";
        QTest::newRow("empty range") << QStringList{"trim", "Take.wav", "2", "1"} << "";
    }

    void trimRefusesBadArguments()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, message);
        add(m_tone, "Take.wav");
        const auto run = tool(arguments);
        QVERIFY(run.exitCode != 0);
        QVERIFY2(text(run.err).contains(message), run.err.constData());
        QVERIFY(!text(run.err).isEmpty());
        QCOMPARE(files(), QStringList{"Take.wav"});
    }

    void renameSanitisesAndNeverReplaces()
    {
        add(m_tone, "Take.wav");
        add(m_tone, "Drums.wav");
        const auto drumsBefore = digest(path("Drums.wav"));

        auto run = tool({"rename", "Take.wav", "  a/b  "});
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(text(run.err), QStringLiteral("Renamed to a b.wav"));
        QCOMPARE(text(run.out), path("a b.wav"));

        run = tool({"rename", "a b.wav", "Drums"});
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(text(run.out), path("Drums 2.wav"));
        QCOMPARE(digest(path("Drums.wav")), drumsBefore);

        // The same name changes nothing and says nothing.
        run = tool({"rename", "Drums.wav", "Drums"});
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(text(run.out), path("Drums.wav"));
        QVERIFY(run.err.isEmpty());

        run = tool({"rename", "Drums.wav", " / "});
        QCOMPARE(run.exitCode, 1);
        QCOMPARE(text(run.err), QStringLiteral("Enter a name before renaming."));
        QCOMPARE(files(), (QStringList{"Drums 2.wav", "Drums.wav"}));
    }

    void filesOutsideTheLibraryAreRefused_data()
    {
        QTest::addColumn<QString>("command");
        QTest::newRow("analyze") << "analyze";
        QTest::newRow("rename") << "rename";
        QTest::newRow("delete") << "delete";
    }

    void filesOutsideTheLibraryAreRefused()
    {
        QFETCH(QString, command);
        const auto outside = AudioFixtures::tone(m_home.filePath("Outside.wav"), 1);
        QStringList arguments{command, outside};
        if (command == "rename")
            arguments << "Inside";
        const auto run = tool(arguments);
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(text(run.err).contains("is not in the library folder"), run.err.constData());
        QVERIFY(QFileInfo::exists(outside));
        QVERIFY(files().isEmpty());
    }

    void deleteMovesToTheTrash()
    {
        for (const auto *name : {"A.wav", "B.wav", "C.wav"}) {
            add(m_tone, name);
            MetadataStore::save(RecordingMetadata::fresh(QDateTime::currentDateTimeUtc()), path(name));
        }
        add(m_tone, "Kept.wav");

        auto run = tool({"delete", "A.wav", "B.wav", path("C.wav")});
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(text(run.err), QStringLiteral("Moved 3 recordings to Trash"));
        QCOMPARE(files(), QStringList{"Kept.wav"});
        const auto trash = m_home.filePath(".local/share/Trash/files/");
        for (const auto *name : {"A.wav", "B.wav", "C.wav"}) {
            QVERIFY(QFileInfo::exists(trash + name));
            QVERIFY(QFileInfo::exists(trash + name + QStringLiteral(".vtmeta.json")));
        }

        // One unknown name and nothing goes.
        run = tool({"delete", "Kept.wav", "Missing.wav"});
        QCOMPARE(run.exitCode, 1);
        QCOMPARE(files(), QStringList{"Kept.wav"});

        run = tool({"delete", "Kept.wav"});
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(text(run.err), QStringLiteral("Moved Kept.wav to Trash"));
    }

    void encodeMP3WithTheBundledEncoder()
    {
        const auto wav = add(m_tone, "Take.wav");
        auto run = tool({"encode-mp3", "Take.wav", "Take.mp3", "--bitrate", "128"});
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(text(run.out), path("Take.mp3"));
        AudioFileReader reader(path("Take.mp3"));
        QVERIFY(std::abs(reader.length() - 3 * 48000) < 4800);
        // 128 kbps for 3 s.
        QVERIFY(std::abs(QFileInfo(path("Take.mp3")).size() - 48000) < 4800);

        // Never over an existing file.
        const auto before = digest(path("Take.mp3"));
        run = tool({"encode-mp3", wav, path("Take.mp3")});
        QCOMPARE(run.exitCode, 1);
        QVERIFY(text(run.err).contains("already exists"));
        QCOMPARE(digest(path("Take.mp3")), before);
    }

    void encodeMP3RefusesBadArguments_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("message");
        QTest::newRow("bit rate") << QStringList{"encode-mp3", "Take.wav", "Out.mp3", "--bitrate", "96"} << "--bitrate";
        QTest::newRow("missing source") << QStringList{"encode-mp3", "None.wav", "Out.mp3"} << "does not exist";
        QTest::newRow("one path") << QStringList{"encode-mp3", "Take.wav"} << "encode-mp3 takes";
        // lame takes at most two channels: its own diagnostic is shown.
        QTest::newRow("eight channels") << QStringList{"encode-mp3", "Surround.wav", "Out.mp3"}
                                        << "Unsupported number of channels";
    }

    void encodeMP3RefusesBadArguments()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, message);
        add(m_tone, "Take.wav");
        add(m_surround, "Surround.wav");
        const auto run = tool(arguments);
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(text(run.err).contains(message), run.err.constData());
        QVERIFY(!QFileInfo::exists(path("Out.mp3")));
    }
};

QTEST_GUILESS_MAIN(ToolEditingTest)
#include "test_tool_editing.moc"
