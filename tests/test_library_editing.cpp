// Editing the library through the store: analysis and tempo names, trim and its undo,
// rename, and moving recordings to the Trash with their sidecars.

#include "analysis/AudioAnalyzer.h"
#include "base/AppError.h"
#include "library/MetadataStore.h"
#include "media/AudioTrimmer.h"
#include "media/MP3EncoderService.h"
#include "platform/FreedesktopTrash.h"
#include "store/RecordingLibraryStore.h"
#include "support/AudioFixtures.h"
#include "support/TestEnvironment.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTest>
#include <QUrl>
#include <qcoro/qcorotask.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>

using namespace std::chrono_literals;

namespace {

std::unique_ptr<RecordingLibraryStore> openStore(const StoreEnvironment &environment)
{
    auto store = std::make_unique<RecordingLibraryStore>(environment);
    QSignalSpy loaded(store.get(), &RecordingLibraryStore::refreshFinished);
    if (!loaded.wait(10000))
        qFatal("the initial scan did not finish");
    return store;
}

/// An item that only names its file, as a view holding a stale copy would.
RecordingItem bare(const QString &path)
{
    RecordingItem item;
    item.url = path;
    return item;
}

QByteArray sha(const QByteArray &bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha1);
}

QByteArray digest(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? sha(file.readAll()) : QByteArray();
}

void writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(content);
}

RecordingSourceContext browserSource()
{
    return {.appName = "Firefox",
            .bundleIdentifier = std::nullopt,
            .windowTitle = "Drum loops",
            .urlString = "https://example.com/loops",
            .capturedAt = QDateTime(QDate(2024, 4, 2), QTime(8, 30), Qt::UTC)};
}

/// Every status text the store shows, in order.
class StatusLog : public QObject {
public:
    explicit StatusLog(RecordingLibraryStore &store)
    {
        connect(&store, &RecordingLibraryStore::statusMessageChanged, this, [this, &store] {
            if (store.statusMessage())
                texts << *store.statusMessage();
        });
    }
    QStringList texts;
};

} // namespace

class LibraryEditingTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_fixtures;
    QString m_click;   ///< 8 s of clicks at 120 BPM, WAV
    QString m_tone;    ///< 3 s of 440 Hz, WAV: no tempo
    QString m_toneM4A; ///< 8 s of 440 Hz, M4A

    std::unique_ptr<TestEnvironment> m_env;
    std::unique_ptr<RecordingLibraryStore> m_store;

    RecordingLibraryStore &store() { return *m_store; }
    TestEnvironment &env() { return *m_env; }

    /// Copies \a fixture into the library as \a name with a sidecar created in \a year.
    QString add(const QString &fixture, const QString &name, int year = 2024,
                std::optional<RecordingSourceContext> source = std::nullopt)
    {
        const auto path = env().path(name);
        if (!QFile::copy(fixture, path))
            qFatal("cannot copy %s", qPrintable(name));
        auto metadata = RecordingMetadata::fresh(QDateTime(QDate(year, 1, 1), QTime(0, 0), Qt::UTC));
        metadata.source = source;
        MetadataStore::save(metadata, path);
        return path;
    }

    [[nodiscard]] QString status() const { return m_store->statusMessage().value_or(QString()); }

    void reopen()
    {
        m_store.reset();
        m_store = openStore(env().storeEnvironment());
    }

    RecordingItem item(const QString &path)
    {
        for (const auto &recording : store().recordings())
            if (recording.url == path)
                return recording;
        qFatal("%s is not listed", qPrintable(path));
    }

    [[nodiscard]] bool listed(const QString &path)
    {
        return std::ranges::any_of(store().recordings(), [&](const auto &r) { return r.url == path; });
    }

    /// Trims Take.m4a from 2 to 6 s; returns the trimmed file.
    QString trimTake()
    {
        const auto take = add(m_toneM4A, QStringLiteral("Take.m4a"), 2023, browserSource());
        reopen();
        return QCoro::waitFor(store().trim(item(take), 2, 6)).value_or(QString());
    }

private slots:
    void initTestCase()
    {
        m_click = AudioFixtures::clickTrack(m_fixtures.filePath(QStringLiteral("click.wav")), 8, 120);
        m_tone = AudioFixtures::tone(m_fixtures.filePath(QStringLiteral("tone.wav")), 3);
        m_toneM4A = AudioFixtures::tone(m_fixtures.filePath(QStringLiteral("tone.m4a")), 8);
    }

    void init()
    {
        m_store.reset();
        m_env = std::make_unique<TestEnvironment>();
        reopen();
    }

    void ownsItsServices()
    {
        QCOMPARE(store().analyzer()->parent(), &store());
        QCOMPARE(store().trimmer()->parent(), &store());
        QCOMPARE(store().mp3Encoder()->parent(), &store());

        // The encoder comes from the environment's folder.
        auto environment = env().storeEnvironment();
        environment.encodersFolder = env().m_root.filePath(QStringLiteral("Encoders"));
        QDir().mkpath(environment.encodersFolder);
        auto withFolder = openStore(environment);
        QVERIFY(!withFolder->mp3Encoder()->isAvailable());
        const auto lame = environment.encodersFolder + QStringLiteral("/lame");
        writeFile(lame, "#!/bin/sh\nexit 0\n");
        QFile::setPermissions(lame, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QVERIFY(withFolder->mp3Encoder()->isAvailable());
    }

    void tempoNames_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<double>("bpm");
        QTest::addColumn<QStringList>("existing");
        QTest::addColumn<QString>("expected");
        const QStringList none;
        QTest::newRow("new suffix") << "Loop.wav" << 127.6 << none << "Loop_bpm_128.wav";
        QTest::newRow("same tempo") << "Loop_bpm_128.wav" << 127.9 << none << "Loop_bpm_128.wav";
        QTest::newRow("new tempo") << "Loop_bpm_120.wav" << 90.2 << none << "Loop_bpm_90.wav";
        QTest::newRow("upper case suffix") << "Loop_BPM_120.wav" << 90.2 << none << "Loop_bpm_90.wav";
        QTest::newRow("upper case, same tempo") << "Loop_BPM_90.wav" << 90.2 << none << "Loop_bpm_90.wav";
        QTest::newRow("fraction") << "Loop_bpm_120.5.wav" << 90.2 << none << "Loop_bpm_90.wav";
        QTest::newRow("underscore counter") << "Loop_bpm_120_2.wav" << 90.0 << none << "Loop_bpm_90.wav";
        QTest::newRow("dash counter") << "Loop_bpm_120-2.wav" << 90.0 << none << "Loop_bpm_90.wav";
        QTest::newRow("suffix not at the end")
            << "Loop_bpm_120 live.wav" << 90.0 << none << "Loop_bpm_120 live_bpm_90.wav";
        QTest::newRow("half rounds up") << "Loop.m4a" << 127.5 << none << "Loop_bpm_128.m4a";
        QTest::newRow("rounds to zero") << "Loop.wav" << 0.4 << none << "Loop.wav";
        QTest::newRow("rounds to one") << "Loop.wav" << 0.5 << none << "Loop_bpm_1.wav";
        QTest::newRow("negative") << "Loop.wav" << -120.0 << none << "Loop.wav";
        QTest::newRow("not a number") << "Loop.wav" << std::numeric_limits<double>::quiet_NaN() << none << "Loop.wav";
        QTest::newRow("infinite") << "Loop.wav" << std::numeric_limits<double>::infinity() << none << "Loop.wav";
        QTest::newRow("collision") << "Loop.wav" << 128.0 << QStringList{"Loop_bpm_128.wav"} << "Loop_bpm_128 2.wav";
        QTest::newRow("collision twice") << "Loop.wav" << 128.0 << QStringList{"Loop_bpm_128.wav", "Loop_bpm_128 2.wav"}
                                         << "Loop_bpm_128 3.wav";
        QTest::newRow("collided name keeps its tempo")
            << "Loop_bpm_128 2.wav" << 128.0 << QStringList{"Loop_bpm_128.wav"} << "Loop_bpm_128 2.wav";
        QTest::newRow("collided name, new tempo")
            << "Loop_bpm_128 2.wav" << 90.0 << QStringList{"Loop_bpm_128.wav"} << "Loop_bpm_90.wav";
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

        const auto result = RecordingLibraryStore::renameForBPMIfNeeded(env().path(name), bpm);

        QCOMPARE(result, env().path(expected));
        QCOMPARE(digest(result), sha("audio"));
        for (const auto &other : existing) // never replaced
            QCOMPARE(digest(env().path(other)), sha(other.toUtf8()));
        const auto sidecar = MetadataStore::load(result);
        QVERIFY(sidecar);
        QCOMPARE(sidecar->musicalKey, std::optional<QString>(QStringLiteral("A minor")));
        if (name != expected) {
            QVERIFY(!QFileInfo::exists(env().path(name)));
            QVERIFY(!QFileInfo::exists(MetadataStore::metadataURL(env().path(name))));
        }
    }

    void tempoRenameFailureIsThrown()
    {
        QVERIFY_THROWS_EXCEPTION(AppError, RecordingLibraryStore::renameForBPMIfNeeded(env().path("Gone.wav"), 120));
    }

    void analysisStoresTempoAndKeyUnderTheTempoName()
    {
        const auto loop = add(m_click, QStringLiteral("Loop.wav"), 2022, browserSource());
        auto stored = *MetadataStore::load(loop);
        stored.bpm = 60;
        stored.trimStart = 1;
        stored.trimEnd = 7;
        MetadataStore::save(stored, loop);
        reopen();
        StatusLog log(store());
        QSignalSpy busy(&store(), &RecordingLibraryStore::isAnalyzingChanged);

        auto task = store().analyze(loop);
        QVERIFY(store().isAnalyzing());
        // Busy: the status outlives its 3.6 s.
        env().clock.advance(4s);
        QCOMPARE(status(), QStringLiteral("Analyzing Loop.wav"));
        const auto result = QCoro::waitFor(task);

        const auto target = env().path(QStringLiteral("Loop_bpm_120.wav"));
        QCOMPARE(result, std::optional<QString>(target));
        QVERIFY(!QFileInfo::exists(loop));
        QVERIFY(!QFileInfo::exists(MetadataStore::metadataURL(loop)));
        const auto metadata = MetadataStore::load(target);
        QVERIFY(metadata);
        QCOMPARE(metadata->bpm, std::optional<double>(120));
        QVERIFY(metadata->musicalKey);
        QVERIFY(std::abs(*metadata->duration - 8) < 0.01);
        QCOMPARE(metadata->analyzedAt, std::optional<QDateTime>(env().clock.now()));
        QCOMPARE(metadata->createdAt, stored.createdAt);
        QCOMPARE(metadata->trimStart, std::optional<double>(1));
        QCOMPARE(metadata->trimEnd, std::optional<double>(7));
        QCOMPARE(metadata->source, std::optional<RecordingSourceContext>(browserSource()));

        QCOMPARE(log.texts, (QStringList{"Analyzing Loop.wav", "Analysis saved"}));
        QCOMPARE(busy.count(), 2);
        QVERIFY(!store().isAnalyzing());
        QCOMPARE(store().selectedIDs(), QSet<QString>{target});
        QVERIFY(listed(target));

        // Not busy any more: the last text clears itself.
        env().clock.advance(RecordingLibraryStore::statusDismissDelay);
        QCOMPARE(store().statusMessage(), std::nullopt);
    }

    void analysisWithoutTempoAndFailedAnalyses()
    {
        const auto tone = add(m_tone, QStringLiteral("Tone.wav"));
        auto stored = *MetadataStore::load(tone);
        stored.bpm = 99;
        MetadataStore::save(stored, tone);
        QCOMPARE(QCoro::waitFor(store().analyze(tone)), std::optional<QString>(tone));
        const auto metadata = MetadataStore::load(tone);
        QCOMPARE(metadata->bpm, std::nullopt); // an earlier tempo is replaced by none
        QVERIFY(std::abs(*metadata->duration - 3) < 0.01);
        QVERIFY(metadata->analyzedAt);
        QCOMPARE(status(), QStringLiteral("Analysis saved"));

        // Not audio: an error status and nothing changed.
        const auto broken = env().path(QStringLiteral("Broken.wav"));
        writeFile(broken, "not audio at all");
        auto brokenMetadata = RecordingMetadata::fresh(QDateTime(QDate(2021, 1, 1), QTime(0, 0), Qt::UTC));
        brokenMetadata.bpm = 100;
        MetadataStore::save(brokenMetadata, broken);
        const auto before = digest(MetadataStore::metadataURL(broken));
        QCOMPARE(QCoro::waitFor(store().analyze(broken)), std::nullopt);
        QVERIFY(!status().isEmpty());
        QVERIFY(!status().startsWith(QStringLiteral("Analy")));
        QVERIFY(!store().isAnalyzing());
        QCOMPARE(digest(MetadataStore::metadataURL(broken)), before);
        QVERIFY(QFileInfo::exists(broken));

        // Removed while being analysed: no sidecar is written for it.
        const auto gone = env().path(QStringLiteral("Gone.wav"));
        QFile::copy(m_tone, gone);
        auto task = store().analyze(gone);
        QFile::remove(gone);
        QCOMPARE(QCoro::waitFor(task), std::nullopt);
        QVERIFY(!QFileInfo::exists(MetadataStore::metadataURL(gone)));
    }

    // A file where the metadata folder belongs: no sidecar can be written.
    void unsavableSidecars()
    {
        const auto loop = env().path(QStringLiteral("Loop.wav"));
        const auto take = env().path(QStringLiteral("Take.m4a"));
        QFile::copy(m_click, loop);
        QFile::copy(m_toneM4A, take);
        QDir().mkpath(env().path(QStringLiteral(".vespertone")));
        writeFile(env().path(QStringLiteral(".vespertone/metadata")), "");
        reopen();

        // Analysis keeps the tempo name.
        QCOMPARE(QCoro::waitFor(store().analyze(loop)), std::nullopt);
        QVERIFY(QFileInfo::exists(env().path(QStringLiteral("Loop_bpm_120.wav"))));
        QVERIFY(status().contains(QStringLiteral("could not be")));
        QVERIFY(!store().isAnalyzing());

        // A trim is removed again.
        QCOMPARE(QCoro::waitFor(store().trim(item(take), 1, 3)), std::nullopt);
        QVERIFY(!QFileInfo::exists(env().path(QStringLiteral("Take Trim.m4a"))));
        QCOMPARE(store().lastSavedTrimUndo(), std::nullopt);
        QVERIFY(status().contains(QStringLiteral("could not be")));
        QCOMPARE(store().recordings().size(), 2);
    }

    void trimMakesANewFileWithItsOwnSidecarAndAnUndo()
    {
        const auto take = env().path(QStringLiteral("Take.m4a"));
        const auto trimmed = env().path(QStringLiteral("Take Trim.m4a"));
        add(m_toneM4A, QStringLiteral("Take.m4a"), 2023, browserSource());
        reopen();
        const auto before = digest(take);
        StatusLog log(store());
        QSignalSpy busy(&store(), &RecordingLibraryStore::isTrimmingChanged);

        auto task = store().trim(item(take), 2, 6);
        QVERIFY(store().isTrimming());
        QCOMPARE(QCoro::waitFor(task), std::optional<QString>(trimmed));

        QCOMPARE(digest(take), before);
        const auto metadata = MetadataStore::load(trimmed);
        QVERIFY(metadata);
        QCOMPARE(metadata->createdAt, env().clock.now());
        QCOMPARE(metadata->trimStart, std::optional<double>(0));
        QCOMPARE(metadata->trimEnd, std::optional<double>(4));
        QVERIFY(std::abs(*metadata->duration - 4) < 0.05); // measured by the analysis
        QCOMPARE(metadata->source, std::optional<RecordingSourceContext>(browserSource()));
        QCOMPARE(metadata->bpm, std::nullopt);
        QVERIFY(metadata->analyzedAt);

        QCOMPARE(log.texts,
                 (QStringList{"Saving trim", "Trim saved", "Analyzing Take Trim.m4a", "Analysis saved",
                              "Trim saved. Undo available."}));
        QCOMPARE(busy.count(), 2);
        QCOMPARE(store().selectedIDs(), QSet<QString>{trimmed});
        QCOMPARE(store().lastSavedTrimUndo(), std::optional<SavedTrimUndo>({take, trimmed}));
        QVERIFY(store().canUndoSavedTrim(item(trimmed)));
        QVERIFY(!store().canUndoSavedTrim(item(take)));

        // An empty range cannot be cut: no file, and the earlier undo is given up all the same.
        const auto files = QDir(env().libraryFolder()).entryList(QDir::Files);
        QCOMPARE(QCoro::waitFor(store().trim(item(take), 5, 5)), std::nullopt);
        QCOMPARE(store().lastSavedTrimUndo(), std::nullopt);
        QVERIFY(!store().isTrimming());
        QVERIFY(!status().isEmpty());
        QVERIFY(!status().startsWith(QStringLiteral("Trim saved")));
        QCOMPARE(QDir(env().libraryFolder()).entryList(QDir::Files), files);
    }

    void trimOfALoopGetsItsTempoNameInTheUndo()
    {
        const auto beat = add(m_click, QStringLiteral("Beat.wav"));
        reopen();
        const auto final = QCoro::waitFor(store().trim(item(beat), 0, 6));
        const auto expected = env().path(QStringLiteral("Beat Trim_bpm_120.m4a"));
        QCOMPARE(final, std::optional<QString>(expected));
        QCOMPARE(store().lastSavedTrimUndo()->trimmedURL, expected);
        QCOMPARE(MetadataStore::load(expected)->trimEnd, std::optional<double>(6));
        QCOMPARE(store().selectedIDs(), QSet<QString>{expected});
    }

    void undoIsOfferedOnTheTrimOnlyAndSurvivesAFailure()
    {
        const auto trimmed = trimTake();
        const auto take = env().path(QStringLiteral("Take.m4a"));
        QCoro::waitFor(store().undoSavedTrim(item(take)));
        QCOMPARE(status(), QStringLiteral("No saved trim to undo."));
        QVERIFY(env().trash.trashed.isEmpty());

        // The Trash refuses the trim: the record and the sidecar stay.
        const auto sidecar = MetadataStore::load(trimmed);
        env().trash.failingPaths << trimmed;
        QCoro::waitFor(store().undoSavedTrim(item(trimmed)));
        QVERIFY(status().contains(QStringLiteral("Take Trim.m4a")));
        QVERIFY(store().lastSavedTrimUndo());
        QVERIFY(QFileInfo::exists(trimmed));
        QCOMPARE(MetadataStore::load(trimmed), sidecar);

        env().trash.failingPaths.clear();
        const auto earlier = env().trash.trashed.size();
        QCoro::waitFor(store().undoSavedTrim(item(trimmed)));
        QCOMPARE(env().trash.trashed.mid(earlier), (QStringList{MetadataStore::metadataURL(trimmed), trimmed}));
        QVERIFY(!QFileInfo::exists(trimmed));
        QCOMPARE(store().lastSavedTrimUndo(), std::nullopt);
        QCOMPARE(status(), QStringLiteral("Trim undone"));
        QCOMPARE(store().selectedIDs(), QSet<QString>{take});
        QVERIFY(!listed(trimmed));

        // Only once.
        QCoro::waitFor(store().undoSavedTrim(bare(trimmed)));
        QCOMPARE(status(), QStringLiteral("No saved trim to undo."));
    }

    void undoWithoutTheOriginalFallsBackToTheNewest()
    {
        const auto trimmed = trimTake();
        add(m_tone, QStringLiteral("Newest.wav"), 2030);
        QFile::remove(env().path(QStringLiteral("Take.m4a")));
        QCoro::waitFor(store().undoSavedTrim(item(trimmed)));
        QCOMPARE(store().selectedIDs(), QSet<QString>{env().path(QStringLiteral("Newest.wav"))});
    }

    void deletingEitherFileOfTheUndoClearsIt_data()
    {
        QTest::addColumn<bool>("original");
        QTest::newRow("the original") << true;
        QTest::newRow("the trim in a selection") << false;
    }

    void deletingEitherFileOfTheUndoClearsIt()
    {
        QFETCH(bool, original);
        const auto trimmed = trimTake();
        const auto other = add(m_tone, QStringLiteral("Other.wav"));
        const auto unrelated = add(m_tone, QStringLiteral("Unrelated.wav"), 2010);
        reopen();
        // The reopened store has no undo: make one again.
        const auto take = env().path(QStringLiteral("Take.m4a"));
        const auto firstTrim = digest(trimmed);
        const auto second = *QCoro::waitFor(store().trim(item(take), 1, 2));
        QCOMPARE(second, env().path(QStringLiteral("Take Trim 2.m4a"))); // the first trim is kept
        QCOMPARE(digest(trimmed), firstTrim);
        // Deleting an unrelated recording keeps the undo.
        QVERIFY(QCoro::waitFor(store().deleteRecordings({item(unrelated)})));
        QVERIFY(store().canUndoSavedTrim(item(second)));

        QVector<RecordingItem> doomed = original ? QVector{item(take)} : QVector{item(other), item(second)};
        QVERIFY(QCoro::waitFor(store().deleteRecordings(doomed)));
        QCOMPARE(store().lastSavedTrimUndo(), std::nullopt);
        if (!original) {
            QCoro::waitFor(store().undoSavedTrim(bare(second)));
            QCOMPARE(status(), QStringLiteral("No saved trim to undo."));
        }
        QVERIFY(QFileInfo::exists(trimmed));
    }

    void renamesFollowTheUndo()
    {
        const auto trimmed = trimTake();
        auto renamedTrim = QCoro::waitFor(store().rename(item(trimmed), QStringLiteral("Chorus")));
        auto renamedTake =
            QCoro::waitFor(store().rename(item(env().path(QStringLiteral("Take.m4a"))), QStringLiteral("Source")));
        QCOMPARE(store().lastSavedTrimUndo(),
                 std::optional<SavedTrimUndo>(
                     {env().path(QStringLiteral("Source.m4a")), env().path(QStringLiteral("Chorus.m4a"))}));
        QCOMPARE(renamedTrim, std::optional<QString>(env().path(QStringLiteral("Chorus.m4a"))));
        QCOMPARE(renamedTake, std::optional<QString>(env().path(QStringLiteral("Source.m4a"))));
        QVERIFY(store().canUndoSavedTrim(item(*renamedTrim)));

        QCoro::waitFor(store().undoSavedTrim(item(*renamedTrim)));
        QCOMPARE(store().selectedIDs(), QSet<QString>{*renamedTake});
    }

    void rename_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QStringList>("existing");
        QTest::addColumn<QString>("expected");
        const QStringList none;
        QTest::newRow("sanitised") << "Take.wav"
                                   << "  a/b  " << none << "a b.wav";
        QTest::newRow("colons and newlines") << "Take.wav"
                                             << "x:y\nz" << none << "x y z.wav";
        QTest::newRow("extension kept") << "Take.m4a"
                                        << "Take.wav" << none << "Take.wav.m4a";
        QTest::newRow("collision") << "Take.wav"
                                   << "Drums" << QStringList{"Drums.wav"} << "Drums 2.wav";
        QTest::newRow("other extension is no collision") << "Take.wav"
                                                         << "Drums" << QStringList{"Drums.m4a"} << "Drums.wav";
        QTest::newRow("leading dot would hide it") << "Take.wav"
                                                   << ".secret" << none << "secret.wav";
        QTest::newRow("unicode") << "Take.wav"
                                 << "Überfall – 2" << none << "Überfall – 2.wav";
    }

    void rename()
    {
        QFETCH(QString, file);
        QFETCH(QString, name);
        QFETCH(QStringList, existing);
        QFETCH(QString, expected);
        const auto source = add(m_tone, file, 2024, browserSource());
        for (const auto &other : existing)
            writeFile(env().path(other), other.toUtf8());
        reopen();
        const auto before = digest(source);

        const auto result = QCoro::waitFor(store().rename(item(source), name));

        const auto target = env().path(expected);
        QCOMPARE(result, std::optional<QString>(target));
        QVERIFY(!QFileInfo::exists(source));
        QCOMPARE(digest(target), before);
        for (const auto &other : existing)
            QCOMPARE(digest(env().path(other)), sha(other.toUtf8()));
        QCOMPARE(MetadataStore::load(target)->source, std::optional<RecordingSourceContext>(browserSource()));
        QVERIFY(!QFileInfo::exists(MetadataStore::metadataURL(source)));
        QCOMPARE(status(), QStringLiteral("Renamed to ") + expected);
        QCOMPARE(store().selectedIDs(), QSet<QString>{target});
    }

    void renameRefusals_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<std::optional<QString>>("status");
        QTest::newRow("same name") << "Take" << std::optional<QString>();
        QTest::newRow("same name after trimming") << " Take\n" << std::optional<QString>();
        QTest::newRow("blank") << "   " << std::optional<QString>("Enter a name before renaming.");
        QTest::newRow("only slashes") << "///" << std::optional<QString>("Enter a name before renaming.");
        QTest::newRow("only dots") << "..." << std::optional<QString>("Enter a name before renaming.");
    }

    void renameRefusals()
    {
        QFETCH(QString, name);
        QFETCH(std::optional<QString>, status);
        const auto take = add(m_tone, QStringLiteral("Take.wav"));
        reopen();
        QSignalSpy statusSpy(&store(), &RecordingLibraryStore::statusMessageChanged);
        QSignalSpy refreshes(&store(), &RecordingLibraryStore::refreshFinished);

        const auto result = QCoro::waitFor(store().rename(item(take), name));

        QCOMPARE(result, status ? std::nullopt : std::optional<QString>(take));
        QCOMPARE(store().statusMessage(), status);
        QCOMPARE(statusSpy.count(), status ? 1 : 0);
        QCOMPARE(refreshes.count(), 0);
        QCOMPARE(QDir(env().libraryFolder()).entryList(QDir::Files), QStringList{"Take.wav"});
    }

    void promptRenameAndAVanishedFile()
    {
        const auto take = add(m_tone, QStringLiteral("Take.wav"));
        reopen();
        env().dialogs.textAnswers = {QStringLiteral("  New Name \n")};
        QCoro::waitFor(store().promptRename(item(take)));
        QCOMPARE(env().dialogs.asked, QStringList{"Rename Recording"});
        const auto renamed = env().path(QStringLiteral("New Name.wav"));
        QCOMPARE(store().selectedIDs(), QSet<QString>{renamed});
        env().dialogs.textAnswers = {std::nullopt}; // cancelled
        QCoro::waitFor(store().promptRename(item(renamed)));
        QVERIFY(QFileInfo::exists(renamed));

        const auto listedItem = item(renamed);
        QFile::remove(renamed);
        QCOMPARE(QCoro::waitFor(store().rename(listedItem, QStringLiteral("New"))), std::nullopt);
        QVERIFY(status().contains(QStringLiteral("New Name.wav")));
        QVERIFY(!QFileInfo::exists(env().path(QStringLiteral("New.wav"))));
        // The sidecar stays with the name it belongs to.
        QVERIFY(QFileInfo::exists(MetadataStore::metadataURL(renamed)));
    }

    void deleteMovesSidecarThenAudio()
    {
        const auto a = add(m_tone, QStringLiteral("A.wav"), 2021);
        const auto b = add(m_tone, QStringLiteral("B.wav"), 2022);
        const auto c = add(m_tone, QStringLiteral("C.wav"), 2023);
        const auto kept = add(m_tone, QStringLiteral("Kept.wav"), 2020);
        reopen();
        QVERIFY(QCoro::waitFor(store().deleteRecordings({item(c), item(a), item(b)})));
        QCOMPARE(env().trash.trashed,
                 (QStringList{MetadataStore::metadataURL(c), c, MetadataStore::metadataURL(a), a,
                              MetadataStore::metadataURL(b), b}));
        QCOMPARE(status(), QStringLiteral("Moved 3 recordings to Trash"));
        QCOMPARE(store().recordings().size(), 1);
        QCOMPARE(store().selectedIDs(), QSet<QString>{kept});

        QVERIFY(QCoro::waitFor(store().deleteRecordings({item(kept)})));
        QCOMPARE(status(), QStringLiteral("Moved Kept.wav to Trash"));
        QVERIFY(store().recordings().isEmpty());
        QVERIFY(store().selectedIDs().isEmpty());
        QSignalSpy statusSpy(&store(), &RecordingLibraryStore::statusMessageChanged);
        QVERIFY(QCoro::waitFor(store().deleteRecordings({})));
        QCOMPARE(statusSpy.count(), 0);
    }

    void deleteStopsAtTheFirstAudioFailure()
    {
        const auto a = add(m_tone, QStringLiteral("A.wav"), 2021, browserSource());
        const auto b = add(m_tone, QStringLiteral("B.wav"), 2022, browserSource());
        const auto c = add(m_tone, QStringLiteral("C.wav"), 2023, browserSource());
        reopen();
        env().trash.failingPaths << b;
        const auto sidecarB = MetadataStore::load(b);
        const auto sidecarC = digest(MetadataStore::metadataURL(c));

        QVERIFY(!QCoro::waitFor(store().deleteRecordings({item(a), item(b), item(c)})));

        QVERIFY(status().contains(QStringLiteral("B.wav")));
        QVERIFY(!QFileInfo::exists(a));
        // The failed recording keeps its audio and its sidecar; the later one is untouched.
        QVERIFY(QFileInfo::exists(b));
        QCOMPARE(MetadataStore::load(b), sidecarB);
        QVERIFY(QFileInfo::exists(c));
        QCOMPARE(digest(MetadataStore::metadataURL(c)), sidecarC);
        QCOMPARE(env().trash.trashed, (QStringList{MetadataStore::metadataURL(a), a, MetadataStore::metadataURL(b)}));
        // What went is no longer listed.
        QVERIFY(!listed(a));
        QVERIFY(listed(b) && listed(c));
    }

    void deleteReachesTheDesktopTrash()
    {
        const auto dataHome = qEnvironmentVariable("XDG_DATA_HOME");
        if (dataHome.isEmpty() || !dataHome.startsWith(QDir::tempPath()))
            QSKIP("needs the private XDG_DATA_HOME that scripts/with-test-services.sh sets");
        FreedesktopTrash desktopTrash;
        auto environment = env().storeEnvironment();
        environment.trash = &desktopTrash;
        const auto take = add(m_tone, QStringLiteral("Desk Take.wav"));
        auto desktop = openStore(environment);
        const auto before = digest(take);

        QVERIFY(QCoro::waitFor(desktop->deleteRecordings({bare(take)})));

        const auto trash = dataHome + QStringLiteral("/Trash");
        QCOMPARE(digest(trash + QStringLiteral("/files/Desk Take.wav")), before);
        QVERIFY(QFileInfo::exists(trash + QStringLiteral("/files/Desk Take.wav.vtmeta.json")));
        QFile info(trash + QStringLiteral("/info/Desk Take.wav.trashinfo"));
        QVERIFY(info.open(QIODevice::ReadOnly));
        // File managers read Path= URL-decoded.
        const auto content = QString::fromUtf8(info.readAll());
        const auto lines = content.split(u'\n');
        const auto path = std::find_if(lines.begin(), lines.end(), [](const auto &l) { return l.startsWith("Path="); });
        QVERIFY2(path != lines.end(), qPrintable(content));
        QCOMPARE(QUrl::fromPercentEncoding(path->mid(5).toUtf8()), take);
        QVERIFY(!QFileInfo::exists(take));
    }
};

QTEST_GUILESS_MAIN(LibraryEditingTest)
#include "test_library_editing.moc"
