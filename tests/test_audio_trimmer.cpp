#include "media/AudioFileReader.h"
#include "media/AudioTrimmer.h"
#include "media/FFmpegLogging.h"
#include "support/AudioFixtures.h"
#include "support/TaskRunner.h"
#include "support/TestFiles.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

namespace {

/// A 3 s tone of \a sampleRate cut from \a start to \a end: an AAC M4A of \a frames frames at \a outputRate.
struct Cut {
    QString extension;
    int sampleRate, channels;
    double start, end;
    int outputRate;
    qint64 frames;
};

/// A refused trim of \a source ("tone", "long tone", "1 Hz" or "video") and the text it fails
/// with; \a cancel stops it once it runs.
struct Refusal {
    QString source;
    double start, end;
    int fileSizeLimit;
    QString text;
    bool cancel = false;
};

} // namespace

Q_DECLARE_METATYPE(Cut)
Q_DECLARE_METATYPE(Refusal)

class AudioTrimmerTest : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    AudioTrimmer m_trimmer;

    QString path(const QString &name) const { return m_dir->filePath(name); }
    /// Trims into the new file "Trim.m4a".
    QString trim(const QString &source, double start, double end)
    {
        return finish(m_trimmer.trim(source, start, end, path(QStringLiteral("Trim.m4a"))));
    }

private slots:
    void initTestCase() { configureFFmpegLogging(); }
    void init() { m_dir = std::make_unique<QTemporaryDir>(); }

    void writesAacInM4A_data()
    {
        QTest::addColumn<Cut>("cut");
        for (const char *extension : {"wav", "m4a", "mp3"})
            QTest::addRow("%s", extension) << Cut{extension, 48000, 2, 1.0, 2.5, 48000, 72000};
        QTest::newRow("mono 44.1k") << Cut{"wav", 44100, 1, 1.0, 2.5, 44100, 66150};
        QTest::newRow("192k is resampled") << Cut{"wav", 192000, 2, 1.0, 2.5, 96000, 144000};
        QTest::newRow("negative start") << Cut{"wav", 48000, 2, -1.0, 1.5, 48000, 72000};
        QTest::newRow("exactly 0.02 s") << Cut{"wav", 48000, 2, 1.0, 1.02, 48000, 960};
        QTest::newRow("end past the media") << Cut{"wav", 48000, 2, 2.5, 9.0, 48000, 24000};
        QTest::newRow("endless") << Cut{"wav", 48000, 2, 1.0, qInf(), 48000, 96000};
    }

    void writesAacInM4A()
    {
        QFETCH(Cut, cut);
        const auto source = AudioFixtures::tone(path(QStringLiteral("Take.") + cut.extension), 3.0, 440, 0.5,
                                                cut.sampleRate, cut.channels);
        const auto output = trim(source, cut.start, cut.end);
        const auto bytes = readFile(output); // an M4A brand and an AAC ("mp4a") sample entry
        QVERIFY(bytes.mid(4, 8) == "ftypM4A " && bytes.contains("mp4a") && !bytes.contains("alac"));
        AudioFileReader reader(output);
        QCOMPARE(reader.sampleRate(), double(cut.outputRate));
        QCOMPARE(reader.channelCount(), cut.channels);
        QCOMPARE(reader.length(), cut.frames);
        QCOMPARE(entriesOf(m_dir->path()), QStringList({QStringLiteral("Take.") + cut.extension, "Trim.m4a"}));
        // Created like any new file, not with a private temporary file's 0600.
        QCOMPARE(QFile::permissions(output), QFile::permissions(writeFile(path(QStringLiteral("plain")), {})));
    }

    /// The cut starts where the range starts, rounded to 1/600 s, even far into a lossy file.
    void cutsAtTheRequestedFrame()
    {
        std::vector<float> samples(30 * 48000 * 2, 0.0f);
        samples[25 * 48000 * 2] = samples[25 * 48000 * 2 + 1] = 0.9f;
        // 24.0004 s is 14400.24 ticks of 1/600 s: the cut starts at 24.0 s, 48000 frames before the click.
        AudioFileReader reader(trim(AudioFixtures::encode(path(QStringLiteral("Click.mp3")), samples), 24.0004, 27));
        QCOMPARE(reader.length(), 3 * 48000);
        AudioBuffer buffer;
        std::vector<float> left;
        while (const auto got = reader.read(buffer, 8192))
            left.insert(left.end(), buffer.channels[0].begin(), buffer.channels[0].begin() + got);
        const auto loudest =
            std::max_element(left.begin(), left.end(), [](float a, float b) { return std::abs(a) < std::abs(b); });
        QVERIFY2(std::abs(loudest - left.begin() - 48000) <= 4, qPrintable(QString::number(loudest - left.begin())));
    }

    /// A refused trim names its cause, leaves the source as it was and removes what it wrote.
    void failures_data()
    {
        QTest::addColumn<Refusal>("refusal");
        const QString tooShort = QStringLiteral("The trim range is too short.");
        QTest::newRow("end before start") << Refusal{"tone", 2.0, 1.0, 0, tooShort};
        QTest::newRow("0.019 s") << Refusal{"tone", 1.0, 1.019, 0, tooShort};
        QTest::newRow("not a number") << Refusal{"tone", 0.0, qQNaN(), 0, tooShort};
        QTest::newRow("after the media") << Refusal{"tone", 5.0, 6.0, 0, "The trim could not be saved."};
        QTest::newRow("full disk") << Refusal{"tone", 0.0, 3.0, 16384,
                                              "The trim could not be saved. The disk is full."};
        QTest::newRow("video only") << Refusal{"video", 0.0, 0.5, 0, "This file cannot be exported as an M4A trim."};
        // The encoder resamples 1 Hz to its lowest rate and gives no packet: no empty M4A is kept.
        QTest::newRow("1 Hz WAV") << Refusal{"1 Hz", 0.0, 20.0, 0,
                                             "The trim could not be saved. No audio could be encoded from this range."};
        QTest::newRow("cancelled") << Refusal{"long tone", 0.0, 60.0, 0, "The trim was cancelled.", true};
    }

    void failures()
    {
        QFETCH(Refusal, refusal);
        const auto file = path(QStringLiteral("Source.wav"));
        if (refusal.source == QLatin1String("tone"))
            AudioFixtures::tone(file, 3.0);
        else if (refusal.source == QLatin1String("long tone"))
            AudioFixtures::tone(file, 60.0);
        else if (refusal.source == QLatin1String("1 Hz"))
            AudioFixtures::encode(file, std::vector<float>(30, 0.5f), 1, 1);
        else
            QCOMPARE(QProcess::execute("ffmpeg",
                                       QStringLiteral("-v error -f lavfi -i color=s=16x16:d=1 -c:v mpeg4 -f mp4 %1")
                                           .arg(file)
                                           .split(u' ')),
                     0);
        const auto before = readFile(file);
        std::optional<FileSizeLimit> limit;
        if (refusal.fileSizeLimit > 0)
            limit.emplace(refusal.fileSizeLimit);
        if (refusal.cancel)
            QTimer::singleShot(0, &m_trimmer, [this] { m_trimmer.cancel(); });
        const auto failure = failureOf(m_trimmer.trim(file, refusal.start, refusal.end, path("Trim.m4a")));
        limit.reset();
        QCOMPARE(failure, refusal.text);
        QCOMPARE(entriesOf(m_dir->path()), QStringList({"Source.wav"}));
        QCOMPARE(readFile(file), before);
    }
};

QTEST_GUILESS_MAIN(AudioTrimmerTest)
#include "test_audio_trimmer.moc"
