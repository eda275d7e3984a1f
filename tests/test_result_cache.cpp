// What the library remembers between runs: the cache folder's trust, durability and size, and
// the remembered list a start shows before its scan corrects it.

#include "analysis/AudioAnalyzer.h"
#include "analysis/EnvelopeCache.h"
#include "analysis/WaveformService.h"
#include "library/LibrarySnapshot.h"
#include "library/MetadataStore.h"
#include "library/RecordingScanner.h"
#include "platform/CacheFolder.h"
#include "store/RecordingLibraryStore.h"
#include "support/AudioFixtures.h"
#include "support/TaskRunner.h"
#include "support/TestEnvironment.h"
#include "support/TestFiles.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>

namespace {

constexpr quint32 kind = 0x54534554; // "TEST"

/// Sets the modification time of \a path to \a hoursAgo hours before now.
void age(const QString &path, int hoursAgo)
{
    const struct timespec then {
        ::time(nullptr) - hoursAgo * 3600, 0
    };
    const struct timespec times[2] = {then, then};
    QCOMPARE(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0), 0);
}

} // namespace

class ResultCacheTest : public QObject {
    Q_OBJECT

private slots:
    /// An entry is read back only whole, of its kind and within the size asked for; any damage
    /// reads as missing, so the caller computes the result again.
    void entriesAreTrustedOnlyWhole_data()
    {
        QTest::addColumn<QString>("damage");
        QTest::addColumn<bool>("trusted");
        QTest::newRow("whole") << "none" << true;
        QTest::newRow("another kind") << "kind" << false;
        QTest::newRow("payload bit flipped") << "flip" << false;
        QTest::newRow("torn") << "truncate" << false;
        QTest::newRow("bytes appended") << "append" << false;
        QTest::newRow("another program's file") << "foreign" << false;
        QTest::newRow("larger than asked for") << "large" << false;
        QTest::newRow("empty") << "empty" << false;
    }

    void entriesAreTrustedOnlyWhole()
    {
        QFETCH(QString, damage);
        QFETCH(bool, trusted);
        QTemporaryDir dir;
        const CacheFolder cache(dir.filePath("cache"));
        const QByteArray payload(5000, 'x');
        QVERIFY(cache.write("entry", kind, payload));
        const auto file = dir.filePath("cache/entry");
        auto bytes = readFile(file);
        if (damage == "flip")
            bytes[1000] = 'y';
        else if (damage == "truncate")
            bytes.chop(1);
        else if (damage == "append")
            bytes.append('x');
        else if (damage == "foreign")
            bytes.replace(0, 8, "VTCACHE2");
        else if (damage == "empty")
            bytes.clear();
        writeFile(file, bytes);
        const quint32 asked = damage == "kind" ? kind + 1 : kind;
        const auto read = cache.read("entry", asked, damage == "large" ? 4999 : 5000);
        QCOMPARE(read.has_value(), trusted);
        if (trusted)
            QCOMPARE(*read, payload);
        // Names that would leave the folder or pass for a work file are refused.
        QVERIFY(!cache.write("../outside", kind, payload) && !cache.write(".entry.part", kind, payload));
    }

    /// A write replaces the entry whole; past the capacity the least recently used entries go
    /// (a read counts as a use), never the one just written; work files a stopped process left
    /// go after an hour, while a fresh one (a write in flight) stays.
    void evictsTheLeastRecentlyUsed()
    {
        QTemporaryDir dir;
        const CacheFolder cache(dir.filePath("cache"), 3500);
        const QByteArray block(1000, 'b');
        for (const char *name : {"a", "b", "c"})
            QVERIFY(cache.write(QString::fromLatin1(name), kind, block));
        age(dir.filePath("cache/a"), 5);
        age(dir.filePath("cache/b"), 4);
        age(dir.filePath("cache/c"), 3);
        writeFile(dir.filePath("cache/.x.1.part"), "left behind");
        age(dir.filePath("cache/.x.1.part"), 2);
        writeFile(dir.filePath("cache/.y.2.part"), "in flight");
        QVERIFY(cache.read("a", kind, 1000)); // a becomes the most recently used
        QVERIFY(cache.write("d", kind, block));
        QCOMPARE(entriesOf(dir.filePath("cache")), (QStringList{".y.2.part", "a", "c", "d"}));
        QVERIFY(cache.write("a", kind, QByteArray(10, 'n')));
        QCOMPARE(*cache.read("a", kind, 1000), QByteArray(10, 'n'));
        // An entry larger than the whole capacity is kept until the next write.
        QVERIFY(cache.write("huge", kind, QByteArray(4000, 'h')));
        QVERIFY(cache.read("huge", kind, 4000));
    }

    /// A folder passed through (no work folder) gets no cache unless it is the library.
    void cacheOnlyInALibrary()
    {
        QTemporaryDir dir;
        QVERIFY(!CacheFolder::ofLibrary(dir.path(), false));
        QVERIFY(!QFileInfo::exists(dir.filePath(".vespertone")));
        QVERIFY(!CacheFolder::ofLibrary(dir.filePath("missing"), true));
        QVERIFY(!QFileInfo::exists(dir.filePath("missing")));
        const auto made = CacheFolder::ofLibrary(dir.path(), true);
        QVERIFY(made && QFileInfo(dir.filePath(".vespertone")).isDir());
        QCOMPARE(made->path(), dir.filePath(".vespertone/cache"));
        QVERIFY(CacheFolder::ofLibrary(dir.path(), false));
    }

    /// The remembered list holds every field of its items and only the library's own files.
    void rememberedListHoldsItsLibraryOnly()
    {
        QTemporaryDir dir;
        RecordingItem item;
        item.url = dir.filePath("take.m4a");
        item.metadata = RecordingMetadata::fresh(QDateTime(QDate(2024, 5, 1), QTime(12, 30, 5), Qt::UTC));
        item.metadata.duration = item.duration = 12.25;
        item.metadata.bpm = 120.5;
        item.metadata.musicalKey = QStringLiteral("F# minor");
        item.metadata.trimEnd = 3.0;
        RecordingSourceContext source;
        source.windowTitle = QStringLiteral("A tab");
        source.capturedAt = item.metadata.createdAt;
        item.metadata.source = source;
        item.createdAt = item.metadata.createdAt;
        auto bare = item;
        bare.url = dir.filePath("bare.wav");
        bare.metadata = RecordingMetadata::fresh(item.createdAt.addDays(-1));
        const QVector<RecordingItem> items{item, bare};
        const auto payload = LibrarySnapshot::encode(dir.path(), items);
        QCOMPARE(LibrarySnapshot::decode(dir.path(), payload), std::optional(items));
        QVERIFY(!LibrarySnapshot::decode(dir.filePath("other"), payload));
        QVERIFY(!LibrarySnapshot::decode(dir.path(), payload.left(payload.size() - 1)));
        QVERIFY(!LibrarySnapshot::decode(dir.path(), payload + "x"));
        auto outside = item;
        outside.url = dir.filePath("sub/take.m4a");
        QVERIFY(!LibrarySnapshot::decode(dir.path(), LibrarySnapshot::encode(dir.path(), {outside})));
    }

    /// A take's envelope is remembered in its library's cache: asked for again it comes from
    /// there while the file's identity and stamp are those it was computed for (a rename keeps
    /// both); an edited file, a damaged entry or a deleted cache computes it afresh.
    void waveformsAreRemembered_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<bool>("remembered");
        QTest::newRow("unchanged") << "none" << true;
        QTest::newRow("renamed") << "rename" << true;
        QTest::newRow("edited") << "touch" << false;
        QTest::newRow("damaged entry") << "damage" << false;
        QTest::newRow("cache deleted") << "delete" << false;
    }

    void waveformsAreRemembered()
    {
        QFETCH(QString, change);
        QFETCH(bool, remembered);
        QTemporaryDir library;
        QVERIFY(CacheFolder::ofLibrary(library.path(), true));
        auto take = AudioFixtures::tone(library.filePath("take.wav"), 2.0, 440, 0.5);
        WaveformService waveforms;
        QSignalSpy stored(&waveforms, &WaveformService::remembered);
        const auto first = finish(waveforms.peaks(take));
        QCOMPARE(first, AudioAnalyzer::waveformPeaksSync(take, WaveformService::editorPeakCount));
        QVERIFY(stored.wait(10000));
        editUnseen(take, [](QByteArray &bytes) { // the first half of the samples silenced
            const auto data = bytes.indexOf("data") + 8;
            bytes.replace(data, (bytes.size() - data) / 2, QByteArray((bytes.size() - data) / 2, '\0'));
        });
        const auto entry = CacheFolder::pathOf(library.path()) + u'/' + EnvelopeCache::entryName(*FileStamp::of(take));
        if (change == "rename") {
            QVERIFY(QFile::rename(take, library.filePath("renamed.wav")));
            take = library.filePath("renamed.wav");
        } else if (change == "touch") {
            QCOMPARE(::utimensat(AT_FDCWD, QFile::encodeName(take).constData(), nullptr, 0), 0);
        } else if (change == "damage") {
            auto bytes = readFile(entry);
            bytes[bytes.size() / 2] = char(bytes[bytes.size() / 2] ^ 1);
            writeFile(entry, bytes);
        } else if (change == "delete") {
            QVERIFY(QDir(CacheFolder::pathOf(library.path())).removeRecursively());
        }
        const auto again = finish(waveforms.peaks(take));
        QCOMPARE(again == first, remembered);
        if (!remembered)
            QCOMPARE(again, AudioAnalyzer::waveformPeaksSync(take, WaveformService::editorPeakCount));
    }

    /// Requests for one file share one computation, which reports its parts as they are done;
    /// a cancelled one ends empty and the next request starts anew. A file outside a library is
    /// decoded, but nothing is stored beside it.
    void waveformComputationsAreShared()
    {
        QTemporaryDir folder;
        const auto take = AudioFixtures::tone(folder.filePath("long.wav"), 90.0, 220, 0.5);
        WaveformService waveforms;
        QSignalSpy refined(&waveforms, &WaveformService::refined);
        auto one = waveforms.peaks(take);
        auto two = waveforms.peaks(take);
        const auto first = finish(std::move(one));
        QCOMPARE(finish(std::move(two)), first);
        // The reports are posted before the result, so all have arrived.
        QCOMPARE(refined.size(), 4);
        QCOMPARE(refined.last().at(1).value<QVector<float>>(), first);
        QCOMPARE(refined.last().at(2).toDouble(), 1.0);
        QVERIFY(refined.first().at(2).toDouble() < 1.0);

        auto cancelled = waveforms.peaks(take);
        waveforms.cancel(take);
        QVERIFY(finish(std::move(cancelled)).isEmpty());
        QCOMPARE(finish(waveforms.peaks(take)), first);
        QVERIFY(!QFileInfo::exists(folder.filePath(".vespertone")));
    }

    /// A start shows the list the last scan remembered before its own scan ends, then the
    /// corrected one; refreshFinished announces only the scanned list.
    void startShowsTheRememberedListThenCorrectsIt()
    {
        TestEnvironment env;
        QDir().mkpath(env.libraryFolder());
        const auto wav = AudioFixtures::tone(env.m_root.filePath("fixture.wav"), 0.2);
        for (const auto &[name, year] : {std::pair{"kept.wav", 2021}, std::pair{"gone.wav", 2022}}) {
            QVERIFY(QFile::copy(wav, env.path(QString::fromLatin1(name))));
            MetadataStore::save(RecordingMetadata::fresh(QDateTime(QDate(year, 1, 1), QTime(), Qt::UTC)),
                                env.path(QString::fromLatin1(name)));
        }
        (void)RecordingScanner::scanRemembering(env.libraryFolder());
        QVERIFY(QFile::remove(env.path("gone.wav")));

        auto environment = env.storeEnvironment();
        environment.showRememberedLibrary = true;
        RecordingLibraryStore store(environment);
        QList<QStringList> published;
        connect(&store, &RecordingLibraryStore::recordingsChanged, this,
                [&] { published << fileNames(store.recordings()); });
        QSignalSpy scans(&store, &RecordingLibraryStore::refreshFinished);
        QSignalSpy started(&store, &RecordingLibraryStore::recoveryFinished);
        QVERIFY(started.wait(10000));
        QCOMPARE(published, (QList<QStringList>{{"gone.wav", "kept.wav"}, {"kept.wav"}}));
        QCOMPARE(scans.size(), 1);
        QCOMPARE(store.selectedIDs(), QSet<QString>{env.path("kept.wav")});

        // Without the option (the terminal tool) only the scanned list is published.
        RecordingLibraryStore plain(env.storeEnvironment());
        QSignalSpy changes(&plain, &RecordingLibraryStore::recordingsChanged);
        QSignalSpy plainStarted(&plain, &RecordingLibraryStore::recoveryFinished);
        QVERIFY(plainStarted.wait(10000));
        QCOMPARE(changes.size(), 1);
    }
};

QTEST_GUILESS_MAIN(ResultCacheTest)
#include "test_result_cache.moc"
