// Sidecar format and MetadataStore: the file format other builds must read byte for byte.

#include "library/AppError.h"
#include "library/MetadataStore.h"
#include "library/RecordingItem.h"
#include "library/SidecarCodec.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <limits>

namespace {

QDateTime utc(int y, int mo, int d, int h, int mi, int s) { return QDateTime(QDate(y, mo, d), QTime(h, mi, s), Qt::UTC); }

void writeAll(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

RecordingMetadata fullMetadata()
{
    RecordingMetadata metadata = RecordingMetadata::fresh(utc(2024, 5, 1, 12, 30, 5));
    metadata.duration = 127.6;
    metadata.bpm = 120;
    metadata.musicalKey = QStringLiteral("F# minor");
    metadata.analyzedAt = utc(2024, 5, 1, 12, 31, 0);
    metadata.trimStart = 0.30000000000000004;
    metadata.trimEnd = 4;
    RecordingSourceContext source;
    source.appName = QStringLiteral("Firefox");
    source.bundleIdentifier = QStringLiteral("org.mozilla.firefox");
    source.windowTitle = QStringLiteral("Song \"live\" — AC/DC\tmix");
    source.urlString = QStringLiteral("https://example.org/watch?v=1");
    source.capturedAt = utc(2024, 5, 1, 12, 29, 59);
    metadata.source = source;
    return metadata;
}

} // namespace

class MetadataStoreTest : public QObject {
    Q_OBJECT

private slots:
    void encodesTheExactFormat()
    {
        const QByteArray expected = "{\n"
                                    "  \"analyzedAt\" : \"2024-05-01T12:31:00Z\",\n"
                                    "  \"bpm\" : 120,\n"
                                    "  \"createdAt\" : \"2024-05-01T12:30:05Z\",\n"
                                    "  \"duration\" : 127.6,\n"
                                    "  \"musicalKey\" : \"F# minor\",\n"
                                    "  \"source\" : {\n"
                                    "    \"appName\" : \"Firefox\",\n"
                                    "    \"bundleIdentifier\" : \"org.mozilla.firefox\",\n"
                                    "    \"capturedAt\" : \"2024-05-01T12:29:59Z\",\n"
                                    "    \"urlString\" : \"https:\\/\\/example.org\\/watch?v=1\",\n"
                                    "    \"windowTitle\" : \"Song \\\"live\\\" — AC\\/DC\\tmix\"\n"
                                    "  },\n"
                                    "  \"trimEnd\" : 4,\n"
                                    "  \"trimStart\" : 0.30000000000000004\n"
                                    "}";
        QCOMPARE(SidecarCodec::encode(fullMetadata()), expected);
    }

    void roundTripsByteForByte()
    {
        const auto bytes = SidecarCodec::encode(fullMetadata());
        const auto decoded = SidecarCodec::decode(bytes);
        QVERIFY(decoded);
        QCOMPARE(*decoded, fullMetadata());
        QCOMPARE(SidecarCodec::encode(*decoded), bytes);
    }

    void omitsAbsentFieldsAndOrdersBpmBeforeCreatedAt()
    {
        auto metadata = RecordingMetadata::fresh(utc(2024, 5, 1, 12, 30, 5));
        metadata.bpm = 120;
        const auto bytes = SidecarCodec::encode(metadata);
        QCOMPARE(bytes, QByteArray("{\n  \"bpm\" : 120,\n  \"createdAt\" : \"2024-05-01T12:30:05Z\"\n}"));
        QVERIFY(!bytes.contains("musicalKey"));
        QVERIFY(!bytes.contains("null"));
    }

    void writesShortestNumbersAndWholeSecondUtcDates()
    {
        auto metadata = RecordingMetadata::fresh(
            QDateTime(QDate(2024, 5, 1), QTime(14, 30, 5, 900), Qt::OffsetFromUTC, 2 * 3600));
        metadata.duration = 1e-7;
        metadata.bpm = 176.5;
        metadata.trimStart = 0;
        metadata.trimEnd = -0.25;
        const auto bytes = SidecarCodec::encode(metadata);
        QVERIFY2(bytes.contains("\"createdAt\" : \"2024-05-01T12:30:05Z\""), bytes.constData());
        QVERIFY(bytes.contains("\"duration\" : 1e-07"));
        QVERIFY(bytes.contains("\"bpm\" : 176.5"));
        QVERIFY(bytes.contains("\"trimStart\" : 0\n") || bytes.contains("\"trimStart\" : 0,"));
        QVERIFY(bytes.contains("\"trimEnd\" : -0.25"));
        QCOMPARE(SidecarCodec::decode(bytes)->duration, 1e-7);
    }

    void refusesNumbersJsonCannotHold()
    {
        auto metadata = RecordingMetadata::fresh(utc(2024, 5, 1, 0, 0, 0));
        metadata.bpm = std::numeric_limits<double>::quiet_NaN();
        QVERIFY_THROWS_EXCEPTION(AppError, SidecarCodec::encode(metadata));
        metadata.bpm = std::numeric_limits<double>::infinity();
        QVERIFY_THROWS_EXCEPTION(AppError, SidecarCodec::encode(metadata));
    }

    void escapesControlCharactersAndReadsThemBack()
    {
        auto metadata = RecordingMetadata::fresh(utc(2024, 5, 1, 0, 0, 0));
        metadata.musicalKey = QStringLiteral("a\\b\nc\x01/é🎵");
        const auto bytes = SidecarCodec::encode(metadata);
        QVERIFY(bytes.contains("\"a\\\\b\\nc\\u0001\\/é🎵\""));
        QCOMPARE(SidecarCodec::decode(bytes)->musicalKey, metadata.musicalKey);
    }

    void decodesAndRejects_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<bool>("readable");
        QTest::newRow("only createdAt") << QByteArray("{\"createdAt\":\"2024-05-01T12:30:05Z\"}") << true;
        QTest::newRow("plain slashes") << QByteArray("{\"createdAt\":\"2024-05-01T12:30:05Z\",\"musicalKey\":\"A/B\"}") << true;
        QTest::newRow("unknown keys") << QByteArray("{\"createdAt\":\"2024-05-01T12:30:05Z\",\"x\":[1,{}]}") << true;
        QTest::newRow("offset date") << QByteArray("{\"createdAt\":\"2024-05-01T14:30:05+02:00\"}") << true;
        QTest::newRow("no createdAt") << QByteArray("{\"bpm\":120}") << false;
        QTest::newRow("fractional seconds") << QByteArray("{\"createdAt\":\"2024-05-01T12:30:05.5Z\"}") << false;
        QTest::newRow("date only") << QByteArray("{\"createdAt\":\"2024-05-01\"}") << false;
        QTest::newRow("impossible date") << QByteArray("{\"createdAt\":\"2024-02-30T12:30:05Z\"}") << false;
        QTest::newRow("numeric createdAt") << QByteArray("{\"createdAt\":1714566605}") << false;
        QTest::newRow("bpm as text") << QByteArray("{\"createdAt\":\"2024-05-01T12:30:05Z\",\"bpm\":\"120\"}") << false;
        QTest::newRow("key as number") << QByteArray("{\"createdAt\":\"2024-05-01T12:30:05Z\",\"musicalKey\":5}") << false;
        QTest::newRow("null duration") << QByteArray("{\"createdAt\":\"2024-05-01T12:30:05Z\",\"duration\":null}") << false;
        QTest::newRow("bad analyzedAt") << QByteArray("{\"createdAt\":\"2024-05-01T12:30:05Z\",\"analyzedAt\":\"x\"}") << false;
        QTest::newRow("source not object") << QByteArray("{\"createdAt\":\"2024-05-01T12:30:05Z\",\"source\":\"x\"}") << false;
        QTest::newRow("source without capturedAt")
            << QByteArray("{\"createdAt\":\"2024-05-01T12:30:05Z\",\"source\":{\"appName\":\"Music\"}}") << false;
        QTest::newRow("array") << QByteArray("[]") << false;
        QTest::newRow("truncated") << QByteArray("{\"createdAt\":\"2024-05-01T12:30:05Z\"") << false;
        QTest::newRow("empty") << QByteArray() << false;
        QTest::newRow("binary") << QByteArray("\x00\xff\xfe{", 4) << false;
    }

    void decodesAndRejects()
    {
        QFETCH(QByteArray, json);
        QFETCH(bool, readable);
        const auto decoded = SidecarCodec::decode(json);
        QCOMPARE(decoded.has_value(), readable);
        if (decoded && json.contains("+02:00"))
            QCOMPARE(decoded->createdAt, utc(2024, 5, 1, 12, 30, 5));
        if (decoded && json.contains("A/B"))
            QCOMPARE(decoded->musicalKey, QStringLiteral("A/B"));
    }

    void computesSidecarPaths()
    {
        QCOMPARE(MetadataStore::metadataURL(QStringLiteral("/F/Take.m4a")),
                 QStringLiteral("/F/.vespertone/metadata/Take.m4a.vtmeta.json"));
        QCOMPARE(MetadataStore::legacyMetadataURL(QStringLiteral("/F/Take.m4a")), QStringLiteral("/F/Take.vtmeta.json"));
        QCOMPARE(MetadataStore::legacyMetadataURL(QStringLiteral("/F/a.b.wav")), QStringLiteral("/F/a.b.vtmeta.json"));
    }

    void savesIntoANewMetadataFolderAndLoads()
    {
        QTemporaryDir dir;
        const auto audio = dir.filePath(QStringLiteral("Take.m4a"));
        MetadataStore::save(fullMetadata(), audio);
        QVERIFY(QFileInfo::exists(dir.filePath(QStringLiteral(".vespertone/metadata/Take.m4a.vtmeta.json"))));
        QCOMPARE(MetadataStore::load(audio), fullMetadata());
        QCOMPARE(MetadataStore::load(dir.filePath(QStringLiteral("Other.m4a"))), std::nullopt);
    }

    void saveFailureIsThrown()
    {
        QTemporaryDir dir;
        writeAll(dir.filePath(QStringLiteral(".vespertone")), "a file where the folder should be");
        QVERIFY_THROWS_EXCEPTION(AppError, MetadataStore::save(fullMetadata(), dir.filePath(QStringLiteral("T.wav"))));
    }

    void migratesLegacySidecarOnLoad()
    {
        QTemporaryDir dir;
        const auto audio = dir.filePath(QStringLiteral("Take.m4a"));
        writeAll(dir.filePath(QStringLiteral("Take.vtmeta.json")), SidecarCodec::encode(fullMetadata()));
        QCOMPARE(MetadataStore::load(audio), fullMetadata());
        QVERIFY(!QFileInfo::exists(dir.filePath(QStringLiteral("Take.vtmeta.json"))));
        QVERIFY(QFileInfo::exists(MetadataStore::metadataURL(audio)));
        QCOMPARE(MetadataStore::load(audio), fullMetadata());
    }

    void sidecarWinsOverLegacyUntilTheNextSave()
    {
        QTemporaryDir dir;
        const auto audio = dir.filePath(QStringLiteral("Take.m4a"));
        const auto legacy = dir.filePath(QStringLiteral("Take.vtmeta.json"));
        auto older = RecordingMetadata::fresh(utc(2020, 1, 1, 0, 0, 0));
        writeAll(legacy, SidecarCodec::encode(older));
        writeAll(MetadataStore::metadataURL(audio), SidecarCodec::encode(fullMetadata()));
        QCOMPARE(MetadataStore::load(audio), fullMetadata());
        QVERIFY(QFileInfo::exists(legacy));
        MetadataStore::save(fullMetadata(), audio);
        QVERIFY(!QFileInfo::exists(legacy));
    }

    void unreadableSidecarFallsBackToLegacy()
    {
        QTemporaryDir dir;
        const auto audio = dir.filePath(QStringLiteral("Take.wav"));
        writeAll(MetadataStore::metadataURL(audio), "{\"bpm\":120}");
        auto legacy = RecordingMetadata::fresh(utc(2021, 2, 3, 4, 5, 6));
        writeAll(dir.filePath(QStringLiteral("Take.vtmeta.json")), SidecarCodec::encode(legacy));
        QCOMPARE(MetadataStore::load(audio), legacy);
        // Migration keeps the existing (unreadable) sidecar and drops the legacy file.
        QVERIFY(!QFileInfo::exists(dir.filePath(QStringLiteral("Take.vtmeta.json"))));
    }

    void ignoresHugeSidecars()
    {
        QTemporaryDir dir;
        const auto audio = dir.filePath(QStringLiteral("Take.wav"));
        QByteArray huge = "{\"createdAt\":\"2024-05-01T12:30:05Z\",\"pad\":\"";
        huge += QByteArray(MetadataStore::maximumSidecarSize, 'x') + "\"}";
        writeAll(MetadataStore::metadataURL(audio), huge);
        QCOMPARE(MetadataStore::load(audio), std::nullopt);
    }

    void movesMetadata()
    {
        QTemporaryDir dir;
        const auto a = dir.filePath(QStringLiteral("A.m4a"));
        const auto b = dir.filePath(QStringLiteral("B.m4a"));
        auto bOld = RecordingMetadata::fresh(utc(2019, 1, 1, 0, 0, 0));
        MetadataStore::save(fullMetadata(), a);
        MetadataStore::save(bOld, b);
        MetadataStore::moveMetadata(a, b);
        QCOMPARE(MetadataStore::load(b), fullMetadata());
        QVERIFY(!QFileInfo::exists(MetadataStore::metadataURL(a)));

        // Nothing to move: the destination's old sidecar is gone and nothing else happens.
        MetadataStore::moveMetadata(a, b);
        QVERIFY(!QFileInfo::exists(MetadataStore::metadataURL(b)));
    }

    void movesALegacySidecarToTheDestination()
    {
        QTemporaryDir dir;
        const auto a = dir.filePath(QStringLiteral("A.wav"));
        writeAll(dir.filePath(QStringLiteral("A.vtmeta.json")), SidecarCodec::encode(fullMetadata()));
        MetadataStore::moveMetadata(a, dir.filePath(QStringLiteral("C.wav")));
        QCOMPARE(MetadataStore::load(dir.filePath(QStringLiteral("C.wav"))), fullMetadata());
        QVERIFY(!QFileInfo::exists(dir.filePath(QStringLiteral("A.vtmeta.json"))));
    }

    void trashesSidecarAndLegacyIgnoringFailures()
    {
        QTemporaryDir dir;
        FolderTrash trash(dir.filePath(QStringLiteral("Trash")));
        const auto audio = dir.filePath(QStringLiteral("Take.wav"));
        MetadataStore::save(fullMetadata(), audio);
        writeAll(dir.filePath(QStringLiteral("Take.vtmeta.json")), "{}");
        trash.failingPaths << MetadataStore::metadataURL(audio);
        MetadataStore::trashMetadata(audio, trash);
        QCOMPARE(trash.trashed, QStringList{dir.filePath(QStringLiteral("Take.vtmeta.json"))});
        QVERIFY(QFileInfo::exists(MetadataStore::metadataURL(audio)));
    }

    void displayTitleFallsBack()
    {
        RecordingSourceContext context;
        QCOMPARE(context.displayTitle(), QStringLiteral("Unknown source"));
        context.appName = QStringLiteral("Music");
        context.windowTitle = QString();
        QCOMPARE(context.displayTitle(), QStringLiteral("Music"));
        context.appName = QString();
        QCOMPARE(context.displayTitle(), QString());
        context.windowTitle = QStringLiteral("Track");
        QCOMPARE(context.displayTitle(), QStringLiteral("Track"));
        const auto microphone = RecordingSourceContext::microphone(utc(2024, 1, 1, 0, 0, 0));
        QCOMPARE(microphone.displayTitle(), QStringLiteral("Default microphone"));
        QCOMPARE(microphone.appName, QStringLiteral("Microphone"));
        QVERIFY(!microphone.urlString && !microphone.bundleIdentifier);
    }

    void itemsWithTheSameFileShareTheirIdentity()
    {
        RecordingItem a{QStringLiteral("/F/x.wav"), RecordingMetadata::fresh(utc(2024, 1, 1, 0, 0, 0)), 1.0, {}};
        auto b = a;
        b.duration = 2.0;
        QVERIFY(a != b);
        QCOMPARE(a.id(), b.id());
    }

    // Random corruptions of valid sidecars: never a crash, always a value or none, and
    // whatever decodes encodes again.
    void fuzzesTheDecoder()
    {
        const auto valid = SidecarCodec::encode(fullMetadata());
        QRandomGenerator random(20241206);
        for (int round = 0; round < 5000; ++round) {
            auto bytes = valid;
            const int edits = 1 + int(random.bounded(8));
            for (int i = 0; i < edits; ++i) {
                const int at = int(random.bounded(bytes.size()));
                switch (random.bounded(3)) {
                case 0: bytes[at] = char(random.bounded(256)); break;
                case 1: bytes.remove(at, 1 + int(random.bounded(16))); break;
                default: bytes.insert(at, char(random.bounded(256))); break;
                }
            }
            if (const auto decoded = SidecarCodec::decode(bytes)) {
                QVERIFY(decoded->createdAt.isValid());
                try {
                    QVERIFY(SidecarCodec::decode(SidecarCodec::encode(*decoded)).has_value());
                } catch (const AppError &) {
                    // a corrupted number can only decode to a finite double, so this is a fault
                    QFAIL("a decoded sidecar could not be encoded again");
                }
            }
        }
    }
};

QTEST_GUILESS_MAIN(MetadataStoreTest)
#include "test_metadata_store.moc"
