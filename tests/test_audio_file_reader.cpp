#include "capture/PcmCaptureWriter.h"
#include "media/AacM4aEncoder.h"
#include "media/AudioFileError.h"
#include "media/AudioFileReader.h"
#include "media/FFmpegLogging.h"
#include "media/HeaderLength.h"
#include "support/AudioFixtures.h"
#include "support/TestFiles.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <cstring>
#include <functional>

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

/// A file made by \a make in a folder; \a headerAnswers: HeaderLength states its length
/// itself, else the reader's demuxer must.
struct Variant {
    std::function<QString(const QString &folder)> make;
    bool headerAnswers = true;
};

std::vector<float> music(int frames, int channels)
{
    std::vector<float> samples(std::size_t(frames) * channels);
    std::uint32_t noise = 1;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        noise = noise * 1664525u + 1013904223u;
        samples[i] = float(0.4 * std::sin(double(i / channels) * 0.031) + 0.1 * (double(noise >> 8) / (1 << 24) - 0.5));
    }
    return samples;
}

/// \a frames encoded by ffmpeg into NAME (whose extension picks the codec) with \a extra options.
Variant ffmpeg(const QString &name, int frames, int rate = 48000, int channels = 2, QStringList extra = {},
               bool headerAnswers = true)
{
    return {[=](const QString &folder) {
                return AudioFixtures::encode(folder + u'/' + name, music(frames, channels), rate, channels, extra);
            },
            headerAnswers};
}

/// \a frames written by the capture's own PCM writer.
Variant captured(const QString &name, int frames, PcmCaptureWriter::Container container)
{
    return {[=](const QString &folder) {
        const auto path = folder + u'/' + name;
        writeFile(path, {});
        PcmCaptureWriter writer(path, 48000, 2, container);
        const auto samples = music(frames, 2);
        std::vector<std::int16_t> pcm(samples.size());
        std::transform(samples.begin(), samples.end(), pcm.begin(),
                       [](float x) { return std::int16_t(std::lrint(std::clamp(x, -1.0f, 1.0f) * 32767)); });
        writer.write(pcm.data(), frames);
        writer.checkpoint();
        writer.finish();
        return path;
    }};
}

/// \a frames encoded by this program's AAC encoder in \a layout.
Variant encoded(const QString &name, int frames, AacM4aEncoder::Layout layout, bool headerAnswers)
{
    return {[=](const QString &folder) {
                const auto path = folder + u'/' + name;
                AacM4aEncoder encoder(path, 48000, 2, 192000, layout);
                const auto samples = music(frames, 2);
                auto left = std::vector<float>(std::size_t(frames)), right = left;
                for (int i = 0; i < frames; ++i) {
                    left[std::size_t(i)] = samples[std::size_t(2 * i)];
                    right[std::size_t(i)] = samples[std::size_t(2 * i + 1)];
                }
                const float *planes[] = {left.data(), right.data()};
                encoder.writePlanar(planes, frames);
                if (layout == AacM4aEncoder::Layout::fragmented)
                    encoder.checkpoint();
                encoder.finish();
                return path;
            },
            headerAnswers};
}

/// A file made by ffmpeg, then rewritten by \a edit.
Variant edited(Variant made, std::function<void(const QString &path)> edit, bool headerAnswers)
{
    return {[=](const QString &folder) {
                const auto path = made.make(folder);
                edit(path);
                return path;
            },
            headerAnswers};
}

/// The real lame program with \a options.
Variant lame(const QString &name, int frames, QStringList options)
{
    return {[=](const QString &folder) {
        const auto wav = AudioFixtures::encode(folder + u'/' + name + QStringLiteral(".wav"), music(frames, 2));
        const auto path = folder + u'/' + name;
        if (QProcess::execute(QStringLiteral("lame"),
                              QStringList{QStringLiteral("--silent")} + options + QStringList{wav, path})
            != 0)
            qFatal("lame failed");
        return path;
    }};
}

} // namespace

Q_DECLARE_METATYPE(Take)
Q_DECLARE_METATYPE(Variant)

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

    /// The headers read directly state the rate, channels and length the demuxer finds, frame for
    /// frame, for what this program and common encoders write; what they cannot state exactly
    /// (a length to guess, a stream to probe) they leave to the demuxer.
    void headersStateWhatTheDemuxerFinds_data()
    {
        using Layout = AacM4aEncoder::Layout;
        QTest::addColumn<Variant>("variant");
        const auto cut = [](qint64 bytes) {
            return [bytes](const QString &path) { QFile(path).resize(QFileInfo(path).size() - bytes); };
        };
        const auto append = [](const QByteArray &bytes) {
            return [bytes](const QString &path) {
                QFile file(path);
                QVERIFY(file.open(QIODevice::Append) && file.write(bytes) == bytes.size());
            };
        };
        const auto patch = [](const char *find, int offset, QByteArray bytes) {
            return [=](const QString &path) {
                auto content = readFile(path);
                const auto at = content.indexOf(find);
                QVERIFY(at >= 0);
                content.replace(at + offset, bytes.size(), bytes);
                writeFile(path, content);
            };
        };
        QTest::newRow("wav 16-bit stereo") << ffmpeg("a.wav", 48001);
        QTest::newRow("wav 16-bit mono 44.1k") << ffmpeg("a.wav", 12345, 44100, 1);
        QTest::newRow("wav 24-bit") << ffmpeg("a.wav", 30000, 48000, 2, {"-c:a", "pcm_s24le"});
        QTest::newRow("wav 8-bit") << ffmpeg("a.wav", 30000, 22050, 1, {"-c:a", "pcm_u8"});
        QTest::newRow("wav float") << ffmpeg("a.wav", 30000, 48000, 2, {"-c:a", "pcm_f32le"});
        QTest::newRow("wav extensible, 6 channels") << ffmpeg("a.wav", 9000, 48000, 6);
        QTest::newRow("wav captured") << captured("a.wav", 77777, PcmCaptureWriter::Container::wave);
        QTest::newRow("wav cut short") << edited(ffmpeg("a.wav", 48000), cut(1001), false);
        QTest::newRow("wav with bytes after its data") << edited(ffmpeg("a.wav", 48000), append("JUNKJUNK"), true);
        QTest::newRow("wav of unknown size")
            << edited(ffmpeg("a.wav", 48000), patch("data", 4, "\xff\xff\xff\xff"), false);
        QTest::newRow("wav adpcm") << ffmpeg("a.wav", 48000, 48000, 2, {"-c:a", "adpcm_ms"}, false);
        QTest::newRow("aiff 16-bit stereo") << ffmpeg("a.aiff", 48001);
        QTest::newRow("aiff mono 44.1k") << ffmpeg("a.aif", 12345, 44100, 1);
        QTest::newRow("aiff 24-bit") << ffmpeg("a.aiff", 30000, 96000, 2, {"-c:a", "pcm_s24be"});
        QTest::newRow("aiff captured") << captured("a.aiff", 77777, PcmCaptureWriter::Container::aiff);
        QTest::newRow("aiff cut short") << edited(ffmpeg("a.aiff", 48000), cut(1001), true);
        QTest::newRow("mp3 48k stereo") << ffmpeg("a.mp3", 48001);
        QTest::newRow("mp3 44.1k mono") << ffmpeg("a.mp3", 12345, 44100, 1);
        QTest::newRow("mp3 22.05k (MPEG-2)") << ffmpeg("a.mp3", 40000, 22050, 2, {"-b:a", "64k"});
        QTest::newRow("mp3 8k (MPEG-2.5)") << ffmpeg("a.mp3", 20000, 8000, 1, {"-b:a", "16k"});
        QTest::newRow("mp3 variable bit rate") << ffmpeg("a.mp3", 90000, 48000, 2, {"-q:a", "2"});
        QTest::newRow("mp3 with tags") << ffmpeg("a.mp3", 48000, 48000, 2,
                                                 {"-metadata", "title=" + QString(3000, u'x'), "-write_id3v1", "1"});
        QTest::newRow("mp3 lame constant") << lame("a.mp3", 70000, {"-b", "192"});
        QTest::newRow("mp3 lame variable") << lame("a.mp3", 70000, {"-V", "2"});
        QTest::newRow("mp3 without a Xing frame") << ffmpeg("a.mp3", 48000, 48000, 2, {"-write_xing", "0"}, false);
        QTest::newRow("m4a in milliseconds") << ffmpeg("a.m4a", 48001);
        QTest::newRow("m4a in samples, mono 44.1k") << ffmpeg("a.m4a", 12345, 44100, 1, {"-movie_timescale", "44100"});
        QTest::newRow("m4a 22.05k") << ffmpeg("a.m4a", 40000, 22050, 2);
        QTest::newRow("m4a 96k, movie at 44.1k") << ffmpeg("a.m4a", 40000, 96000, 2, {"-movie_timescale", "44100"});
        QTest::newRow("m4a moov first") << ffmpeg("a.m4a", 48000, 48000, 2, {"-movflags", "+faststart"});
        QTest::newRow("m4a saved trim") << encoded("a.m4a", 100000, Layout::regular, true);
        QTest::newRow("m4a take in progress") << encoded("a.m4a", 100000, Layout::fragmented, false);
        QTest::newRow("m4a apple lossless") << ffmpeg("a.m4a", 30000, 48000, 2, {"-c:a", "alac"}, false);
    }

    void headersStateWhatTheDemuxerFinds()
    {
        QFETCH(Variant, variant);
        QTemporaryDir folder;
        const auto file = variant.make(folder.path());
        const auto stated = HeaderLength::of(ByteSource::ofFile(file));
        QCOMPARE(stated.has_value(), variant.headerAnswers);
        const AudioFileReader reader(file);
        const auto measured = AudioFileReader::measure(file);
        QCOMPARE(measured.length, reader.length());
        QCOMPARE(measured.sampleRate, reader.sampleRate());
        QCOMPARE(measured.channelCount, reader.channelCount());
        QVERIFY(reader.length() > 0);
    }

    /// An M4A's AAC track read from its sample tables, a block at a time, decodes to exactly
    /// what ffmpeg decodes from it, the encoder's priming dropped, up to the length its edit
    /// states (ffmpeg goes on through the padding). A 16-bit WAV or AIFF, read from its bytes
    /// without FFmpeg, gives ffmpeg's samples too. Their seeks are checked with the others above.
    void decodesAsFfmpegDoes_data()
    {
        QTest::addColumn<Variant>("variant");
        QTest::newRow("m4a in milliseconds") << ffmpeg("a.m4a", 48001);
        QTest::newRow("m4a in samples, mono 44.1k") << ffmpeg("a.m4a", 12345, 44100, 1, {"-movie_timescale", "44100"});
        QTest::newRow("m4a moov first, 22.05k") << ffmpeg("a.m4a", 70000, 22050, 2, {"-movflags", "+faststart"});
        QTest::newRow("m4a noise substitution, 128k") << ffmpeg("a.m4a", 300000, 48000, 2, {"-b:a", "128k"});
        QTest::newRow("m4a saved trim") << encoded("a.m4a", 100000, AacM4aEncoder::Layout::regular, true);
        const auto cutLastBytes = [](const QString &path) { QFile(path).resize(QFileInfo(path).size() - 1001); };
        QTest::newRow("wav 16-bit mono 44.1k") << ffmpeg("a.wav", 12345, 44100, 1);
        QTest::newRow("wav captured") << captured("a.wav", 77777, PcmCaptureWriter::Container::wave);
        QTest::newRow("wav cut short") << edited(ffmpeg("a.wav", 48000), cutLastBytes, true);
        QTest::newRow("aiff 16-bit stereo") << ffmpeg("a.aiff", 48001);
        QTest::newRow("aiff captured") << captured("a.aiff", 77777, PcmCaptureWriter::Container::aiff);
        QTest::newRow("aiff little-endian (sowt)") << ffmpeg("a.aiff", 30000, 48000, 2, {"-c:a", "pcm_s16le"});
    }

    void decodesAsFfmpegDoes()
    {
        QFETCH(Variant, variant);
        QTemporaryDir folder;
        const auto file = variant.make(folder.path());
        const auto raw = folder.filePath("decoded.f32");
        QCOMPARE(QProcess::execute("ffmpeg", {"-v", "error", "-i", file, "-f", "f32le", "-c:a", "pcm_f32le", raw}), 0);
        const auto expected = readFile(raw);
        AudioFileReader reader(file);
        AudioBuffer buffer;
        QByteArray decoded;
        while (const auto got = reader.read(buffer, 3000)) {
            for (qint64 i = 0; i < got; ++i)
                for (const auto &channel : buffer.channels)
                    decoded.append(reinterpret_cast<const char *>(&channel[std::size_t(i)]), sizeof(float));
        }
        const auto frameBytes = qsizetype(reader.channelCount()) * 4;
        QCOMPARE(decoded.size(), std::min(expected.size(), qsizetype(reader.length()) * frameBytes));
        QVERIFY(decoded == expected.left(decoded.size()));
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
