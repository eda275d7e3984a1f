#include "media/AudioFileError.h"
#include "media/AudioFileReader.h"
#include "media/FFmpegLogging.h"
#include "support/AudioFixtures.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <sys/stat.h>

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

/// \a frames of a sine encoded as \a codec under a file name ending in \a name; the reader
/// must find the length within \a tolerance frames.
struct Take {
    QString codec, name;
    int sampleRate, channels, frames;
    QStringList extraArguments = {};
    int tolerance = 0;
};

} // namespace

Q_DECLARE_METATYPE(Take)

class AudioFileReaderTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString path(const QString &name) const { return m_dir.filePath(name); }

private slots:
    void initTestCase() { configureFFmpegLogging(); }

    /// Encoder delay and padding are removed; reads stop at the length; seeks clamp to it and,
    /// forwards or backwards, across the lossy preroll and up to the last frame, read what a
    /// sequential read gave (a one-frame slip moves these sines' samples by up to 0.03), also
    /// once the file has been renamed or removed.
    void lengthIsExactPerContainer_data()
    {
        QTest::addColumn<Take>("take");
        for (const char *extension : {"wav", "aiff", "m4a", "mp3"}) {
            // The M4A muxer states the length in milliseconds unless told to use the sample rate.
            const auto exact =
                extension == QLatin1String("m4a") ? QStringList{"-movie_timescale", "44100"} : QStringList{};
            QTest::addRow("%s stereo 48k", extension) << Take{extension, extension, 48000, 2, 72000};
            QTest::addRow("%s mono 44.1k odd", extension) << Take{extension, extension, 44100, 1, 12345, exact};
        }
        QTest::newRow("m4a in milliseconds") << Take{"m4a", "m4a", 44100, 1, 12345, {}, 1152};
        QTest::newRow("wav named mp3") << Take{"wav", "mp3", 48000, 2, 12000};
        QTest::newRow("empty wav") << Take{"wav", "wav", 48000, 2, 0};
    }

    void lengthIsExactPerContainer()
    {
        QFETCH(Take, take);
        const auto &[codec, name, sampleRate, channels, frames, extraArguments, tolerance] = take;
        const auto encoded = AudioFixtures::encode(path(QStringLiteral("len.") + codec),
                                                   AudioFixtures::sine(frames, 440, 0.5, sampleRate, channels),
                                                   sampleRate, channels, extraArguments);
        const auto file = path(QStringLiteral("len-%1.%2").arg(QLatin1String(QTest::currentDataTag()), name));
        QVERIFY(QFile::rename(encoded, file));
        AudioFileReader reader(file);
        QCOMPARE(reader.sampleRate(), double(sampleRate));
        QCOMPARE(reader.channelCount(), channels);
        QVERIFY2(std::abs(reader.length() - frames) <= tolerance, qPrintable(QString::number(reader.length())));
        // The scan's measure reads the container alone and must agree.
        const auto measured = AudioFileReader::measure(file);
        QCOMPARE(measured.length, reader.length());
        QCOMPARE(measured.sampleRate, reader.sampleRate());
        const auto sequential = readAll(reader, 5000);
        QCOMPARE(qint64(sequential.size()), reader.length());
        QCOMPARE(reader.position(), reader.length());
        AudioBuffer buffer;
        const double slip = codec == QLatin1String("m4a") || codec == QLatin1String("mp3") ? 0.002 : 0;
        for (const qint64 target : {1000LL, 0LL, 8192LL, frames / 2 + 1LL, qint64(frames) - 1, 8191LL, 1LL}) {
            if (target < 0 || target >= reader.length())
                continue;
            reader.seek(target);
            QCOMPARE(reader.position(), target);
            const auto got = reader.read(buffer, 2000);
            QCOMPARE(got, std::min<qint64>(2000, reader.length() - target));
            for (qint64 i = 0; i < got; ++i)
                QVERIFY2(std::abs(buffer.channels[0][i] - sequential[target + i]) <= slip,
                         qPrintable(QStringLiteral("seek to %1, frame %2").arg(target).arg(i)));
        }
        // A take renamed or trashed while it plays still reads from the start, which reopens it.
        QVERIFY(QFile::rename(file, file + QStringLiteral(".moved")));
        reader.seek(0);
        QCOMPARE(readAll(reader, 3000), sequential);
        QVERIFY(QFile::remove(file + QStringLiteral(".moved")));
        reader.seek(reader.length());
        QCOMPARE(reader.read(buffer, 1000), 0);
        QCOMPARE(buffer.frameLength, std::size_t(0));
        reader.seek(reader.length() + 1000);
        QCOMPARE(reader.position(), reader.length());
        reader.seek(-5);
        QCOMPARE(reader.position(), 0);
        QCOMPARE(reader.read(buffer, reader.length() + 50000), reader.length());
        QCOMPARE(qint64(buffer.channels.back().size()), reader.length());
    }

    /// A source that cannot seek (a pipe) makes a backward seek fail: the reader must say so
    /// instead of reading on from where it was while claiming the requested position.
    void failedSeekThrows()
    {
        const auto source = AudioFixtures::tone(path(QStringLiteral("pipe-source.wav")), 4.0);
        const auto pipe = path(QStringLiteral("pipe.wav"));
        QCOMPARE(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
        QProcess writer;
        writer.start(QStringLiteral("sh"), {QStringLiteral("-c"), QStringLiteral("cat \"$0\" > \"$1\""), source, pipe});
        AudioFileReader reader(pipe);
        AudioBuffer buffer;
        QCOMPARE(reader.read(buffer, 96000), 96000);
        bool refused = false;
        try {
            reader.seek(1000);
        } catch (const AudioFileError &) {
            refused = true;
        }
        writer.kill();
        writer.waitForFinished();
        QVERIFY(refused);
    }
};

QTEST_GUILESS_MAIN(AudioFileReaderTest)
#include "test_audio_file_reader.moc"
