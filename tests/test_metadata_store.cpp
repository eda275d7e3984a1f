// Sidecar format and MetadataStore: the file format other builds must read byte for byte.

#include "base/AppError.h"
#include "library/MetadataStore.h"
#include "library/SidecarCodec.h"
#include "support/TaskRunner.h"
#include "support/TestEnvironment.h"
#include "support/TestFiles.h"

#include <QTemporaryDir>
#include <QTest>

#include <map>

#include <limits>

namespace {

QDateTime utc(int y, int mo, int d, int h, int mi, int s)
{
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s), Qt::UTC);
}

// Every field, with text to escape and a number with no short decimal form.
const auto fullJson = R"({"createdAt": "2024-05-01T12:30:05Z", "duration": 127.6, "bpm": 120, "musicalKey": "F# minor",
    "analyzedAt": "2024-05-01T12:31:00Z", "trimStart": 0.30000000000000004, "trimEnd": 4, "source": {"appName": "Firefox",
    "bundleIdentifier": "org.mozilla.firefox", "windowTitle": "Song \"live\" — AC/DC\tmix",
    "urlString": "https://example.org/watch?v=1", "capturedAt": "2024-05-01T12:29:59Z"}})";

const RecordingMetadata full = *SidecarCodec::decode(fullJson);
const QByteArray legacyBytes = SidecarCodec::encode(RecordingMetadata::fresh(utc(2020, 1, 1, 0, 0, 0)));
const QByteArray currentBytes = SidecarCodec::encode(full);
const QByteArray malformed = "{\"bpm\":120}";

} // namespace

class MetadataStoreTest : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    [[nodiscard]] QString file(const char *name) const { return m_dir->filePath(QString::fromUtf8(name)); }

private slots:
    void init() { m_dir = std::make_unique<QTemporaryDir>(); }

    /// What is written reads back as it was; the layout other builds read: sorted keys (nested
    /// ones too), absent fields left out, shortest numbers, whole-second UTC dates, escaped text.
    void encodesAndRoundTrips()
    {
        QCOMPARE(full.source->windowTitle, QStringLiteral("Song \"live\" — AC/DC\tmix"));
        QCOMPARE(SidecarCodec::decode(currentBytes), std::optional(full));
        auto metadata =
            RecordingMetadata::fresh(QDateTime(QDate(2024, 5, 1), QTime(14, 30, 5, 900), Qt::OffsetFromUTC, 7200));
        metadata.duration = 1e-7;
        metadata.trimEnd = -0.25;
        metadata.musicalKey = QStringLiteral("a\\b\nc\x01/é🎵");
        metadata.source.emplace();
        metadata.source->appName = "A";
        metadata.source->capturedAt = utc(2024, 5, 1, 12, 29, 59);
        const auto bytes = SidecarCodec::encode(metadata);
        QCOMPARE(bytes,
                 QByteArray("{\n  \"createdAt\" : \"2024-05-01T12:30:05Z\",\n  \"duration\" : 1e-07,\n"
                            "  \"musicalKey\" : \"a\\\\b\\nc\\u0001\\/é🎵\",\n  \"source\" : {\n"
                            "    \"appName\" : \"A\",\n    \"capturedAt\" : \"2024-05-01T12:29:59Z\"\n"
                            "  },\n  \"trimEnd\" : -0.25\n}"));
        // Numbers JSON cannot hold are refused.
        for (const double bad : {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity()}) {
            metadata.bpm = bad;
            QVERIFY_THROWS_EXCEPTION(AppError, SidecarCodec::encode(metadata));
        }
    }

    void decodesAndRejects()
    {
        const QByteArray c = "{\"createdAt\":\"2024-05-01T12:30:05Z\"";
        QCOMPARE(SidecarCodec::decode(c + ",\"x\":[1,{}]}")->createdAt, utc(2024, 5, 1, 12, 30, 5));
        for (const QByteArray &json : std::initializer_list<QByteArray>{
                 malformed, c + ",\"bpm\":\"120\"}", c + ",\"source\":{\"appName\":\"Music\"}}", c,
                 QByteArray("{\"createdAt\":\"2024-05-01T12:30:05.5Z\"}")})
            QVERIFY2(!SidecarCodec::decode(json), json.constData());
    }

    /// The precise analysis's figures: written after the old keys' layout, read back whole, and
    /// invisible to what the old keys say.
    void encodesConfidences()
    {
        auto metadata = RecordingMetadata::fresh(utc(2024, 5, 1, 12, 30, 5));
        metadata.bpm = 121.5;
        metadata.bpmConfidence = 0.81;
        metadata.bpmAlternatives = {{60.7, 0.13}, {243, 0.05}};
        metadata.musicalKey = QStringLiteral("A minor");
        metadata.keyConfidence = 0.64;
        metadata.keyAlternatives = {{QStringLiteral("C major"), 0.3}};
        const auto bytes = SidecarCodec::encode(metadata);
        QCOMPARE(bytes,
                 QByteArray("{\n  \"bpm\" : 121.5,\n  \"bpmAlternatives\" : [\n    {\n      \"bpm\" : 60.7,\n"
                            "      \"confidence\" : 0.13\n    },\n    {\n      \"bpm\" : 243,\n"
                            "      \"confidence\" : 0.05\n    }\n  ],\n  \"bpmConfidence\" : 0.81,\n"
                            "  \"createdAt\" : \"2024-05-01T12:30:05Z\",\n  \"keyAlternatives\" : [\n    {\n"
                            "      \"confidence\" : 0.3,\n      \"musicalKey\" : \"C major\"\n    }\n  ],\n"
                            "  \"keyConfidence\" : 0.64,\n  \"musicalKey\" : \"A minor\"\n}"));
        QCOMPARE(SidecarCodec::decode(bytes), std::optional(metadata));
        // What a reader of the old keys finds is what a sidecar without the new ones holds.
        auto plain = metadata;
        plain.bpmConfidence = plain.keyConfidence = std::nullopt;
        plain.bpmAlternatives.clear();
        plain.keyAlternatives.clear();
        auto read = *SidecarCodec::decode(bytes);
        read.bpmConfidence = read.keyConfidence = std::nullopt;
        read.bpmAlternatives.clear();
        read.keyAlternatives.clear();
        QCOMPARE(read, plain);
        QCOMPARE(SidecarCodec::encode(read), SidecarCodec::encode(plain));
    }

    void readsConfidencesLeniently_data()
    {
        QTest::addColumn<QByteArray>("members");
        QTest::addColumn<std::optional<double>>("bpmConfidence");
        QTest::addColumn<QVector<TempoCandidate>>("bpmAlternatives");
        QTest::addColumn<std::optional<double>>("keyConfidence");
        QTest::addColumn<QVector<KeyCandidate>>("keyAlternatives");
        const std::optional<double> none;
        QTest::newRow("all in range") << QByteArray(R"("bpmConfidence": 1, "keyConfidence": 0,
            "bpmAlternatives": [{"bpm": 60, "confidence": 0.2}], "keyAlternatives": [{"musicalKey": "Eb minor",
            "confidence": 0.1}])") << std::optional(1.0)
                                      << QVector<TempoCandidate>{{60, 0.2}} << std::optional(0.0)
                                      << QVector<KeyCandidate>{{"Eb minor", 0.1}};
        QTest::newRow("confidences out of range or not numbers")
            << QByteArray(R"("bpmConfidence": 1.5, "keyConfidence": "high")") << none << QVector<TempoCandidate>{}
            << none << QVector<KeyCandidate>{};
        QTest::newRow("bad alternatives are skipped")
            << QByteArray(R"("bpmAlternatives": [{"bpm": -3, "confidence": 0.2}, {"bpm": 2000, "confidence": 0.2},
            {"bpm": 90}, "x", {"bpm": 90, "confidence": -0.1}, {"bpm": 45, "confidence": 0.4}],
            "keyAlternatives": [{"musicalKey": "H minor", "confidence": 0.2}, {"musicalKey": "A minor"},
            {"musicalKey": "C major", "confidence": 0.3}])")
            << none << QVector<TempoCandidate>{{45, 0.4}} << none << QVector<KeyCandidate>{{"C major", 0.3}};
        QTest::newRow("not arrays") << QByteArray(R"("bpmAlternatives": {"bpm": 60}, "keyAlternatives": "C major")")
                                    << none << QVector<TempoCandidate>{} << none << QVector<KeyCandidate>{};
        QTest::newRow("at most four") << QByteArray(R"("bpmAlternatives": [{"bpm": 1, "confidence": 0},
            {"bpm": 2, "confidence": 0}, {"bpm": 3, "confidence": 0}, {"bpm": 4, "confidence": 0},
            {"bpm": 5, "confidence": 0}])")
                                      << none << QVector<TempoCandidate>{{1, 0}, {2, 0}, {3, 0}, {4, 0}} << none
                                      << QVector<KeyCandidate>{};
    }

    /// The figures are derived: a bad one is dropped, and the rest of the sidecar still reads.
    void readsConfidencesLeniently()
    {
        QFETCH(QByteArray, members);
        QFETCH(std::optional<double>, bpmConfidence);
        QFETCH(QVector<TempoCandidate>, bpmAlternatives);
        QFETCH(std::optional<double>, keyConfidence);
        QFETCH(QVector<KeyCandidate>, keyAlternatives);
        const auto read = SidecarCodec::decode(
            R"({"createdAt": "2024-05-01T12:30:05Z", "bpm": 120, "musicalKey": "A minor", )" + members + "}");
        QVERIFY(read);
        QCOMPARE(read->bpm, std::optional(120.0));
        QCOMPARE(read->musicalKey, std::optional<QString>("A minor"));
        QCOMPARE(read->bpmConfidence, bpmConfidence);
        QCOMPARE(read->bpmAlternatives, bpmAlternatives);
        QCOMPARE(read->keyConfidence, keyConfidence);
        QCOMPARE(read->keyAlternatives, keyAlternatives);
    }

    /// A number no take can have reads as absent; the rest of the sidecar stands.
    void impossibleNumbersReadAsAbsent_data()
    {
        QTest::addColumn<QByteArray>("member");
        QTest::addColumn<QString>("field");
        QTest::newRow("huge duration") << QByteArray("\"duration\":1e300") << "duration";
        QTest::newRow("negative duration") << QByteArray("\"duration\":-5") << "duration";
        QTest::newRow("huge tempo") << QByteArray("\"bpm\":1e300") << "bpm";
        QTest::newRow("negative tempo") << QByteArray("\"bpm\":-1e300") << "bpm";
        QTest::newRow("huge trim start") << QByteArray("\"trimStart\":1.7976931348623157e308") << "trimStart";
        QTest::newRow("huge trim end") << QByteArray("\"trimEnd\":9.3e18") << "trimEnd";
    }
    void impossibleNumbersReadAsAbsent()
    {
        QFETCH(QByteArray, member);
        QFETCH(QString, field);
        QByteArray json = "{\"createdAt\":\"2024-05-01T12:30:05Z\",\"musicalKey\":\"A minor\"," + member;
        for (const auto &[name, number] :
             {std::pair{"duration", "2.5"}, {"bpm", "120"}, {"trimStart", "0.5"}, {"trimEnd", "2"}}) {
            if (field != QLatin1String(name))
                json += ",\"" + QByteArray(name) + "\":" + number;
        }
        const auto decoded = SidecarCodec::decode(json + "}");
        QVERIFY(decoded);
        const std::map<QString, std::optional<double>> numbers{{"duration", decoded->duration},
                                                               {"bpm", decoded->bpm},
                                                               {"trimStart", decoded->trimStart},
                                                               {"trimEnd", decoded->trimEnd}};
        const std::map<QString, std::optional<double>> kept{
            {"duration", 2.5}, {"bpm", 120.0}, {"trimStart", 0.5}, {"trimEnd", 2.0}};
        for (const auto &[name, value] : numbers)
            QCOMPARE(value, name == field ? std::nullopt : kept.at(name));
        QCOMPARE(decoded->musicalKey, std::optional<QString>("A minor"));
    }

    /// Which of a sidecar and a legacy sidecar a load reads (without writing anything); a migration
    /// leaves what loads, and keeps the legacy file only when nothing loads.
    void legacySidecars()
    {
        for (const auto &[sidecar, legacy, loaded, fromLegacy] :
             {std::tuple{currentBytes, legacyBytes, currentBytes, false},
              std::tuple{malformed, legacyBytes, legacyBytes, true},
              std::tuple{malformed, malformed, QByteArray(), false}}) {
            init();
            const auto take = file("Take.m4a");
            writeFile(MetadataStore::metadataURL(take), sidecar);
            writeFile(file("Take.vtmeta.json"), legacy);
            const auto before = entriesOf(m_dir->path());
            const auto found = MetadataStore::loadWithOrigin(take);
            QCOMPARE(found ? SidecarCodec::encode(found->metadata) : QByteArray(), loaded);
            QCOMPARE(found && found->fromLegacy, fromLegacy);
            QCOMPARE(entriesOf(m_dir->path()), before);

            MetadataStore::migrateLegacyMetadata(take);
            QCOMPARE(readFile(MetadataStore::metadataURL(take)), loaded.isEmpty() ? sidecar : loaded);
            QCOMPARE(QFileInfo::exists(file("Take.vtmeta.json")), loaded.isEmpty());
            QCOMPARE(MetadataStore::load(take), SidecarCodec::decode(loaded));
        }
    }

    /// A save that cannot be written names the cause and leaves the old sidecar whole.
    void failedSavesKeepTheOldSidecar()
    {
        const auto take = file("Take.wav");
        writeFile(MetadataStore::metadataURL(take), legacyBytes);
        writeFile(file("Take.vtmeta.json"), legacyBytes);
        {
            FileSizeLimit fullDisk(16);
            QCOMPARE(failureOf([&] { MetadataStore::save(full, take); }),
                     QStringLiteral("The metadata of “Take.wav” could not be saved. The disk is full."));
            QCOMPARE(readFile(MetadataStore::metadataURL(take)), legacyBytes);
            // A migration that cannot write keeps the legacy file.
            QVERIFY(QFile::remove(MetadataStore::metadataURL(take)));
            QVERIFY(!failureOf([&] { MetadataStore::migrateLegacyMetadata(take); }).isEmpty());
        }
        QCOMPARE(readFile(file("Take.vtmeta.json")), legacyBytes);
        QCOMPARE(entriesOf(MetadataStore::metadataFolder(take)), QStringList());
        MetadataStore::save(full, take);
        QCOMPARE(MetadataStore::load(take), full);
        QVERIFY(!QFileInfo::exists(file("Take.vtmeta.json")));

        // Oversized sidecars are not read.
        writeFile(MetadataStore::metadataURL(file("Huge.wav")),
                  currentBytes.chopped(1) + ",\"pad\":\"" + QByteArray(MetadataStore::maximumSidecarSize, 'x') + "\"}");
        QCOMPARE(MetadataStore::load(file("Huge.wav")), std::nullopt);
    }

    void movesAndTrashesMetadata()
    {
        const auto a = file("A.m4a"), b = file("B.m4a");
        MetadataStore::save(full, a);
        MetadataStore::save(RecordingMetadata::fresh(utc(2019, 1, 1, 0, 0, 0)), b);
        MetadataStore::moveMetadata(a, b);
        QCOMPARE(MetadataStore::load(b), full);
        QVERIFY(!QFileInfo::exists(MetadataStore::metadataURL(a)));
        // A readable legacy sidecar moves in place of a malformed one.
        writeFile(file("L.vtmeta.json"), currentBytes);
        writeFile(MetadataStore::metadataURL(file("L.wav")), malformed);
        MetadataStore::moveMetadata(file("L.wav"), a);
        QCOMPARE(MetadataStore::load(a), full);

        // Trashing takes both files and shrugs off a failure.
        FolderTrash trash(file("Trash"));
        const auto take = file("Take.wav");
        MetadataStore::save(full, take);
        writeFile(file("Take.vtmeta.json"), "{}");
        trash.failingPaths << MetadataStore::metadataURL(take);
        MetadataStore::trashMetadata(take, trash);
        QCOMPARE(trash.trashed, QStringList{file("Take.vtmeta.json")});
        QVERIFY(QFileInfo::exists(MetadataStore::metadataURL(take)));
    }
};

QTEST_GUILESS_MAIN(MetadataStoreTest)
#include "test_metadata_store.moc"
