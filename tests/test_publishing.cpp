// What every command publishes into the library, seen through the file operations: each new file
// is synced before it gets its name and its folder after, an MP3 take's WAV stays until its MP3
// is durable, and wherever a command stops (a kill, a power cut) each recording keeps its metadata.

#include "library/MetadataStore.h"
#include "library/UniqueFileNamer.h"
#include "store/RecordingLibraryStore.h"
#include "support/AudioFixtures.h"
#include "support/FakeSoundServer.h"
#include "support/LocalHttpServer.h"
#include "support/RecordingFileOperations.h"
#include "support/TaskRunner.h"
#include "support/TestEnvironment.h"
#include "support/TestFiles.h"

#include <QDir>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>

namespace {

const RecordingSourceContext browser{.appName = "Firefox",
                                     .windowTitle = "Drum loops",
                                     .urlString = "https://example.com/loops",
                                     .capturedAt = QDateTime(QDate(2024, 4, 2), QTime(8, 30), Qt::UTC)};
const QDateTime recorded(QDate(2022, 1, 1), QTime(0, 0), Qt::UTC);

/// One library, store and set of file operations; the store can be reopened on the system's.
struct Scene {
    TestEnvironment env;
    RecordingFileOperations files{env.m_root.path()};
    FakeSoundServer server;
    std::unique_ptr<RecordingLibraryStore> store;

    void open(const QString &encoders, bool recorded = true)
    {
        store.reset();
        auto environment = env.storeEnvironment();
        environment.encodersFolder = encoders;
        environment.soundServer = &server;
        if (recorded)
            environment.files = &files;
        store = startStore(environment);
    }
    /// Copies \a fixture into the library as \a name with a sidecar: made in 2022 in a browser.
    QString add(const QString &fixture, const QString &name)
    {
        const auto path = writeFile(env.path(name), readFile(fixture));
        auto metadata = RecordingMetadata::fresh(recorded);
        metadata.source = browser;
        MetadataStore::save(metadata, path);
        return path;
    }
    [[nodiscard]] RecordingItem item(const QString &name) const
    {
        for (const auto &each : store->recordings()) {
            if (QFileInfo(each.url).fileName() == name)
                return each;
        }
        return RecordingItem{.url = env.path(name)};
    }
    [[nodiscard]] QStringList work() const { return entriesOf(UniqueFileNamer::workFolder(env.libraryFolder())); }
};

/// What a row does to a library holding Loop.wav (clicks at 120 BPM), Take.m4a (a tone) and
/// Take.wav, each with its sidecar.
enum class Command { trim, importURL, mp3Take, wavTake, encodeMP3, rename, analyze, remove, setting };

/// Steps that must come in this order among the others (regular expressions over the log).
using Order = QStringList;

} // namespace

Q_DECLARE_METATYPE(Command)

class PublishingTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_fixtures;
    QString m_click, m_m4a, m_wav, m_encoders;
    LocalHttpServer m_http;

    void prepare(Scene &scene)
    {
        scene.add(m_click, "Loop.wav");
        scene.add(m_m4a, "Take.m4a");
        scene.add(m_wav, "Take.wav");
        scene.open(m_encoders);
        scene.files.clear();
    }

    void run(Scene &scene, Command command)
    {
        auto &store = *scene.store;
        switch (command) {
        case Command::trim: finish(store.trim(scene.item("Take.m4a"), 1, 3)); break;
        case Command::importURL: finish(store.importURL(m_http.url("/Song.wav").toString(), false)); break;
        case Command::mp3Take:
        case Command::wavTake:
            store.setRecordingFormat(command == Command::mp3Take ? RecordingOutputFormat::mp3LAME
                                                                 : RecordingOutputFormat::wavPCM);
            finish(store.startRecording(RecordingInputSource::microphone));
            scene.server.feedSine(0.3);
            finish(store.stopRecording());
            break;
        case Command::encodeMP3:
            finish(store.encodeMP3(scene.env.path("Take.wav"), scene.env.path("Out.mp3"), AudioBitRate::kbps128));
            break;
        case Command::rename: finish(store.rename(scene.item("Take.wav"), "Drums")); break;
        case Command::analyze: finish(store.analyze(scene.env.path("Loop.wav"))); break;
        case Command::remove: finish(store.deleteRecordings({scene.item("Take.wav")})); break;
        case Command::setting: store.setAacBitRate(AudioBitRate::kbps320); break;
        }
    }

private slots:
    void initTestCase()
    {
        m_click = AudioFixtures::clickTrack(m_fixtures.filePath("click.wav"), 8, 120);
        m_m4a = AudioFixtures::tone(m_fixtures.filePath("tone.m4a"), 4);
        m_wav = AudioFixtures::tone(m_fixtures.filePath("tone.wav"), 2);
        m_encoders = m_fixtures.filePath("Encoders");
        QDir().mkpath(m_encoders);
        QVERIFY(QFile::link(QStandardPaths::findExecutable("lame"), m_encoders + "/lame"));
        m_http.route("/Song.wav", {200, "audio/wav", readFile(m_wav)});
    }

    void syncsBeforeEveryNameAndTheFolderAfter_data()
    {
        QTest::addColumn<Command>("command");
        QTest::addColumn<Order>("order");
        const QString work = "Library/\\.vespertone/tmp/[0-9A-F-]{36}";
        const QString sidecars = "Library/\\.vespertone/metadata";
        // A new file's sidecar takes its name before the audio does.
        QTest::newRow("trim") << Command::trim
                              << Order{"link " + work + "\\.vtmeta\\.json -> " + sidecars + "/Take Trim\\.m4a\\.",
                                       "syncFolder " + sidecars, "syncFile " + work + "\\.m4a",
                                       "link " + work + "\\.m4a -> Library/Take Trim\\.m4a", "syncFolder Library$"};
        QTest::newRow("import") << Command::importURL
                                << Order{"link " + work + "\\.vtmeta\\.json -> " + sidecars + "/Song\\.mp3\\.",
                                         "link " + work + "-encoded\\.mp3 -> Library/Song\\.mp3",
                                         "syncFolder Library$"};
        // The take's WAV is the only copy of its audio until the MP3 is durable.
        const QString take = "Library/\\.vespertone/tmp/Vespertone [-0-9 .]+";
        QTest::newRow("MP3 take") << Command::mp3Take
                                  << Order{"syncFile " + take + "\\.mp3\\.partial",
                                           "link " + take + "\\.mp3\\.partial -> Library/Vespertone [-0-9 .]+\\.mp3",
                                           "syncFolder Library$", "remove " + take + "\\.wav"};
        QTest::newRow("WAV take, written in place")
            << Command::wavTake << Order{"syncFile Library/Vespertone [-0-9 .]+\\.wav", "syncFolder Library$"};
        QTest::newRow("encode-mp3") << Command::encodeMP3
                                    << Order{"syncFile " + work + "\\.mp3",
                                             "link " + work + "\\.mp3 -> Library/Out\\.mp3", "syncFolder Library$"};
        // A move gives the sidecar its new name first and drops the old one last.
        QTest::newRow("rename") << Command::rename
                                << Order{"renameReplacing " + work + "\\.vtmeta\\.json -> " + sidecars
                                             + "/Drums\\.wav\\.vtmeta\\.json",
                                         "syncFolder " + sidecars,
                                         "renameNoReplace Library/Take\\.wav -> Library/Drums\\.wav",
                                         "syncFolder Library$", "remove " + sidecars + "/Take\\.wav\\.vtmeta\\.json"};
        // Settings: QSettings syncs its file before it replaces the old one; the folder follows.
        QTest::newRow("a setting") << Command::setting << Order{"^syncFolder \\.$"};
        QTest::newRow("analysis under a tempo name")
            << Command::analyze
            << Order{"-> " + sidecars + "/Loop_bpm_120\\.wav\\.vtmeta\\.json",
                     "renameNoReplace Library/Loop\\.wav -> Library/Loop_bpm_120\\.wav",
                     "syncFolder Library$",
                     "remove " + sidecars + "/Loop\\.wav\\.vtmeta\\.json",
                     "renameReplacing " + work + "\\.vtmeta\\.json -> " + sidecars + "/Loop_bpm_120\\.wav\\.",
                     "syncFolder " + sidecars};
    }
    void syncsBeforeEveryNameAndTheFolderAfter()
    {
        QFETCH(Command, command);
        QFETCH(Order, order);
        Scene scene;
        prepare(scene);
        run(scene, command);
        const auto log = scene.files.log();
        QVERIFY2(!log.isEmpty(), qPrintable(scene.store->statusMessage().value_or("")));
        const auto joined = "\n" + log.join("\n");
        // Every name given outside the work folder: a new file synced before, its folder synced after.
        static const QRegularExpression naming("^(link|renameNoReplace|renameReplacing) (.+) -> (.+)$");
        for (int i = 0; i < log.size(); ++i) {
            const auto match = naming.match(log[i]);
            if (!match.hasMatch() || match.captured(3).contains("/.vespertone/tmp/"))
                continue;
            const auto source = match.captured(2), target = match.captured(3);
            if (source.contains("/.vespertone/tmp/"))
                QVERIFY2(log.mid(0, i).contains("syncFile " + source), qPrintable(log[i] + joined));
            QVERIFY2(log.mid(i + 1).contains("syncFolder " + QFileInfo(target).path()), qPrintable(log[i] + joined));
        }
        int at = 0;
        for (const auto &step : order) {
            const QRegularExpression pattern(step);
            while (at < log.size() && !pattern.match(log[at]).hasMatch())
                ++at;
            QVERIFY2(at < log.size(), qPrintable("missing in order: " + step + joined));
            ++at;
        }
        QCOMPARE(scene.work(), QStringList());
    }

    /// Each command run again and stopped at each of its steps in turn; after a new start the
    /// library lists every recording with its metadata, and no work file is left.
    void aStopAtAnyStepKeepsMetadataWithItsAudio_data()
    {
        QTest::addColumn<Command>("command");
        QTest::newRow("rename") << Command::rename;
        QTest::newRow("analysis under a tempo name") << Command::analyze;
        QTest::newRow("trim") << Command::trim;
        QTest::newRow("import") << Command::importURL;
    }
    void aStopAtAnyStepKeepsMetadataWithItsAudio()
    {
        QFETCH(Command, command);
        int steps = 0;
        {
            Scene scene;
            prepare(scene);
            run(scene, command);
            steps = int(scene.files.log().size());
        }
        QVERIFY(steps > 3);
        for (int stop = 1; stop <= steps; ++stop) {
            Scene scene;
            prepare(scene);
            scene.files.stopAt(stop);
            run(scene, command);
            const auto log = scene.files.log();
            scene.open(m_encoders, false);
            const auto at = QStringLiteral("stopped at %1 (%2)").arg(stop).arg(log.value(stop - 1));
            int originals = 0;
            for (const auto &item : scene.store->recordings()) {
                const auto name = QFileInfo(item.url).fileName();
                const auto &metadata = item.metadata;
                if (name.startsWith("Song")) {
                    QVERIFY2(metadata.source && metadata.source->appName == "URL Import", qPrintable(name + ": " + at));
                    continue;
                }
                QVERIFY2(metadata.source == browser, qPrintable(name + ": " + at));
                if (name.contains("Trim")) {
                    QVERIFY2(metadata.trimEnd == 2.0, qPrintable(name + ": " + at));
                } else {
                    QVERIFY2(metadata.createdAt == recorded, qPrintable(name + ": " + at));
                    ++originals;
                }
            }
            QVERIFY2(originals == 3, qPrintable(at));
            QVERIFY2(scene.work().isEmpty(), qPrintable(scene.work().join(", ") + ": " + at));
        }
    }

    /// The Trash takes the audio first: stopped before its sidecar follows, the sidecar waits
    /// where the audio comes back to.
    void aStoppedDeletionLeavesTheSidecarForTheAudio()
    {
        Scene scene;
        prepare(scene);
        scene.env.trash.movesLeft = 1;
        run(scene, Command::remove);
        QCOMPARE(scene.env.trash.trashed.size(), 1);
        QVERIFY(QFile::rename(scene.env.trash.folder() + "/0-Take.wav", scene.env.path("Take.wav")));
        scene.open(m_encoders, false);
        QCOMPARE(scene.item("Take.wav").metadata.source, std::optional(browser));
    }
};

QTEST_GUILESS_MAIN(PublishingTest)
#include "test_publishing.moc"
