// Sidecar format and MetadataStore: the file format other builds must read byte for byte.

#include "base/AppError.h"
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
#include <memory>
#include <tuple>

namespace {

QDateTime utc(int y, int mo, int d, int h, int mi, int s)
{
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s), Qt::UTC);
}

void writeAll(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

RecordingMetadata fullMetadata()
{
    const RecordingSourceContext source{.appName = "Firefox",
                                        .bundleIdentifier = "org.mozilla.firefox",
                                        .windowTitle = "Song \"live\" — AC/DC\tmix",
                                        .urlString = "https://example.org/watch?v=1",
                                        .capturedAt = utc(2024, 5, 1, 12, 29, 59)};
    return {.createdAt = utc(2024, 5, 1, 12, 30, 5),
            .duration = 127.6,
            .bpm = 120,
            .musicalKey = "F# minor",
            .analyzedAt = utc(2024, 5, 1, 12, 31, 0),
            .trimStart = 0.30000000000000004,
            .trimEnd = 4,
            .source = source};
}

} // namespace

class MetadataStoreTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    [[nodiscard]] QString file(const QString &name) const { return m_dir->filePath(name); }

private slots:
    void init() { m_dir = std::make_unique<QTemporaryDir>(); }

    void encodesTheExactFormatAndRoundTrips()
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
        const auto decoded = SidecarCodec::decode(expected);
        QVERIFY(decoded);
        QCOMPARE(*decoded, fullMetadata());
        QCOMPARE(SidecarCodec::encode(*decoded), expected);
    }

    // Absent fields are left out, numbers are shortest, dates whole-second UTC, text escaped.
    void encodesEdgeValues()
    {
        auto metadata = RecordingMetadata::fresh(utc(2024, 5, 1, 12, 30, 5));
        metadata.bpm = 120;
        QCOMPARE(SidecarCodec::encode(metadata),
                 QByteArray("{\n  \"bpm\" : 120,\n  \"createdAt\" : \"2024-05-01T12:30:05Z\"\n}"));

        metadata =
            RecordingMetadata::fresh(QDateTime(QDate(2024, 5, 1), QTime(14, 30, 5, 900), Qt::OffsetFromUTC, 2 * 3600));
        metadata.duration = 1e-7;
        metadata.bpm = 176.5;
        metadata.trimStart = 0;
        metadata.trimEnd = -0.25;
        metadata.musicalKey = QStringLiteral("a\\b\nc\x01/é🎵");
        const auto bytes = SidecarCodec::encode(metadata);
        QCOMPARE(bytes,
                 QByteArray("{\n  \"bpm\" : 176.5,\n  \"createdAt\" : \"2024-05-01T12:30:05Z\",\n"
                            "  \"duration\" : 1e-07,\n  \"musicalKey\" : \"a\\\\b\\nc\\u0001\\/é🎵\",\n"
                            "  \"trimEnd\" : -0.25,\n  \"trimStart\" : 0\n}"));
        const auto decoded = SidecarCodec::decode(bytes);
        QCOMPARE(decoded->duration, 1e-7);
        QCOMPARE(decoded->musicalKey, metadata.musicalKey);

        // Numbers JSON cannot hold are refused.
        for (const double bad : {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity()}) {
            metadata.bpm = bad;
            QVERIFY_THROWS_EXCEPTION(AppError, SidecarCodec::encode(metadata));
        }
    }

    void decodesAndRejects_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<bool>("readable");
        const QByteArray c = "{\"createdAt\":\"2024-05-01T12:30:05Z\"";
        QTest::newRow("only createdAt") << c + "}" << true;
        QTest::newRow("plain slashes") << c + ",\"musicalKey\":\"A/B\"}" << true;
        QTest::newRow("unknown keys") << c + ",\"x\":[1,{}]}" << true;
        QTest::newRow("offset date") << QByteArray("{\"createdAt\":\"2024-05-01T14:30:05+02:00\"}") << true;
        QTest::newRow("no createdAt") << QByteArray("{\"bpm\":120}") << false;
        QTest::newRow("fractional seconds") << QByteArray("{\"createdAt\":\"2024-05-01T12:30:05.5Z\"}") << false;
        QTest::newRow("date only") << QByteArray("{\"createdAt\":\"2024-05-01\"}") << false;
        QTest::newRow("impossible date") << QByteArray("{\"createdAt\":\"2024-02-30T12:30:05Z\"}") << false;
        QTest::newRow("numeric createdAt") << QByteArray("{\"createdAt\":1714566605}") << false;
        QTest::newRow("bpm as text") << c + ",\"bpm\":\"120\"}" << false;
        QTest::newRow("key as number") << c + ",\"musicalKey\":5}" << false;
        QTest::newRow("null duration") << c + ",\"duration\":null}" << false;
        QTest::newRow("bad analyzedAt") << c + ",\"analyzedAt\":\"x\"}" << false;
        QTest::newRow("source not object") << c + ",\"source\":\"x\"}" << false;
        QTest::newRow("source without capturedAt") << c + ",\"source\":{\"appName\":\"Music\"}}" << false;
        QTest::newRow("array") << QByteArray("[]") << false;
        QTest::newRow("truncated") << c << false;
        QTest::newRow("empty") << QByteArray() << false;
        QTest::newRow("binary") << QByteArray("\x00\xff\xfe{", 4) << false;
    }

    void decodesAndRejects()
    {
        QFETCH(QByteArray, json);
        QFETCH(bool, readable);
        const auto decoded = SidecarCodec::decode(json);
        QCOMPARE(decoded.has_value(), readable);
        if (decoded)
            QCOMPARE(decoded->createdAt, utc(2024, 5, 1, 12, 30, 5));
        if (decoded && json.contains("A/B"))
            QCOMPARE(decoded->musicalKey, QStringLiteral("A/B"));
    }

    void savesLoadsAndRefuses()
    {
        QCOMPARE(MetadataStore::metadataURL(QStringLiteral("/F/Take.m4a")),
                 QStringLiteral("/F/.vespertone/metadata/Take.m4a.vtmeta.json"));
        QCOMPARE(MetadataStore::legacyMetadataURL(QStringLiteral("/F/Take.m4a")),
                 QStringLiteral("/F/Take.vtmeta.json"));
        QCOMPARE(MetadataStore::legacyMetadataURL(QStringLiteral("/F/a.b.wav")), QStringLiteral("/F/a.b.vtmeta.json"));

        // Saving creates the metadata folder.
        MetadataStore::save(fullMetadata(), file(QStringLiteral("Take.m4a")));
        QVERIFY(QFileInfo::exists(file(QStringLiteral(".vespertone/metadata/Take.m4a.vtmeta.json"))));
        QCOMPARE(MetadataStore::load(file(QStringLiteral("Take.m4a"))), fullMetadata());
        QCOMPARE(MetadataStore::load(file(QStringLiteral("Other.m4a"))), std::nullopt);

        // Oversized sidecars are not read.
        QByteArray huge = "{\"createdAt\":\"2024-05-01T12:30:05Z\",\"pad\":\"";
        huge += QByteArray(MetadataStore::maximumSidecarSize, 'x') + "\"}";
        writeAll(MetadataStore::metadataURL(file(QStringLiteral("Huge.wav"))), huge);
        QCOMPARE(MetadataStore::load(file(QStringLiteral("Huge.wav"))), std::nullopt);

        // A file where the metadata folder belongs.
        QTemporaryDir blocked;
        writeAll(blocked.filePath(QStringLiteral(".vespertone")), "a file where the folder should be");
        QVERIFY_THROWS_EXCEPTION(AppError,
                                 MetadataStore::save(fullMetadata(), blocked.filePath(QStringLiteral("T.wav"))));
    }

    void legacySidecars()
    {
        // Migrated on load.
        const auto take = file(QStringLiteral("Take.m4a"));
        writeAll(file(QStringLiteral("Take.vtmeta.json")), SidecarCodec::encode(fullMetadata()));
        QCOMPARE(MetadataStore::load(take), fullMetadata());
        QVERIFY(!QFileInfo::exists(file(QStringLiteral("Take.vtmeta.json"))));
        QVERIFY(QFileInfo::exists(MetadataStore::metadataURL(take)));
        QCOMPARE(MetadataStore::load(take), fullMetadata());

        // A readable sidecar wins over the legacy file, which goes on the next save.
        const auto song = file(QStringLiteral("Song.m4a"));
        const auto legacy = file(QStringLiteral("Song.vtmeta.json"));
        writeAll(legacy, SidecarCodec::encode(RecordingMetadata::fresh(utc(2020, 1, 1, 0, 0, 0))));
        writeAll(MetadataStore::metadataURL(song), SidecarCodec::encode(fullMetadata()));
        QCOMPARE(MetadataStore::load(song), fullMetadata());
        QVERIFY(QFileInfo::exists(legacy));
        MetadataStore::save(fullMetadata(), song);
        QVERIFY(!QFileInfo::exists(legacy));

        // An unreadable sidecar falls back to the legacy file, which is then dropped.
        const auto loop = file(QStringLiteral("Loop.wav"));
        writeAll(MetadataStore::metadataURL(loop), "{\"bpm\":120}");
        const auto older = RecordingMetadata::fresh(utc(2021, 2, 3, 4, 5, 6));
        writeAll(file(QStringLiteral("Loop.vtmeta.json")), SidecarCodec::encode(older));
        QCOMPARE(MetadataStore::load(loop), older);
        QVERIFY(!QFileInfo::exists(file(QStringLiteral("Loop.vtmeta.json"))));
    }

    void movesAndTrashesMetadata()
    {
        const auto a = file(QStringLiteral("A.m4a"));
        const auto b = file(QStringLiteral("B.m4a"));
        MetadataStore::save(fullMetadata(), a);
        MetadataStore::save(RecordingMetadata::fresh(utc(2019, 1, 1, 0, 0, 0)), b);
        MetadataStore::moveMetadata(a, b);
        QCOMPARE(MetadataStore::load(b), fullMetadata());
        QVERIFY(!QFileInfo::exists(MetadataStore::metadataURL(a)));
        // Nothing to move: the destination's old sidecar is gone and nothing else happens.
        MetadataStore::moveMetadata(a, b);
        QVERIFY(!QFileInfo::exists(MetadataStore::metadataURL(b)));

        // A legacy sidecar moves to the destination's sidecar.
        writeAll(file(QStringLiteral("L.vtmeta.json")), SidecarCodec::encode(fullMetadata()));
        MetadataStore::moveMetadata(file(QStringLiteral("L.wav")), file(QStringLiteral("C.wav")));
        QCOMPARE(MetadataStore::load(file(QStringLiteral("C.wav"))), fullMetadata());
        QVERIFY(!QFileInfo::exists(file(QStringLiteral("L.vtmeta.json"))));

        // Trashing takes both files and shrugs off a failure.
        FolderTrash trash(file(QStringLiteral("Trash")));
        const auto take = file(QStringLiteral("Take.wav"));
        MetadataStore::save(fullMetadata(), take);
        writeAll(file(QStringLiteral("Take.vtmeta.json")), "{}");
        trash.failingPaths << MetadataStore::metadataURL(take);
        MetadataStore::trashMetadata(take, trash);
        QCOMPARE(trash.trashed, QStringList{file(QStringLiteral("Take.vtmeta.json"))});
        QVERIFY(QFileInfo::exists(MetadataStore::metadataURL(take)));
    }

    void sourceTitlesAndItemIdentity()
    {
        using Titles = std::tuple<std::optional<QString>, std::optional<QString>, QString>;
        for (const auto &[app, window, title] :
             {Titles{{}, {}, "Unknown source"}, Titles{"Music", QString(), "Music"},
              Titles{QString(), QString(), QString()}, Titles{QString(), "Track", "Track"}}) {
            RecordingSourceContext context;
            context.appName = app;
            context.windowTitle = window;
            QCOMPARE(context.displayTitle(), title);
        }
        const auto microphone = RecordingSourceContext::microphone(utc(2024, 1, 1, 0, 0, 0));
        QCOMPARE(microphone.displayTitle(), QStringLiteral("Default microphone"));
        QCOMPARE(microphone.appName, QStringLiteral("Microphone"));
        QVERIFY(!microphone.urlString && !microphone.bundleIdentifier);

        // Items of the same file share their identity.
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
            for (int i = 0, edits = 1 + int(random.bounded(8)); i < edits; ++i) {
                const int at = int(random.bounded(bytes.size()));
                switch (random.bounded(3)) {
                case 0: bytes[at] = char(random.bounded(256)); break;
                case 1: bytes.remove(at, 1 + int(random.bounded(16))); break;
                default: bytes.insert(at, char(random.bounded(256))); break;
                }
            }
            if (const auto decoded = SidecarCodec::decode(bytes)) {
                QVERIFY(decoded->createdAt.isValid());
                // A corrupted number can only decode to a finite double, so encode must not throw.
                QVERIFY(SidecarCodec::decode(SidecarCodec::encode(*decoded)).has_value());
            }
        }
    }
};

QTEST_GUILESS_MAIN(MetadataStoreTest)
#include "test_metadata_store.moc"
