// Damaged, truncated, odd and random input: audio files, sample values and sidecars. Nothing
// may crash or hang; what can be read is read in full (and analysed and cut), the rest fails
// with AudioFileError. The reader, analyzer and trimmer suites rely on this one for damage.

#include "analysis/AudioAnalyzer.h"
#include "analysis/LoopFinderService.h"
#include "library/RecordingScanner.h"
#include "library/SidecarCodec.h"
#include "media/AudioFileError.h"
#include "media/AudioFileReader.h"
#include "media/AudioTrimmer.h"
#include "media/FFmpegLogging.h"
#include "support/AudioFixtures.h"
#include "support/TaskRunner.h"
#include "support/TestFiles.h"

#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <functional>
#include <limits>

namespace {

using Damage = std::function<QByteArray(const QByteArray &)>;

QByteArray randomBytes(int size, quint32 seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator generator(seed);
    for (auto &byte : bytes)
        byte = char(generator.bounded(256));
    return bytes;
}

/// The first \a fraction of the file.
Damage cut(double fraction)
{
    return [fraction](const QByteArray &bytes) { return bytes.left(qsizetype(double(bytes.size()) * fraction)); };
}

/// The file with the 32-bit little-endian data size of its WAV header set to \a size.
Damage statedWavSize(quint32 size)
{
    return [size](QByteArray bytes) {
        const auto at = bytes.indexOf("data") + 4;
        for (int i = 0; i < 4; ++i)
            bytes[at + i] = char(size >> (8 * i) & 0xFF);
        return bytes;
    };
}

Damage replaced(const QByteArray &content)
{
    return [content](const QByteArray &) { return content; };
}

/// Frames of the first channel read to the end.
qint64 framesRead(AudioFileReader &reader)
{
    AudioBuffer buffer;
    qint64 total = 0;
    while (const auto got = reader.read(buffer, 8192)) {
        if (qint64(buffer.frameLength) != got)
            return -1;
        total += got;
    }
    return total;
}

} // namespace

Q_DECLARE_METATYPE(Damage)

class AudioRobustnessTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString path(const QString &name) const { return m_dir.filePath(name); }

private slots:
    void initTestCase() { configureFFmpegLogging(); }

    /// A 2 s tone (96000 frames), damaged; \a frames is what must be read: -1 when the file
    /// must be refused, else the length the reader reports and delivers, give or take \a slack.
    void damagedFiles_data()
    {
        QTest::addColumn<QString>("extension");
        QTest::addColumn<Damage>("damage");
        QTest::addColumn<qint64>("frames");
        QTest::addColumn<qint64>("slack");
        const auto random = randomBytes(60000, 7);
        for (const char *extension : {"wav", "aiff", "m4a", "mp3"}) {
            QTest::addRow("empty %s", extension) << extension << replaced({}) << -1LL << 0LL;
            QTest::addRow("random %s", extension) << extension << replaced(random) << -1LL << 0LL;
        }
        QTest::newRow("text as wav") << "wav" << replaced("not audio at all\n") << -1LL << 0LL;
        QTest::newRow("id3 only mp3") << "mp3" << replaced("ID3 but nothing else\n") << -1LL << 0LL;
        QTest::newRow("m4a cut before its index") << "m4a" << cut(0.5) << -1LL << 0LL;
        // Half the file holds half the frames, less half its header.
        QTest::newRow("wav cut mid-data") << "wav" << cut(0.5) << 48000LL << 40LL;
        QTest::newRow("wav of unknown length") << "wav" << statedWavSize(0xFFFFFFF0) << 96000LL << 0LL;
        QTest::newRow("wav stating too much") << "wav" << statedWavSize(1u << 30) << 96000LL << 0LL;
        QTest::newRow("aiff cut mid-data") << "aiff" << cut(0.5) << 48000LL << 40LL;
        QTest::newRow("mp3 reads what remains") << "mp3" << cut(0.5) << 48000LL << 20000LL;
    }

    void damagedFiles()
    {
        QFETCH(QString, extension);
        QFETCH(Damage, damage);
        QFETCH(qint64, frames);
        QFETCH(qint64, slack);
        const auto whole = readFile(AudioFixtures::tone(path(QStringLiteral("whole.") + extension), 2.0));
        const auto file =
            writeFile(path(QStringLiteral("damaged-%1.%2").arg(QTest::currentDataTag(), extension)), damage(whole));
        if (frames < 0) {
            QVERIFY_THROWS_EXCEPTION(AudioFileError, {
                AudioFileReader reader(file);
                framesRead(reader);
            });
            return;
        }
        AudioFileReader reader(file);
        const auto read = framesRead(reader);
        QVERIFY2(std::abs(read - frames) <= slack, qPrintable(QString::number(read)));
        if (extension != QLatin1String("mp3")) // an MP3 states the length its header had
            QCOMPARE(reader.length(), read);
        // Every part of the file the reader admits to can be analysed and cut.
        const auto peaks = AudioAnalyzer::waveformPeaksSync(file, 100);
        QVERIFY(!peaks.isEmpty() && *std::max_element(peaks.cbegin(), peaks.cend()) == 1.0f);
        const auto seconds = double(read) / 48000;
        QVERIFY(!LoopFinderService::findLoopsSync(peaks, seconds, std::nullopt, 3).isEmpty());
        const auto trimmed = writeFile(path(QStringLiteral("trim-%1.m4a").arg(QTest::currentDataTag())), {});
        AudioTrimmer trimmer;
        finish(trimmer.trim(file, 0.25, 0.75, trimmed));
        QVERIFY(std::abs(AudioFileReader(trimmed).length() - 24000) <= 1);
    }

    /// Float samples that are not numbers count as silence; infinite ones as full scale.
    void nonFiniteSamples()
    {
        const auto nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
        for (const auto &[value, peak] : {std::pair{nan, 0.25f}, std::pair{inf, 1.0f}, std::pair{-inf, 1.0f}}) {
            // Six seconds of a 0.25 tone with the odd value in every 100th sample of the first half.
            auto samples = AudioFixtures::sine(6 * 48000, 440, 0.25, 48000, 1);
            for (std::size_t i = 0; i < samples.size() / 2; i += 100)
                samples[i] = value;
            const auto file = AudioFixtures::encode(path(QStringLiteral("odd-%1.wav").arg(value)), samples, 48000, 1,
                                                    {QStringLiteral("-c:a"), QStringLiteral("pcm_f32le")});
            const auto peaks = AudioAnalyzer::waveformPeaksSync(file, 100);
            QCOMPARE(peaks.size(), 100);
            const float loudest = std::max(peak, 0.25f);
            QVERIFY2(std::abs(peaks.front() - peak / loudest) < 0.01, qPrintable(QString::number(peaks.front())));
            QVERIFY2(std::abs(peaks.back() - 0.25f / loudest) < 0.01, qPrintable(QString::number(peaks.back())));
            const auto result = AudioAnalyzer::analyzeSync(file);
            QCOMPARE(result.duration, 6.0);
            QVERIFY(!result.bpm || std::isfinite(*result.bpm));
            for (const auto &loop : LoopFinderService::findLoopsSync(peaks, 6, std::nullopt, 6))
                QVERIFY(std::isfinite(loop.confidence));
        }
    }

    /// Corrupted copies of real files open and read to the end or throw AudioFileError; the
    /// scan lists every one of them with a plausible duration.
    void corruptedCopies()
    {
        QTemporaryDir library;
        QRandomGenerator generator(20240611);
        int count = 0;
        for (const char *extension : {"wav", "aiff", "m4a", "mp3"}) {
            const auto original = readFile(
                AudioFixtures::tone(path(QStringLiteral("fuzz-source.%1").arg(QLatin1String(extension))), 0.5, 330));
            for (int round = 0; round < 40; ++round) {
                auto bytes = original;
                for (int i = 0, flips = 1 + int(generator.bounded(12)); i < flips; ++i) {
                    // Headers and indexes sit near either end: aim most of the damage there.
                    const auto size = int(bytes.size());
                    const auto edge = int(generator.bounded(std::min(size, 512)));
                    const auto region = generator.bounded(4);
                    bytes[region == 0       ? edge
                              : region == 1 ? size - 1 - edge
                                            : int(generator.bounded(size))] = char(generator.bounded(256));
                }
                if (round % 5 == 4)
                    bytes.truncate(qsizetype(generator.bounded(int(bytes.size()))));
                // Every fourth copy goes under another container's extension.
                const auto name = round % 4 ? QLatin1String(extension) : QLatin1String("wav");
                const auto file = writeFile(library.filePath(QStringLiteral("f%1.%2").arg(count++).arg(name)), bytes);
                try {
                    AudioFileReader reader(file);
                    QVERIFY(framesRead(reader) <= 100 * 48000);
                    reader.seek(reader.length() / 2);
                    AudioBuffer buffer;
                    reader.read(buffer, 1024);
                } catch (const AudioFileError &) {
                }
            }
        }
        const auto items = RecordingScanner::scan(library.path()).items;
        QCOMPARE(items.size(), count);
        for (const auto &item : items)
            QVERIFY2(std::isfinite(item.duration) && item.duration >= 0 && item.duration < 10, qPrintable(item.url));
    }

    /// Random edits of a valid sidecar decode to a value or none, and what decodes encodes.
    void corruptedSidecars()
    {
        RecordingMetadata metadata = RecordingMetadata::fresh(QDateTime(QDate(2024, 5, 1), QTime(12, 30), Qt::UTC));
        metadata.bpm = 120;
        metadata.musicalKey = QStringLiteral("F# minor");
        metadata.trimEnd = 4.5;
        metadata.source = RecordingSourceContext::microphone(metadata.createdAt);
        const auto valid = SidecarCodec::encode(metadata);
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
                QVERIFY(SidecarCodec::decode(SidecarCodec::encode(*decoded)).has_value());
            }
        }
    }
};

QTEST_GUILESS_MAIN(AudioRobustnessTest)
#include "test_audio_robustness.moc"
