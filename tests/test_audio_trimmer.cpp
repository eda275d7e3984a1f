#include "media/AudioFileError.h"
#include "media/AudioFileReader.h"
#include "media/AudioTrimmer.h"
#include "media/AudioTrimmerError.h"
#include "media/FFmpegHandles.h"
#include "support/AudioFixtures.h"
#include "support/TaskRunner.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <unistd.h>

namespace {

QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray digest(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(&file);
    return hash.result();
}

/// The frame of the loudest sample of the first channel.
qint64 loudestFrame(const QString &path)
{
    AudioFileReader reader(path);
    AudioBuffer buffer;
    qint64 position = 0, best = -1;
    float loudest = -1;
    while (const auto got = reader.read(buffer, 8192)) {
        for (qint64 i = 0; i < got; ++i) {
            if (std::abs(buffer.channels[0][i]) > loudest) {
                loudest = std::abs(buffer.channels[0][i]);
                best = position + i;
            }
        }
        position += got;
    }
    return best;
}

struct Container {
    QString format;
    AVCodecID codec = AV_CODEC_ID_NONE;
    QString brand;
};

Container containerOf(const QString &path)
{
    AVFormatContext *raw = nullptr;
    if (avformat_open_input(&raw, QFile::encodeName(path).constData(), nullptr, nullptr) < 0)
        return {};
    FFmpeg::InputFormat format(raw);
    avformat_find_stream_info(format.get(), nullptr);
    const auto *brand = av_dict_get(format->metadata, "major_brand", nullptr, 0);
    return {QString::fromLatin1(format->iformat->name),
            format->nb_streams == 1 ? format->streams[0]->codecpar->codec_id : AV_CODEC_ID_NONE,
            brand ? QString::fromLatin1(brand->value) : QString()};
}

/// Silence with one click at \a clickFrame.
std::vector<float> clickAt(long frames, long clickFrame, int channels)
{
    std::vector<float> samples(std::size_t(frames) * channels, 0.0f);
    for (int c = 0; c < channels; ++c)
        samples[std::size_t(clickFrame) * channels + c] = 0.9f;
    return samples;
}

using Failure = std::optional<std::pair<AudioTrimmerError::Code, QString>>;

Failure failure(AudioTrimmerError::Code code, const char *text)
{
    return std::pair(code, QString::fromUtf8(text));
}

} // namespace

Q_DECLARE_METATYPE(Failure)

class AudioTrimmerTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    AudioTrimmer m_trimmer;

    QString path(const QString &name) const { return m_dir->filePath(name); }
    QString trim(const QString &source, double start, double end) { return finish(m_trimmer.trim(source, start, end)); }
    /// The code and text of the AudioTrimmerError the trim throws.
    Failure trimError(const QString &source, double start, double end)
    {
        try {
            trim(source, start, end);
        } catch (const AudioTrimmerError &error) {
            return std::pair(error.code(), error.text());
        }
        return {};
    }
    QString write(const QString &name, const QByteArray &bytes) const
    {
        QFile file(path(name));
        return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() ? file.fileName() : QString();
    }
    QStringList folderEntries() const { return QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden, QDir::Name); }

private slots:
    void init() { m_dir = std::make_unique<QTemporaryDir>(); }

    void writesAacInM4A_data()
    {
        QTest::addColumn<QString>("extension");
        QTest::addColumn<int>("sampleRate");
        QTest::addColumn<int>("channels");
        QTest::addColumn<int>("outputRate");
        for (const char *extension : {"wav", "aiff", "m4a", "mp3"})
            QTest::addRow("%s", extension) << QString::fromLatin1(extension) << 48000 << 2 << 48000;
        QTest::newRow("mono 44.1k wav") << QStringLiteral("wav") << 44100 << 1 << 44100;
        QTest::newRow("192k wav is resampled") << QStringLiteral("wav") << 192000 << 2 << 96000;
    }

    void writesAacInM4A()
    {
        QFETCH(QString, extension);
        QFETCH(int, sampleRate);
        QFETCH(int, channels);
        QFETCH(int, outputRate);
        const auto source =
            AudioFixtures::tone(path(QStringLiteral("Take.") + extension), 4.0, 440, 0.5, sampleRate, channels);
        const auto before = digest(source);
        const auto output = trim(source, 1.0, 3.5);

        QCOMPARE(output, path(QStringLiteral("Take Trim.m4a")));
        QCOMPARE(digest(source), before);
        const auto container = containerOf(output);
        QVERIFY2(container.format.contains(QLatin1String("m4a")), qPrintable(container.format));
        QCOMPARE(container.codec, AV_CODEC_ID_AAC);
        QCOMPARE(container.brand, QStringLiteral("M4A "));
        AudioFileReader reader(output);
        QCOMPARE(reader.sampleRate(), double(outputRate));
        QCOMPARE(reader.channelCount(), channels);
        QCOMPARE(reader.length(), qint64(2.5 * outputRate));
        QCOMPARE(folderEntries(), QStringList({QStringLiteral("Take Trim.m4a"), QStringLiteral("Take.") + extension}));
        // Created like any new file, not with a private temporary file's 0600.
        QFile plain(path(QStringLiteral("plain")));
        QVERIFY(plain.open(QIODevice::WriteOnly));
        QCOMPARE(QFile::permissions(output), plain.permissions());
    }

    /// The cut starts where the range starts, rounded to 1/600 s, even far into a lossy file.
    void cutsAtTheRequestedFrame_data()
    {
        QTest::addColumn<QString>("extension");
        QTest::addColumn<int>("tolerance");
        QTest::newRow("wav") << QStringLiteral("wav") << 2;
        QTest::newRow("mp3") << QStringLiteral("mp3") << 4;
    }

    void cutsAtTheRequestedFrame()
    {
        QFETCH(QString, extension);
        QFETCH(int, tolerance);
        const auto source =
            AudioFixtures::encode(path(QStringLiteral("Click.") + extension), clickAt(30 * 48000, 25 * 48000, 2));
        // 24.0004 s is 14400.24 ticks of 1/600 s: the cut starts at 24.0 s, 48000 frames before the click.
        const auto output = trim(source, 24.0004, 27.0);
        const auto click = loudestFrame(output);
        QVERIFY2(std::abs(click - 48000) <= tolerance, qPrintable(QString::number(click)));
        QCOMPARE(AudioFileReader(output).length(), 3 * 48000);
    }

    void namesNeverReplaceAFile()
    {
        const auto source = AudioFixtures::tone(path(QStringLiteral("Song.wav")), 2.0);
        QCOMPARE(trim(source, 0, 1), path(QStringLiteral("Song Trim.m4a")));
        QCOMPARE(trim(source, 0.5, 1.5), path(QStringLiteral("Song Trim 2.m4a")));
        QCOMPARE(trim(source, 1, 2), path(QStringLiteral("Song Trim 3.m4a")));
        QVERIFY(std::abs(AudioFileReader(path(QStringLiteral("Song Trim 2.m4a"))).length() - 48000) == 0);
    }

    void clampsTheRange_data()
    {
        QTest::addColumn<double>("start");
        QTest::addColumn<double>("end");
        QTest::addColumn<qint64>("frames");
        QTest::newRow("negative start") << -1.0 << 1.5 << qint64(72000);
        QTest::newRow("exactly 0.02 s") << 1.0 << 1.02 << qint64(960);
        QTest::newRow("end past the media") << 2.5 << 9.0 << qint64(24000);
        QTest::newRow("endless") << 1.0 << std::numeric_limits<double>::infinity() << qint64(96000);
    }

    void clampsTheRange()
    {
        QFETCH(double, start);
        QFETCH(double, end);
        QFETCH(qint64, frames);
        const auto source = AudioFixtures::tone(path(QStringLiteral("Clamp.wav")), 3.0);
        QCOMPARE(AudioFileReader(trim(source, start, end)).length(), frames);
    }

    void refusedRangesLeaveNoFile_data()
    {
        QTest::addColumn<double>("start");
        QTest::addColumn<double>("end");
        QTest::addColumn<Failure>("expected");
        const auto inf = std::numeric_limits<double>::infinity();
        const auto tooShort = failure(AudioTrimmerError::Code::invalidRange, "The trim range is too short.");
        QTest::newRow("end before start") << 2.0 << 1.0 << tooShort;
        QTest::newRow("0.019 s") << 1.0 << 1.019 << tooShort;
        QTest::newRow("both negative") << -3.0 << -1.0 << tooShort;
        QTest::newRow("not a number") << 0.0 << std::nan("") << tooShort;
        QTest::newRow("both infinite") << inf << inf << tooShort;
        // A range entirely after the media has nothing to export.
        QTest::newRow("after the media") << 5.0 << 6.0
                                         << failure(AudioTrimmerError::Code::exportFailed,
                                                    "The trim could not be saved.");
    }

    void refusedRangesLeaveNoFile()
    {
        QFETCH(double, start);
        QFETCH(double, end);
        QFETCH(Failure, expected);
        const auto source = AudioFixtures::tone(path(QStringLiteral("Short.wav")), 3.0);
        QVERIFY(trimError(source, start, end) == expected);
        QCOMPARE(folderEntries(), QStringList{QStringLiteral("Short.wav")});
    }

    void unreadableSources()
    {
        // A source cut short fails while decoding, after the encoder has started writing.
        const auto aiff = contents(AudioFixtures::tone(path(QStringLiteral("Whole.aiff")), 2.0));
        const auto cut = write(QStringLiteral("Cut.aiff"), aiff.left(aiff.size() / 2));
        QCOMPARE(AudioFileReader(cut).length(), 96000); // as its header states
        QVERIFY_THROWS_EXCEPTION(AudioFileError, trim(cut, 0.1, 1.9));
        QVERIFY_THROWS_EXCEPTION(AudioFileError, trim(write(QStringLiteral("Notes.wav"), "not audio\n"), 0, 1));

        // A container holding no audio at all cannot become an M4A trim.
        const auto video = path(QStringLiteral("Picture.m4a"));
        QCOMPARE(QProcess::execute(QStringLiteral("ffmpeg"),
                                   QStringLiteral("-v error -f lavfi -i color=c=black:s=16x16:d=1 "
                                                  "-c:v mpeg4 -f mp4")
                                           .split(u' ')
                                       << video),
                 0);
        QVERIFY(trimError(video, 0, 0.5)
                == failure(AudioTrimmerError::Code::exportUnavailable, "This file cannot be exported as an M4A trim."));
        QCOMPARE(folderEntries(),
                 QStringList({QStringLiteral("Cut.aiff"), QStringLiteral("Notes.wav"), QStringLiteral("Picture.m4a"),
                              QStringLiteral("Whole.aiff")}));
    }

    void unwritableFolderFails()
    {
        if (geteuid() == 0)
            QSKIP("root writes into read-only folders");
        const auto source = AudioFixtures::tone(path(QStringLiteral("Locked.wav")), 1.0);
        QFile::setPermissions(m_dir->path(), QFile::ReadOwner | QFile::ExeOwner);
        QVERIFY_THROWS_EXCEPTION(AudioTrimmerError, trim(source, 0, 0.5));
        QFile::setPermissions(m_dir->path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QCOMPARE(folderEntries(), QStringList{QStringLiteral("Locked.wav")});
    }
};

QTEST_GUILESS_MAIN(AudioTrimmerTest)
#include "test_audio_trimmer.moc"
