// Damaged, truncated, odd and random input. Nothing may crash or hang; what can be read is read
// in full (and analysed and cut), the rest fails with AudioFileError.

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

/// Frames of the first channel read to the end.
qint64 framesRead(auto &&reader)
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
        const Damage halved = [](const QByteArray &bytes) { return bytes.left(bytes.size() / 2); };
        const Damage unknownLength = [](QByteArray bytes) {
            return bytes.replace(bytes.indexOf("data") + 4, 4, QByteArray(4, '\xFF'));
        };
        QTest::newRow("empty mp3") << "mp3" << Damage([](auto &) { return QByteArray(); }) << -1LL << 0LL;
        QTest::newRow("m4a cut before its index") << "m4a" << halved << -1LL << 0LL;
        // Half the file holds half the frames, less half its header.
        QTest::newRow("wav cut mid-data") << "wav" << halved << 48000LL << 40LL;
        QTest::newRow("wav of unknown length") << "wav" << unknownLength << 96000LL << 0LL;
        QTest::newRow("aiff cut mid-data") << "aiff" << halved << 48000LL << 40LL;
        QTest::newRow("mp3 reads what remains") << "mp3" << halved << 48000LL << 20000LL;
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
            QVERIFY_THROWS_EXCEPTION(AudioFileError, framesRead(AudioFileReader(file)));
            return;
        }
        AudioFileReader reader(file);
        const auto read = framesRead(reader);
        QVERIFY2(std::abs(read - frames) <= slack, qPrintable(QString::number(read)));
        QCOMPARE(reader.length(), read);
        // Every part of the file the reader admits to can be analysed and cut.
        const auto peaks = AudioAnalyzer::waveformPeaksSync(file, 100);
        QVERIFY(!peaks.isEmpty() && *std::max_element(peaks.cbegin(), peaks.cend()) == 1.0f);
        const auto trimmed = writeFile(path(QStringLiteral("trim-%1.m4a").arg(QTest::currentDataTag())), {});
        AudioTrimmer trimmer;
        finish(trimmer.trim(file, 0.25, 0.75, trimmed));
        QVERIFY(std::abs(AudioFileReader(trimmed).length() - 24000) <= 1);
    }

    /// An MP3 whose Xing frame states more frames than the file can hold (a bogus count, a file
    /// cut short) is measured by its frames instead: its length is what it plays, so its envelope
    /// spreads over it.
    void impossibleMp3Lengths_data()
    {
        QTest::addColumn<int>("sampleRate");
        QTest::addColumn<QStringList>("rate");
        QTest::addColumn<Damage>("damage");
        QTest::addColumn<double>("seconds");
        const auto cutAt = [](double seconds) {
            // The tags in front take a few hundred bytes.
            return Damage(
                [seconds](const QByteArray &bytes) { return bytes.left(qsizetype(bytes.size() * seconds / 3 + 400)); });
        };
        // 2^31 frames of 576 samples at 8 kHz: 154,618,822 s.
        const Damage bogusCount = [](QByteArray bytes) {
            const auto tag = std::max(bytes.indexOf("Xing"), bytes.indexOf("Info"));
            return bytes.replace(tag + 8, 4, QByteArray::fromHex("80000000"));
        };
        // The same cut, but the Info tag without its byte count (the count's four bytes removed
        // and the 576-byte tag frame of 192 kbit/s mono at 48 kHz filled up again).
        const auto cutWithoutBytes = [cutAt](double seconds) {
            return Damage([cut = cutAt(seconds)](QByteArray bytes) {
                const auto tag = bytes.indexOf("Info"), frame = tag - 21;
                bytes[tag + 7] = char(bytes[tag + 7] & ~2);
                bytes.remove(tag + 12, 4);
                bytes.insert(frame + 576 - 4, QByteArray(4, 0));
                return cut(bytes);
            });
        };
        const QStringList constant{"-b:a", "192k"}, variable{"-q:a", "0"};
        QTest::newRow("2^31 frames at 8 kHz") << 8000 << QStringList{"-b:a", "16k"} << bogusCount << 3.0;
        QTest::newRow("2^31 frames at 8 kHz, variable") << 8000 << variable << bogusCount << 3.0;
        QTest::newRow("3 s cut to 0.65 s") << 48000 << constant << cutAt(0.65) << 0.65;
        QTest::newRow("3 s cut to 1.4 s") << 48000 << constant << cutAt(1.4) << 1.4;
        QTest::newRow("3 s cut to 1.4 s, variable") << 48000 << variable << cutAt(1.4) << 1.4;
        QTest::newRow("3 s cut to 1.4 s, no byte count") << 48000 << constant << cutWithoutBytes(1.4) << 1.4;
    }

    void impossibleMp3Lengths()
    {
        QFETCH(int, sampleRate);
        QFETCH(QStringList, rate);
        QFETCH(Damage, damage);
        QFETCH(double, seconds);
        // Noise, so that a variable bit rate stays high and only the stated bytes tell the cut.
        auto samples = AudioFixtures::sine(3 * sampleRate, 440, 0.3, sampleRate, 1);
        QRandomGenerator noise(7);
        for (auto &sample : samples)
            sample += float(noise.bounded(0.4) - 0.2);
        const auto whole = readFile(AudioFixtures::encode(
            path(QStringLiteral("whole-%1.mp3").arg(QTest::currentDataTag())), samples, sampleRate, 1, rate));
        const auto file =
            writeFile(path(QStringLiteral("impossible-%1.mp3").arg(QTest::currentDataTag())), damage(whole));
        AudioFileReader reader(file);
        const auto read = framesRead(reader);
        QCOMPARE(reader.length(), read);
        QCOMPARE(AudioFileReader::measure(file).length, read);
        QVERIFY2(std::abs(AudioAnalyzer::duration(file) - seconds) < 0.1, qPrintable(QString::number(read)));
        QVERIFY(AudioAnalyzer::waveformPeaksSync(file, 1100).size() >= 1100);
    }

    /// Float samples that are not numbers count as silence; infinite ones as full scale, so the
    /// clean second half of the envelope is 1 or 0.25.
    void nonFiniteSamples()
    {
        const auto nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
        for (const auto &[value, back] : {std::pair{nan, 1.0f}, std::pair{inf, 0.25f}, std::pair{-inf, 0.25f}}) {
            auto samples = AudioFixtures::sine(6 * 48000, 440, 0.25, 48000, 1);
            for (std::size_t i = 0; i < samples.size() / 2; i += 100)
                samples[i] = value;
            const auto file = AudioFixtures::encode(path(QStringLiteral("odd-%1.wav").arg(value)), samples, 48000, 1,
                                                    {QStringLiteral("-c:a"), QStringLiteral("pcm_f32le")});
            const auto peaks = AudioAnalyzer::waveformPeaksSync(file, 100);
            QVERIFY(std::all_of(peaks.cbegin(), peaks.cend(), [](float peak) { return std::isfinite(peak); }));
            QVERIFY2(std::abs(peaks.back() - back) < 0.01, qPrintable(QString::number(peaks.back())));
            const auto result = AudioAnalyzer::analyzeSync(file);
            QVERIFY(!result.bpm || std::isfinite(*result.bpm));
            for (const auto &loop : LoopFinderService::findLoopsSync(peaks, 6, std::nullopt, 6))
                QVERIFY(std::isfinite(loop.confidence));
        }
    }

    /// Damaged copies of real files read to the end or throw AudioFileError; the scan lists every
    /// one of them with a plausible duration.
    void corruptedCopies()
    {
        QTemporaryDir library;
        int count = 0;
        for (const char *extension : {"wav", "aiff", "m4a", "mp3"}) {
            const auto original = readFile(
                AudioFixtures::tone(path(QStringLiteral("fuzz-source.%1").arg(QLatin1String(extension))), 0.5, 330));
            for (const quint32 seed : {1u, 2u, 3u, 4u}) {
                QRandomGenerator generator(seed);
                auto bytes = original;
                // Headers and indexes sit near either end: flip bytes there, then maybe cut.
                for (int i = 0; i < 8; ++i) {
                    const auto edge = int(generator.bounded(std::min(int(bytes.size()), 512)));
                    bytes[i % 2 ? edge : bytes.size() - 1 - edge] = char(generator.bounded(256));
                }
                if (seed % 2)
                    bytes.truncate(qsizetype(generator.bounded(int(bytes.size()))));
                const auto name = seed == 4 ? QLatin1String("wav") : QLatin1String(extension);
                const auto file = writeFile(library.filePath(QStringLiteral("f%1.%2").arg(count++).arg(name)), bytes);
                try {
                    QVERIFY(framesRead(AudioFileReader(file)) <= 100 * 48000);
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
        auto metadata = RecordingMetadata::fresh(QDateTime(QDate(2024, 5, 1), QTime(12, 30), Qt::UTC));
        metadata.source = RecordingSourceContext::microphone(metadata.createdAt);
        QRandomGenerator random(20241206);
        for (int round = 0; round < 3000; ++round) {
            auto bytes = SidecarCodec::encode(metadata);
            for (int i = 0, edits = 1 + int(random.bounded(8)); i < edits; ++i)
                bytes[int(random.bounded(bytes.size()))] = char(random.bounded(256));
            bytes.truncate(bytes.size() - int(random.bounded(8)));
            if (const auto decoded = SidecarCodec::decode(bytes))
                QVERIFY(decoded->createdAt.isValid() && SidecarCodec::decode(SidecarCodec::encode(*decoded)));
        }
    }
};

QTEST_GUILESS_MAIN(AudioRobustnessTest)
#include "test_audio_robustness.moc"
