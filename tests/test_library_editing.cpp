// Editing the library through the store: analysis and tempo names, trim and its undo,
// rename, moving recordings to the Trash with their sidecars, and edits refused while a take
// still writes the file.

#include "base/AppError.h"
#include "library/MetadataStore.h"
#include "library/UniqueFileNamer.h"
#include "store/EditingCommands.h"
#include "store/RecordingLibraryStore.h"
#include "store/StatusLine.h"
#include "store/StoreSettings.h"
#include "store/TakeLock.h"
#include "support/AudioFixtures.h"
#include "support/TaskRunner.h"
#include "support/TestEnvironment.h"
#include "support/TestFiles.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <cmath>
#include <limits>
#include <memory>

using namespace std::chrono_literals;

namespace {

const RecordingSourceContext browser{.appName = "Firefox",
                                     .windowTitle = "Drum loops",
                                     .urlString = "https://example.com/loops",
                                     .capturedAt = QDateTime(QDate(2024, 4, 2), QTime(8, 30), Qt::UTC)};

} // namespace

class LibraryEditingTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_fixtures;
    QString m_click; ///< 8 s of clicks at 120 BPM, WAV
    QString m_tone;  ///< 3 s of 440 Hz, WAV: no tempo
    QString m_m4a;   ///< 8 s of 440 Hz, M4A
    std::unique_ptr<TestEnvironment> m_env;
    std::unique_ptr<RecordingLibraryStore> m_store;

    RecordingLibraryStore &store() { return *m_store; }
    TestEnvironment &env() { return *m_env; }
    QString status() const { return m_store->statusMessage().value_or(QString()); }

    /// Copies \a fixture into the library as \a name with a sidecar created in \a year.
    QString add(const QString &fixture, const QString &name, int year = 2024)
    {
        const auto path = writeFile(env().path(name), readFile(fixture));
        auto metadata = RecordingMetadata::fresh(QDateTime(QDate(year, 1, 1), QTime(0, 0), Qt::UTC));
        metadata.source = browser;
        MetadataStore::save(metadata, path);
        return path;
    }

    void reopen()
    {
        m_store.reset();
        m_store = startStore(env().storeEnvironment());
    }

    RecordingItem item(const QString &path)
    {
        const auto all = store().recordings();
        const auto found = std::find_if(all.begin(), all.end(), [&](const auto &each) { return each.url == path; });
        return found != all.end() ? *found : RecordingItem{.url = path};
    }

    QStringList libraryFiles() const { return QDir(m_env->libraryFolder()).entryList(QDir::Files, QDir::Name); }

private slots:
    void initTestCase()
    {
        m_click = AudioFixtures::clickTrack(m_fixtures.filePath(QStringLiteral("click.wav")), 8, 120);
        m_tone = AudioFixtures::tone(m_fixtures.filePath(QStringLiteral("tone.wav")), 3);
        m_m4a = AudioFixtures::tone(m_fixtures.filePath(QStringLiteral("tone.m4a")), 8);
    }

    void init()
    {
        m_store.reset();
        m_env = std::make_unique<TestEnvironment>();
        reopen();
    }

    void tempoNames_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<double>("bpm");
        QTest::addColumn<QStringList>("existing");
        QTest::addColumn<QString>("expected");
        const QStringList none;
        QTest::newRow("new suffix") << "Loop.wav" << 127.6 << none << "Loop_bpm_128.wav";
        QTest::newRow("upper case, new tempo") << "Loop_BPM_120.wav" << 90.2 << none << "Loop_bpm_90.wav";
        QTest::newRow("dash counter") << "Loop_bpm_120-2.wav" << 90.0 << none << "Loop_bpm_90.wav";
        QTest::newRow("suffix inside") << "Loop_bpm_120 live.wav" << 90.0 << none << "Loop_bpm_120 live_bpm_90.wav";
        QTest::newRow("rounds to zero") << "Loop.wav" << 0.4 << none << "Loop.wav";
        QTest::newRow("not a number") << "Loop.wav" << std::numeric_limits<double>::quiet_NaN() << none << "Loop.wav";
        QTest::newRow("collision twice") << "Loop.wav" << 128.0 << QStringList{"Loop_bpm_128.wav", "Loop_bpm_128 2.wav"}
                                         << "Loop_bpm_128 3.wav";
        QTest::newRow("collided name keeps its tempo")
            << "Loop_bpm_128 2.wav" << 128.0 << QStringList{"Loop_bpm_128.wav"} << "Loop_bpm_128 2.wav";
        QTest::newRow("past the name limit")
            << QString(236, u'x') + ".wav" << 128.0 << none << QString(236, u'x') + ".wav";
    }

    void tempoNames()
    {
        QFETCH(QString, name);
        QFETCH(double, bpm);
        QFETCH(QStringList, existing);
        QFETCH(QString, expected);
        for (const auto &other : existing)
            writeFile(env().path(other), other.toUtf8());
        writeFile(env().path(name), "audio");
        auto metadata = RecordingMetadata::fresh(QDateTime(QDate(2020, 1, 1), QTime(0, 0), Qt::UTC));
        metadata.musicalKey = QStringLiteral("A minor");
        MetadataStore::save(metadata, env().path(name));

        const auto result = EditingCommands::renameForBPMIfNeeded(env().path(name), bpm);

        QCOMPARE(result, env().path(expected));
        QCOMPARE(readFile(result), QByteArray("audio"));
        for (const auto &other : existing) // never replaced
            QCOMPARE(readFile(env().path(other)), other.toUtf8());
        QCOMPARE(MetadataStore::load(result)->musicalKey, std::optional<QString>(QStringLiteral("A minor")));
        QCOMPARE(QFileInfo::exists(env().path(name)), name == expected);
        QVERIFY_THROWS_EXCEPTION(AppError, EditingCommands::renameForBPMIfNeeded(env().path("Gone.wav"), 120));
    }

    void analysisStoresTempoAndKeyUnderTheTempoName()
    {
        const auto loop = add(m_click, QStringLiteral("Loop.wav"), 2022);
        reopen();
        auto task = store().analyze(loop);
        QVERIFY(store().isAnalyzing());
        env().clock.advance(4s); // busy: the status outlives its delay
        QCOMPARE(status(), QStringLiteral("Analyzing Loop.wav"));
        const auto result = finish(std::move(task));

        const auto target = env().path(QStringLiteral("Loop_bpm_120.wav"));
        QCOMPARE(result, std::optional<QString>(target));
        const auto metadata = MetadataStore::load(target);
        QCOMPARE(metadata->bpm, std::optional<double>(120));
        QVERIFY(metadata->musicalKey && std::abs(*metadata->duration - 8) < 0.01);
        QCOMPARE(metadata->analyzedAt, std::optional<QDateTime>(env().clock.now()));
        QCOMPARE(metadata->createdAt.date().year(), 2022);
        QCOMPARE(metadata->source, std::optional<RecordingSourceContext>(browser));
        QCOMPARE(status(), QStringLiteral("Analysis saved"));
        QCOMPARE(store().selectedIDs(), QSet<QString>{target});
        QVERIFY(!store().isAnalyzing());
        env().clock.advance(StatusLine::dismissDelay); // no longer busy: it clears itself
        QCOMPARE(store().statusMessage(), std::nullopt);

        // Not audio: an error status, and the sidecar is untouched.
        const auto broken = add(m_tone, QStringLiteral("Broken.wav"));
        writeFile(broken, "not audio at all");
        const auto before = readFile(MetadataStore::metadataURL(broken));
        QCOMPARE(finish(store().analyze(broken)), std::nullopt);
        QVERIFY(!status().isEmpty() && !status().startsWith(QStringLiteral("Analy")));
        QCOMPARE(readFile(MetadataStore::metadataURL(broken)), before);
    }

    /// The precise analysis leaves its figures; choosing an alternative tempo or key trades it
    /// with the stored one, the tempo renaming the file with its sidecar; a standard analysis
    /// afterwards clears the figures it does not make.
    void preciseFiguresAndChosenAlternatives()
    {
        const auto loop = add(m_click, QStringLiteral("Loop.wav"), 2022);
        reopen();
        store().setAnalysisMode(AnalysisMode::precise);
        QCOMPARE(env().settings->value(StoreSettings::analysisModeKey).toString(), QStringLiteral("precise"));
        const auto analysed = finish(store().analyze(loop));
        QCOMPARE(analysed, std::optional(env().path(QStringLiteral("Loop_bpm_120.wav"))));
        auto metadata = *MetadataStore::load(*analysed);
        QVERIFY(metadata.bpm && std::abs(*metadata.bpm - 120) <= 0.3);
        QVERIFY(metadata.bpmConfidence && metadata.keyConfidence && metadata.musicalKey);
        QCOMPARE(metadata.bpmAlternatives.size(), 2);
        QCOMPARE(metadata.keyAlternatives.size(), 1);
        const auto half = *std::find_if(metadata.bpmAlternatives.cbegin(), metadata.bpmAlternatives.cend(),
                                        [](const auto &a) { return std::abs(a.bpm - 60) < 0.3; });

        const auto chosen = finish(store().chooseTempo(*analysed, half.bpm));
        const auto slow = env().path(QStringLiteral("Loop_bpm_60.wav"));
        QCOMPARE(chosen, std::optional(slow));
        QCOMPARE(status(), QStringLiteral("Tempo set to 60 BPM"));
        QCOMPARE(libraryFiles(), QStringList{QStringLiteral("Loop_bpm_60.wav")});
        QVERIFY(!QFileInfo::exists(MetadataStore::metadataURL(*analysed)));
        QCOMPARE(store().selectedIDs(), QSet<QString>{slow});
        auto after = *MetadataStore::load(slow);
        QCOMPARE(after.bpm, std::optional(half.bpm));
        QCOMPARE(after.bpmConfidence, std::optional(half.confidence));
        QVERIFY(after.bpmAlternatives.contains(TempoCandidate{*metadata.bpm, *metadata.bpmConfidence}));
        QVERIFY(!after.bpmAlternatives.contains(half));
        QCOMPARE(after.bpmAlternatives.size(), 2);
        QCOMPARE(after.analyzedAt, metadata.analyzedAt);
        QCOMPARE(after.source, std::optional<RecordingSourceContext>(browser));

        const auto runnerUp = metadata.keyAlternatives.front();
        QCOMPARE(finish(store().chooseKey(slow, runnerUp.musicalKey)), std::optional(slow));
        QCOMPARE(status(), QStringLiteral("Key set to ") + runnerUp.musicalKey);
        after = *MetadataStore::load(slow);
        QCOMPARE(after.musicalKey, std::optional(runnerUp.musicalKey));
        QCOMPARE(after.keyConfidence, std::optional(runnerUp.confidence));
        QCOMPARE(after.keyAlternatives, (QVector<KeyCandidate>{{*metadata.musicalKey, *metadata.keyConfidence}}));

        const auto standard = finish(store().analyze(slow, AnalysisMode::standard));
        QCOMPARE(standard, std::optional(env().path(QStringLiteral("Loop_bpm_120.wav"))));
        after = *MetadataStore::load(*standard);
        QCOMPARE(after.bpm, std::optional(120.0));
        QVERIFY(!after.bpmConfidence && !after.keyConfidence && after.bpmAlternatives.isEmpty()
                && after.keyAlternatives.isEmpty());
    }

    void choicesRefused_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("choice"); ///< a tempo in BPM, else a key
        QTest::addColumn<QString>("status");
        QTest::newRow("a file that went") << "Gone.wav"
                                          << "90"
                                          << "“Gone.wav” no longer exists.";
        QTest::newRow("a tempo of 0") << "Loop.wav"
                                      << "0"
                                      << "A tempo must lie between 1 and 1000 BPM.";
        QTest::newRow("not a number") << "Loop.wav"
                                      << "nan"
                                      << "A tempo must lie between 1 and 1000 BPM.";
        QTest::newRow("not a key") << "Loop.wav"
                                   << "H minor"
                                   << "“H minor” is not a key.";
    }

    /// A refused choice shows why and leaves the file and its sidecar as they were.
    void choicesRefused()
    {
        QFETCH(QString, name);
        QFETCH(QString, choice);
        QFETCH(QString, status);
        const auto loop = add(m_click, QStringLiteral("Loop.wav"));
        reopen();
        const auto sidecar = readFile(MetadataStore::metadataURL(loop));
        bool isTempo = false;
        const double bpm = choice.toDouble(&isTempo);
        const auto result = isTempo || choice == u"nan" ? finish(store().chooseTempo(env().path(name), bpm))
                                                        : finish(store().chooseKey(env().path(name), choice));
        QCOMPARE(result, std::nullopt);
        QCOMPARE(this->status(), status);
        QCOMPARE(libraryFiles(), QStringList{QStringLiteral("Loop.wav")});
        QCOMPARE(readFile(MetadataStore::metadataURL(loop)), sidecar);
    }

    // A file where the metadata folder belongs: no sidecar can be written.
    void unsavableSidecarsAreReportedAndLeaveNothingBehind()
    {
        const auto loop = writeFile(env().path(QStringLiteral("Loop.wav")), readFile(m_click));
        const auto take = writeFile(env().path(QStringLiteral("Take.m4a")), readFile(m_m4a));
        writeFile(env().path(QStringLiteral(".vespertone/metadata")), "");
        reopen();

        QVERIFY(!finish(store().analyze(loop)) && status().contains(QStringLiteral("could not be")));
        QVERIFY(!finish(store().trim(item(take), 1, 3)) && status().contains(QStringLiteral("could not be")));
        QCOMPARE(libraryFiles(), (QStringList{"Loop_bpm_120.wav", "Take.m4a"}));
        QCOMPARE(store().lastSavedTrimUndo(), std::nullopt);
    }

    void trimMakesANewFileWithItsSidecarAndAnUndo()
    {
        const auto take = add(m_m4a, QStringLiteral("Take.m4a"), 2023);
        writeFile(env().path(QStringLiteral("Take Trim.m4a")), "someone else's");
        reopen();
        const auto before = readFile(take);

        const auto trimmed = finish(store().trim(item(take), 2, 6));

        QCOMPARE(trimmed, std::optional<QString>(env().path(QStringLiteral("Take Trim 2.m4a"))));
        QCOMPARE(readFile(take), before);
        const auto metadata = MetadataStore::load(*trimmed);
        QVERIFY(std::abs(*metadata->duration - 4) < 0.05);
        QCOMPARE(metadata->trimEnd, std::optional<double>(4));
        QCOMPARE(metadata->source, std::optional<RecordingSourceContext>(browser));
        QCOMPARE(status(), QStringLiteral("Trim saved. Undo available."));
        QCOMPARE(store().lastSavedTrimUndo(), std::optional(SavedTrimUndo{take, *trimmed}));
        QVERIFY(!store().canUndoSavedTrim(item(take)));

        // A renamed trim keeps its undo; the undo trashes it and selects the original.
        const auto renamed = finish(store().rename(item(*trimmed), QStringLiteral("Short")));
        QVERIFY(store().canUndoSavedTrim(item(*renamed)));
        finish(store().undoSavedTrim(item(*renamed)));
        QCOMPARE(env().trash.trashed, (QStringList{*renamed, MetadataStore::metadataURL(*renamed)}));
        QCOMPARE(status(), QStringLiteral("Trim undone"));
        QCOMPARE(store().selectedIDs(), QSet<QString>{take});
        finish(store().undoSavedTrim(item(take)));
        QCOMPARE(status(), QStringLiteral("No saved trim to undo."));

        // A range past either end states the length actually cut.
        const auto edges = finish(store().trim(item(take), -1, 99));
        QCOMPARE(MetadataStore::load(*edges)->trimEnd, std::optional<double>(item(take).duration));
        QVERIFY(finish(store().deleteRecordings({item(*edges)})));
        // A range too short leaves no reserved name behind.
        QCOMPARE(finish(store().trim(item(take), 2, 2)), std::nullopt);
        QCOMPARE(libraryFiles(), (QStringList{"Take Trim.m4a", "Take.m4a"}));
    }

    void rename_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("expected"); ///< empty: refused
        QTest::addColumn<QString>("status");
        const auto row = [](const char *tag, QString name, QString expected, QString status) {
            QTest::newRow(tag) << name << expected << status;
        };
        row("sanitised", "  a/b:c\nd ", "a b c d.wav", "Renamed to a b c d.wav");
        row("extension kept", "Take.m4a", "Take.m4a.wav", "Renamed to Take.m4a.wav");
        row("collision", "Drums", "Drums 2.wav", "Renamed to Drums 2.wav");
        row("other extension", "Bass", "Bass.wav", "Renamed to Bass.wav");
        row("leading dot", ".secret", "secret.wav", "Renamed to secret.wav");
        row("same name", " Take\n", "Take.wav", "");
        row("only dots", "...", "", "Enter a name before renaming.");
        row("sidecar past the name limit", QString(240, u'n'), "", "too long");
    }

    void rename()
    {
        QFETCH(QString, name);
        QFETCH(QString, expected);
        QFETCH(QString, status);
        const auto take = add(m_tone, QStringLiteral("Take.wav"));
        writeFile(env().path(QStringLiteral("Drums.wav")), "drums");
        writeFile(env().path(QStringLiteral("Bass.m4a")), "bass");
        reopen();
        const auto before = readFile(take);

        const auto result = finish(store().rename(item(take), name));

        QCOMPARE(result, expected.isEmpty() ? std::nullopt : std::optional(env().path(expected)));
        QVERIFY(this->status().contains(status));
        QCOMPARE(readFile(env().path(QStringLiteral("Drums.wav"))), QByteArray("drums"));
        const auto kept = expected.isEmpty() ? take : env().path(expected);
        QCOMPARE(readFile(kept), before);
        QCOMPARE(MetadataStore::load(kept)->source, std::optional<RecordingSourceContext>(browser));
        QCOMPARE(QFileInfo::exists(take), kept == take);
    }

    void deleteMovesAudioThenSidecarAndStopsAtTheFirstFailure()
    {
        const auto a = add(m_tone, QStringLiteral("A.wav"), 2021);
        const auto b = add(m_tone, QStringLiteral("B.wav"), 2022);
        const auto c = add(m_tone, QStringLiteral("C.wav"), 2023);
        reopen();
        env().trash.failingPaths << b;
        const auto sidecarB = readFile(MetadataStore::metadataURL(b));

        QVERIFY(!finish(store().deleteRecordings({item(a), item(b), item(c)})));

        QVERIFY(status().contains(QStringLiteral("B.wav")));
        // Nothing of the failed recording went, so no copy of it is left in the Trash.
        QCOMPARE(env().trash.trashed, (QStringList{a, MetadataStore::metadataURL(a)}));
        QCOMPARE(readFile(MetadataStore::metadataURL(b)), sidecarB);
        QCOMPARE(libraryFiles(), (QStringList{"B.wav", "C.wav"}));
        QCOMPARE(store().recordings().size(), 2);

        env().trash.failingPaths.clear();
        QVERIFY(finish(store().deleteRecordings({item(b), item(c)})));
        QCOMPARE(status(), QStringLiteral("Moved 2 recordings to Trash"));
        QVERIFY(store().recordings().isEmpty() && store().selectedIDs().isEmpty());
    }

    void editsOfATakeStillBeingWrittenAreRefused()
    {
        const auto take = add(m_m4a, QStringLiteral("Vespertone 2024-05-01 10.00.00.m4a"));
        reopen();
        const auto before = readFile(take);
        auto lock = TakeLock::acquire(take);
        QVERIFY(lock);
        const auto refused = QStringLiteral("“Vespertone 2024-05-01 10.00.00.m4a” is still being recorded.");

        QVERIFY(!finish(store().rename(item(take), QStringLiteral("Mine"))) && status() == refused);
        QVERIFY(!finish(store().trim(item(take), 1, 2)) && status() == refused);
        QVERIFY(!finish(store().analyze(take)) && status() == refused);
        QVERIFY(!finish(store().chooseTempo(take, 90)) && status() == refused);
        QVERIFY(!finish(store().chooseKey(take, QStringLiteral("A minor"))) && status() == refused);
        QVERIFY(!finish(store().deleteRecordings({item(take)})) && status() == refused);
        QCOMPARE(libraryFiles(), QStringList{QFileInfo(take).fileName()});
        QCOMPARE(readFile(take), before);
        QVERIFY(env().trash.trashed.isEmpty());

        lock.reset(); // the take has ended
        QVERIFY(finish(store().rename(item(take), QStringLiteral("Mine"))));
    }

    /// A cancelled trim leaves no file and no work file; a cancelled analysis renames nothing and
    /// stores nothing. The cancellation is asked for before the work's first result arrives.
    void cancelledWorkStoresNothing()
    {
        const auto take = add(m_m4a, QStringLiteral("Take.m4a"));
        const auto loop = add(m_click, QStringLiteral("Loop.wav"));
        reopen();
        const auto sidecar = readFile(MetadataStore::metadataURL(loop));

        QTimer::singleShot(0, m_store.get(), [this] { store().cancelWork(); });
        QCOMPARE(finish(store().trim(item(take), 1, 7)), std::nullopt);
        QCOMPARE(status(), QStringLiteral("The trim was cancelled."));
        QTimer::singleShot(0, m_store.get(), [this] { store().cancelWork(); });
        QCOMPARE(finish(store().analyze(loop)), std::nullopt);
        QCOMPARE(status(), QStringLiteral("The analysis was cancelled."));

        QCOMPARE(libraryFiles(), (QStringList{"Loop.wav", "Take.m4a"}));
        QCOMPARE(readFile(MetadataStore::metadataURL(loop)), sidecar);
        QCOMPARE(entriesOf(UniqueFileNamer::workFolder(env().libraryFolder())), QStringList());
        QVERIFY(!store().isTrimming() && !store().isAnalyzing());
        // The next trim is not cancelled by the last request.
        QVERIFY(finish(store().trim(item(take), 1, 2)));
    }
};

QTEST_GUILESS_MAIN(LibraryEditingTest)
#include "test_library_editing.moc"
