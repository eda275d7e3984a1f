#include "media/AudioFileError.h"
#include "media/AudioFileReader.h"
#include "support/AudioFixtures.h"

#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

namespace {

/// Every frame of the first channel, read sequentially in \a chunk-frame reads.
std::vector<float> readAll(AudioFileReader &reader, qint64 chunk = 4096)
{
    std::vector<float> samples;
    AudioBuffer buffer;
    while (const auto got = reader.read(buffer, chunk))
        samples.insert(samples.end(), buffer.channels[0].begin(), buffer.channels[0].begin() + got);
    return samples;
}

QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void write(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

} // namespace

class AudioFileReaderTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString path(const QString &name) const { return m_dir.filePath(name); }

private slots:
    void lengthIsExactPerContainer_data()
    {
        QTest::addColumn<QString>("extension");
        QTest::addColumn<int>("sampleRate");
        QTest::addColumn<int>("channels");
        QTest::addColumn<int>("frames");
        QTest::addColumn<QStringList>("extraArguments");
        QTest::addColumn<int>("tolerance");
        for (const char *extension : {"wav", "aiff", "m4a", "mp3"}) {
            const auto ext = QString::fromLatin1(extension);
            // The M4A muxer states the length in milliseconds unless told to use the sample rate.
            const auto exact = ext == QLatin1String("m4a") ? QStringList{"-movie_timescale", "44100"} : QStringList{};
            QTest::addRow("%s stereo 48k", extension) << ext << 48000 << 2 << 72000 << QStringList{} << 0;
            QTest::addRow("%s mono 44.1k odd", extension) << ext << 44100 << 1 << 12345 << exact << 0;
        }
        QTest::newRow("m4a in milliseconds") << QStringLiteral("m4a") << 44100 << 1 << 12345 << QStringList{} << 1152;
    }

    void lengthIsExactPerContainer()
    {
        QFETCH(QString, extension);
        QFETCH(int, sampleRate);
        QFETCH(int, channels);
        QFETCH(int, frames);
        QFETCH(QStringList, extraArguments);
        QFETCH(int, tolerance);
        AudioFileReader reader(AudioFixtures::encode(
            path(QStringLiteral("len-%1.%2").arg(QLatin1String(QTest::currentDataTag()), extension)),
            AudioFixtures::sine(frames, 440, 0.5, sampleRate, channels), sampleRate, channels, extraArguments));
        QCOMPARE(reader.sampleRate(), double(sampleRate));
        QCOMPARE(reader.channelCount(), channels);
        // Encoder delay and padding are removed.
        QVERIFY2(std::abs(reader.length() - frames) <= tolerance, qPrintable(QString::number(reader.length())));
        QCOMPARE(qint64(readAll(reader, 5000).size()), reader.length());
        QCOMPARE(reader.position(), reader.length());
    }

    void seekMatchesSequentialRead_data()
    {
        QTest::addColumn<QString>("extension");
        QTest::addColumn<double>("tolerance");
        QTest::newRow("wav") << QStringLiteral("wav") << 0.0;
        QTest::newRow("aiff") << QStringLiteral("aiff") << 0.0;
        // A one-frame slip of this sine moves samples by up to 0.03; decoder noise stays far below.
        QTest::newRow("m4a") << QStringLiteral("m4a") << 0.002;
        QTest::newRow("mp3") << QStringLiteral("mp3") << 0.002;
    }

    void seekMatchesSequentialRead()
    {
        QFETCH(QString, extension);
        QFETCH(double, tolerance);
        const auto file = AudioFixtures::tone(path(QStringLiteral("seek.") + extension), 2.0, 440, 0.5);
        AudioFileReader reader(file);
        const auto sequential = readAll(reader);
        QCOMPARE(qint64(sequential.size()), reader.length());
        AudioBuffer buffer;
        for (const qint64 target : {0LL, 1LL, 1000LL, 8191LL, 8192LL, 12345LL, 50001LL, 94000LL, 95999LL}) {
            reader.seek(target);
            QCOMPARE(reader.position(), target);
            const auto got = reader.read(buffer, 2000);
            QCOMPARE(got, std::min<qint64>(2000, reader.length() - target));
            double worst = 0;
            for (qint64 i = 0; i < got; ++i)
                worst = std::max(worst, double(std::abs(buffer.channels[0][i] - sequential[target + i])));
            QVERIFY2(worst <= tolerance, qPrintable(QStringLiteral("seek to %1 is off by %2").arg(target).arg(worst)));
        }
        // Backwards after reading on.
        reader.seek(60000);
        reader.read(buffer, 10000);
        reader.seek(3000);
        QCOMPARE(reader.read(buffer, 1), 1);
        QVERIFY(std::abs(buffer.channels[0][0] - sequential[3000]) <= tolerance);
    }

    void readsStopAtLength()
    {
        const auto file = AudioFixtures::tone(path(QStringLiteral("capped.m4a")), 0.5);
        AudioFileReader reader(file);
        AudioBuffer buffer;
        QCOMPARE(reader.read(buffer, reader.length() + 50000), reader.length());
        QCOMPARE(qint64(buffer.frameLength), reader.length());
        QCOMPARE(qint64(buffer.channels[1].size()), reader.length());
        QCOMPARE(reader.read(buffer, 1000), 0);
        QCOMPARE(buffer.frameLength, std::size_t(0));

        reader.seek(reader.length() + 1000);
        QCOMPARE(reader.position(), reader.length());
        QCOMPARE(reader.read(buffer, 1000), 0);
        reader.seek(-5);
        QCOMPARE(reader.position(), 0);
        QCOMPARE(reader.read(buffer, 10), 10);

        AudioFileReader empty(AudioFixtures::silence(path(QStringLiteral("zero.wav")), 0));
        QCOMPARE(empty.length(), 0);
        QCOMPARE(empty.read(buffer, 4096), 0);
    }

    void wrongExtensionIsReadByContent()
    {
        const auto named = path(QStringLiteral("really-wav.mp3"));
        QVERIFY(QFile::copy(AudioFixtures::tone(path(QStringLiteral("really-wav.wav")), 0.25), named));
        AudioFileReader reader(named);
        QCOMPARE(reader.length(), 12000);
        QCOMPARE(qint64(readAll(reader).size()), 12000);
    }

    void badFilesThrow_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("bytes");
        QByteArray random(60000, Qt::Uninitialized);
        QRandomGenerator generator(7);
        for (auto &byte : random)
            byte = char(generator.bounded(256));
        QTest::newRow("missing") << QStringLiteral("missing.wav") << QByteArray();
        QTest::newRow("empty wav") << QStringLiteral("empty.wav") << QByteArray("");
        QTest::newRow("empty m4a") << QStringLiteral("empty.m4a") << QByteArray("");
        QTest::newRow("text as wav") << QStringLiteral("text.wav") << QByteArray("not audio at all\n");
        QTest::newRow("text as mp3") << QStringLiteral("text.mp3") << QByteArray("ID3 but nothing else\n");
        QTest::newRow("random wav") << QStringLiteral("random.wav") << random;
        QTest::newRow("random m4a") << QStringLiteral("random.m4a") << random;
        QTest::newRow("random mp3") << QStringLiteral("random.mp3") << random;
        QTest::newRow("random aiff") << QStringLiteral("random.aiff") << random;
    }

    void badFilesThrow()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, bytes);
        const auto file = path(QStringLiteral("bad-") + name);
        if (QTest::currentDataTag() != QLatin1String("missing"))
            write(file, bytes);
        QVERIFY_THROWS_EXCEPTION(AudioFileError, { AudioFileReader reader(file); });
    }

    void truncatedFiles_data()
    {
        QTest::addColumn<QString>("extension");
        QTest::addColumn<bool>("readable");
        QTest::newRow("m4a cut before its index") << QStringLiteral("m4a") << false;
        QTest::newRow("wav cut mid-data") << QStringLiteral("wav") << false;
        QTest::newRow("aiff cut mid-data") << QStringLiteral("aiff") << false;
        QTest::newRow("mp3 reads what remains") << QStringLiteral("mp3") << true;
    }

    /// A file cut in half either reads what remains or throws, refusing to open or while
    /// reading; it never returns silence in place of the missing audio.
    void truncatedFiles()
    {
        QFETCH(QString, extension);
        QFETCH(bool, readable);
        const auto bytes = contents(AudioFixtures::tone(path(QStringLiteral("whole.") + extension), 2.0));
        const auto cut = path(QStringLiteral("cut.") + extension);
        write(cut, bytes.left(bytes.size() / 2));
        if (readable) {
            AudioFileReader reader(cut);
            const auto frames = qint64(readAll(reader).size());
            QVERIFY2(frames > 30000 && frames < 70000, qPrintable(QString::number(frames)));
            return;
        }
        QVERIFY_THROWS_EXCEPTION(AudioFileError, {
            AudioFileReader reader(cut);
            readAll(reader);
        });
    }

    /// Corrupted copies of real files either open and read to the end or throw
    /// AudioFileError; none may crash or hang.
    void corruptedCopiesNeverCrash()
    {
        QRandomGenerator generator(20240611);
        for (const char *extension : {"wav", "aiff", "m4a", "mp3"}) {
            const auto original = contents(
                AudioFixtures::tone(path(QStringLiteral("fuzz-source.%1").arg(QLatin1String(extension))), 0.5, 330));
            QVERIFY(!original.isEmpty());
            for (int round = 0; round < 40; ++round) {
                auto bytes = original;
                const int flips = 1 + int(generator.bounded(12));
                for (int i = 0; i < flips; ++i) {
                    // Headers and indexes sit near either end: aim most of the damage there.
                    const auto size = int(bytes.size());
                    const auto edge = int(generator.bounded(std::min(size, 512)));
                    const auto region = generator.bounded(4);
                    const auto at = region == 0 ? edge : region == 1 ? size - 1 - edge : int(generator.bounded(size));
                    bytes[at] = char(generator.bounded(256));
                }
                if (round % 5 == 4)
                    bytes.truncate(qsizetype(generator.bounded(int(bytes.size()))));
                const auto file = path(QStringLiteral("fuzz-%1.%2").arg(round).arg(QLatin1String(extension)));
                write(file, bytes);
                try {
                    AudioFileReader reader(file);
                    AudioBuffer buffer;
                    qint64 total = 0;
                    while (const auto got = reader.read(buffer, 8192)) {
                        QCOMPARE(qint64(buffer.frameLength), got);
                        total += got;
                        QVERIFY2(total <= 100 * 48000, "reading runs on past any plausible length");
                    }
                    reader.seek(reader.length() / 2);
                    reader.read(buffer, 1024);
                } catch (const AudioFileError &) {
                }
                QFile::remove(file);
            }
        }
    }
};

QTEST_GUILESS_MAIN(AudioFileReaderTest)
#include "test_audio_file_reader.moc"
