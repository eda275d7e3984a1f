// The library scan: which files count, their sidecars, durations and order, and bad input.

#include "library/DurationCache.h"
#include "library/MetadataStore.h"
#include "library/RecordingScanner.h"
#include "library/SidecarCodec.h"
#include "media/FFmpegLogging.h"
#include "platform/CacheFolder.h"
#include "support/AudioFixtures.h"
#include "support/TestFiles.h"
#include "support/ToolRunner.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

void saveCreatedAt(const QString &audio, const QDateTime &createdAt, std::optional<double> duration = {})
{
    auto metadata = RecordingMetadata::fresh(createdAt);
    metadata.duration = duration;
    MetadataStore::save(metadata, audio);
}

QDateTime year(int y)
{
    return QDateTime(QDate(y, 1, 1), QTime(0, 0), Qt::UTC);
}

/// Halves the data size a WAV header states, unseen by a scan that does not open the file.
void halveStatedLengthUnseen(const QString &wav)
{
    editUnseen(wav, [](QByteArray &bytes) {
        const auto data = bytes.indexOf("data") + 4;
        qToLittleEndian<quint32>(qFromLittleEndian<quint32>(bytes.constData() + data) / 2, bytes.data() + data);
    });
}

} // namespace

class RecordingScannerTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_fixtures;
    QString m_wav;

private slots:
    void initTestCase()
    {
        configureFFmpegLogging();
        m_wav = AudioFixtures::tone(m_fixtures.filePath("one.wav"), 1.5);
    }

    /// Audio files in any case and under any container's extension are listed and measured;
    /// names Qt cannot open are reported instead; a missing folder lists nothing.
    void listsAudioFiles()
    {
        QTemporaryDir dir;
        for (const auto &name : {"a.WAV", "b.Mp3", "x.aif", "y.aiff", "notes.txt", "z.flac", ".hidden.wav", "noext"})
            QFile::copy(m_wav, dir.filePath(QString::fromLatin1(name)));
        QFile::copy(AudioFixtures::tone(m_fixtures.filePath("real.m4a"), 1.5), dir.filePath("aac.wav"));
        QDir(dir.path()).mkdir(QStringLiteral("folder.wav"));
        QVERIFY(QFile::link(dir.filePath("a.WAV"), dir.filePath("link.wav")));
        const QByteArray latin1 = QFile::encodeName(dir.path()) + "/caf\xe9.wav";
        QVERIFY(::link(QFile::encodeName(m_wav).constData(), latin1.constData()) == 0);

        const auto result = RecordingScanner::scan(dir.path());
        auto listed = fileNames(result.items);
        listed.sort();
        QCOMPARE(listed, (QStringList{"a.WAV", "aac.wav", "b.Mp3", "link.wav", "x.aif", "y.aiff"}));
        for (const auto &item : result.items)
            QVERIFY2(qAbs(item.duration - 1.5) < 0.03 && item.metadata.duration == item.duration, qPrintable(item.url));
        QCOMPARE(result.unlistedNames, QStringList{QStringLiteral("caf\uFFFD.wav")});
        QVERIFY(RecordingScanner::scan(dir.filePath("missing")).items.isEmpty());
        if (qEnvironmentVariableIsEmpty("VESPERTONE_TOOL"))
            QSKIP("the tool runs through ctest");
        const auto run = runTool({QStringLiteral("scan"), QStringLiteral("--folder"), dir.path()});
        QCOMPARE(QString::fromUtf8(run.err).count(QStringLiteral("caf\uFFFD.wav")), 1);
    }

    /// Sidecar dates win over file dates, newest first; equal times keep the listing order. A
    /// measured duration wins over the stored one, an unreadable file keeps its stored one or 0; a
    /// legacy sidecar is read in place and reported for migration. Nothing is written.
    void scanningNeverWrites()
    {
        QTemporaryDir dir;
        const auto stored = dir.filePath("stored.wav"), legacy = dir.filePath("legacy.wav");
        QFile::copy(m_wav, stored);
        QFile::copy(m_wav, legacy);
        saveCreatedAt(stored, year(2023), 99.0);
        writeFile(dir.filePath("legacy.vtmeta.json"), SidecarCodec::encode(RecordingMetadata::fresh(year(2022))));
        writeFile(MetadataStore::metadataURL(legacy), "{\"bpm\":1}"); // unreadable: the legacy file wins
        writeFile(dir.filePath("text.mp3"), "this is not audio at all");
        saveCreatedAt(dir.filePath("text.mp3"), year(2021), 12.5);
        for (int i = 0; i < 3; ++i) {
            QFile::copy(m_wav, dir.filePath(QStringLiteral("same%1.wav").arg(i)));
            saveCreatedAt(dir.filePath(QStringLiteral("same%1.wav").arg(i)), year(2021));
        }
        writeFile(dir.filePath("empty.m4a"), {});
        writeFile(MetadataStore::metadataURL(dir.filePath("empty.m4a")), "\x89PNG\r\n garbage {{{");
        const auto sidecar = readFile(MetadataStore::metadataURL(stored));
        const auto before = entriesOf(dir.path()) + entriesOf(MetadataStore::metadataFolder(stored));

        QStringList expected{"empty.m4a", "stored.wav", "legacy.wav"};
        for (QDirIterator entries(dir.path(), QDir::Files); entries.hasNext();)
            if (const auto name = QFileInfo(entries.next()).fileName();
                !expected.contains(name) && !name.endsWith(".json"))
                expected << name;

        const auto result = RecordingScanner::scan(dir.path());
        QCOMPARE(fileNames(result.items), expected);
        QCOMPARE(result.items[0].duration, 0.0);
        QCOMPARE(result.items[1].duration, 1.5);
        QCOMPARE(result.items[2].createdAt, year(2022));
        QCOMPARE(result.items[expected.indexOf("text.mp3")].duration, 12.5);
        QCOMPARE(result.legacyAudioURLs, QStringList{legacy});
        QCOMPARE(entriesOf(dir.path()) + entriesOf(MetadataStore::metadataFolder(stored)), before);
        QCOMPARE(readFile(MetadataStore::metadataURL(stored)), sidecar);
    }

    /// A remembered duration stands while the file's identity and content stamp do (a rename
    /// keeps both); an edit, a damaged or foreign cache or a deleted cache folder measure again.
    /// The cache forgets files that are gone.
    void remembersDurations_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<double>("duration");
        QTest::newRow("unchanged") << "none" << 1.5;
        QTest::newRow("renamed") << "rename" << 1.5;
        QTest::newRow("edited") << "touch" << 0.75;
        QTest::newRow("damaged cache") << "flip" << 0.75;
        QTest::newRow("truncated cache") << "truncate" << 0.75;
        QTest::newRow("foreign cache") << "foreign" << 0.75;
        QTest::newRow("cache deleted") << "delete" << 0.75;
    }

    void remembersDurations()
    {
        QFETCH(QString, change);
        QFETCH(double, duration);
        QTemporaryDir dir;
        auto take = dir.filePath("take.wav");
        const auto gone = dir.filePath("gone.wav");
        QVERIFY(QFile::copy(m_wav, take) && QFile::copy(m_wav, gone));
        QCOMPARE(RecordingScanner::scanRemembering(dir.path()).items.size(), 2);
        const auto goneStamp = FileStamp::of(gone);
        QVERIFY(QFile::remove(gone));
        halveStatedLengthUnseen(take);
        const auto entry = CacheFolder::pathOf(dir.path()) + QStringLiteral("/durations");
        auto bytes = readFile(entry);
        QVERIFY(bytes.size() > 40);
        if (change == "rename") {
            const auto renamed = dir.filePath("renamed.wav");
            QVERIFY(QFile::rename(take, renamed));
            take = renamed;
        } else if (change == "touch") {
            QVERIFY(::utimensat(AT_FDCWD, QFile::encodeName(take).constData(), nullptr, 0) == 0);
        } else if (change == "flip") {
            bytes[bytes.size() - 3] = char(bytes[bytes.size() - 3] ^ 0x10);
            writeFile(entry, bytes);
        } else if (change == "truncate") {
            writeFile(entry, bytes.left(bytes.size() - 8));
        } else if (change == "foreign") {
            writeFile(entry, QByteArray("RIFF") + bytes.mid(4));
        } else if (change == "delete") {
            QVERIFY(QDir(CacheFolder::pathOf(dir.path())).removeRecursively());
        }
        const auto items = RecordingScanner::scanRemembering(dir.path()).items;
        QCOMPARE(items.size(), 1);
        QCOMPARE(items[0].url, take);
        QCOMPARE(items[0].duration, duration);
        // Whatever was found, the cache holds this file now, and no longer the one that went.
        auto cache = DurationCache::load(CacheFolder(CacheFolder::pathOf(dir.path())));
        QCOMPARE(cache.find(*FileStamp::of(take)), std::optional<std::optional<double>>(duration));
        QVERIFY(!cache.find(*goneStamp));
    }

    /// A move stopped between the audio and its sidecar, as the audio-first order of earlier
    /// versions left it: a sidecar whose audio has gone is given to the one file without a sidecar
    /// it fits (a tempo name of its old name, or made when the sidecar says), never to a guess;
    /// a second name of a sidecar already moved is dropped.
    void reunitesSidecarsThatMovesLeftBehind_data()
    {
        QTest::addColumn<QStringList>("audio");    ///< files; "NAME+" has its own sidecar from 2023
        QTest::addColumn<QStringList>("orphans");  ///< sidecars of gone files: "OLD" (from 2020), "OLD=NAME"
                                                   ///< (made with NAME), "OLD~NAME" (a second name of NAME's)
        QTest::addColumn<QStringList>("expected"); ///< "NAME OLD": NAME gets OLD's sidecar; "-OLD": dropped
        QTest::newRow("tempo name") << QStringList{"Loop_bpm_120.wav"} << QStringList{"Loop.wav"}
                                    << QStringList{"Loop_bpm_120.wav Loop.wav"};
        QTest::newRow("a new tempo with a counter")
            << QStringList{"Loop_bpm_90 2.wav", "Loop_bpm_90.wav+"} << QStringList{"Loop_bpm_120.wav"}
            << QStringList{"Loop_bpm_90 2.wav Loop_bpm_120.wav"};
        QTest::newRow("renamed, made when its sidecar says")
            << QStringList{"Drums.wav", "Bass.wav+"} << QStringList{"Take.wav=Drums.wav"}
            << QStringList{"Drums.wav Take.wav"};
        QTest::newRow("two files made that second")
            << QStringList{"Drums.wav", "Bass.wav"} << QStringList{"Take.wav=Drums.wav"} << QStringList{};
        QTest::newRow("another extension")
            << QStringList{"Loop_bpm_120.m4a"} << QStringList{"Loop.wav"} << QStringList{};
        QTest::newRow("two files fit") << QStringList{"Loop_bpm_120.wav", "Loop_bpm_90.wav"} << QStringList{"Loop.wav"}
                                       << QStringList{};
        QTest::newRow("one file, two sidecars")
            << QStringList{"Loop_bpm_120.wav"} << QStringList{"Loop.wav", "Loop_bpm_100.wav"} << QStringList{};
        QTest::newRow("the file has its own")
            << QStringList{"Loop_bpm_120.wav+"} << QStringList{"Loop.wav"} << QStringList{};
        QTest::newRow("its audio is in the Trash")
            << QStringList{"Other.wav"} << QStringList{"Take.wav"} << QStringList{};
        QTest::newRow("second name of a moved sidecar")
            << QStringList{"Drums.wav+"} << QStringList{"Take.wav~Drums.wav"} << QStringList{"-Take.wav"};
    }
    void reunitesSidecarsThatMovesLeftBehind()
    {
        QFETCH(QStringList, audio);
        QFETCH(QStringList, orphans);
        QFETCH(QStringList, expected);
        QTemporaryDir dir;
        for (auto name : audio) {
            const bool own = name.endsWith(u'+');
            name.remove(u'+');
            QVERIFY(QFile::copy(m_wav, dir.filePath(name)));
            if (own)
                saveCreatedAt(dir.filePath(name), year(2023));
        }
        const auto sidecarOf = [&](const QString &name) { return MetadataStore::metadataURL(dir.filePath(name)); };
        for (const auto &orphan : orphans) {
            const auto old = orphan.section(QRegularExpression("[=~]"), 0, 0);
            const auto other = orphan.section(QRegularExpression("[=~]"), 1);
            if (orphan.contains(u'~')) {
                QVERIFY(::link(QFile::encodeName(sidecarOf(other)).constData(),
                               QFile::encodeName(sidecarOf(old)).constData())
                        == 0);
                continue;
            }
            auto metadata = RecordingMetadata::fresh(
                other.isEmpty() ? year(2020) : RecordingScanner::fileCreationDate(dir.filePath(other)));
            metadata.musicalKey = old;
            writeFile(sidecarOf(old), SidecarCodec::encode(metadata));
        }
        const auto before = entriesOf(MetadataStore::metadataFolder(dir.filePath("x")));

        const auto result = RecordingScanner::scan(dir.path());

        QStringList found;
        for (const auto &[sidecar, url] : result.reunitedSidecars)
            found << QFileInfo(url).fileName() + u' ' + QFileInfo(sidecar).fileName().chopped(12);
        for (const auto &stale : result.staleSidecarNames)
            found << u'-' + QFileInfo(stale).fileName().chopped(12);
        QCOMPARE(found, expected);
        for (const auto &item : result.items) {
            const auto name = QFileInfo(item.url).fileName();
            const auto reunited = std::find_if(expected.begin(), expected.end(),
                                               [&](const QString &pair) { return pair.startsWith(name + u' '); });
            // The item already carries the sidecar it is given; nothing is written by the scan.
            QCOMPARE(item.metadata.musicalKey,
                     reunited == expected.end() ? std::nullopt : std::optional(reunited->section(u' ', -1)));
        }
        QCOMPARE(entriesOf(MetadataStore::metadataFolder(dir.filePath("x"))), before);
    }
};

QTEST_GUILESS_MAIN(RecordingScannerTest)
#include "test_recording_scanner.moc"
