#include "analysis/AudioAnalyzer.h"
#include "analysis/EnvelopeJob.h"
#include "media/AudioFileError.h"
#include "media/FFmpegLogging.h"
#include "support/AudioFixtures.h"
#include "support/TaskRunner.h"
#include "support/TestFiles.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <numbers>

namespace {

using Notes = std::vector<std::pair<int, double>>;

/// Mono samples of sine notes (MIDI number, amplitude) that \a notesAt gives for each time.
template <typename NotesAt>
std::vector<float> synthesize(double seconds, NotesAt notesAt)
{
    std::vector<float> samples(std::size_t(seconds * 48000));
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const double t = double(i) / 48000;
        double value = 0;
        for (const auto &[note, amplitude] : notesAt(t))
            value += amplitude * std::sin(2 * std::numbers::pi * 440 * std::pow(2.0, (note - 69) / 12.0) * t);
        samples[i] = float(value);
    }
    return samples;
}

/// Seconds of stereo "music": a swelling chord over noise, loud enough to clip now and then.
std::vector<float> music(double seconds, int sampleRate = 48000)
{
    std::vector<float> samples(std::size_t(seconds * sampleRate) * 2);
    std::uint32_t noise = 12345;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const double t = double(i / 2) / sampleRate;
        noise = noise * 1664525u + 1013904223u;
        const double swell = 0.5 + 0.5 * std::sin(2 * std::numbers::pi * t / 7);
        samples[i] = float(
            swell * (0.45 * std::sin(2 * std::numbers::pi * 220 * t) + 0.3 * std::sin(2 * std::numbers::pi * 331 * t))
            + 0.25 * (double(noise >> 8) / (1 << 24) - 0.5));
    }
    return samples;
}

} // namespace

class AudioAnalyzerTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString path(const QString &name) const { return m_dir.filePath(name); }

private slots:
    void initTestCase() { configureFFmpegLogging(); }

    /// Envelopes are scaled to a peak of 1, hold one value per frame when frames are few, and
    /// cover what a duration limit leaves of the file.
    void envelopeLength()
    {
        const auto peaks = [](const QString &file, int target, std::optional<double> limit = {}) {
            return AudioAnalyzer::waveformPeaksSync(file, target, limit);
        };
        const auto second =
            AudioFixtures::encode(path(QStringLiteral("second.wav")), AudioFixtures::sine(48000, 300, 0.5));
        const auto whole = peaks(second, 1100);
        QCOMPARE(*std::max_element(whole.cbegin(), whole.cend()), 1.0f);
        QCOMPARE(peaks(second, 1100, 60.0), whole);
        QCOMPARE(peaks(second, 300, 0.5).size(), 300);
        QVERIFY(peaks(second, 300, 0.0).isEmpty());
        QCOMPARE(
            peaks(AudioFixtures::encode(path(QStringLiteral("fifty.wav")), AudioFixtures::sine(50, 300, 0.5)), 1100)
                .size(),
            50);
        QVERIFY(peaks(AudioFixtures::encode(path(QStringLiteral("empty.wav")), {}), 300).isEmpty());
    }

    void envelopeLevels()
    {
        // Left quiet throughout, right loud in the second half only: the louder channel counts.
        std::vector<float> stereo(2 * 6400);
        for (std::size_t i = 0; i < 6400; ++i) {
            stereo[2 * i] = i % 2 ? 0.25f : -0.25f;
            stereo[2 * i + 1] = i >= 3200 ? -0.5f : 0.0f;
        }
        const QStringList floats{QStringLiteral("-c:a"), QStringLiteral("pcm_f32le")};
        const auto channels =
            AudioAnalyzer::waveformPeaksSync(AudioFixtures::encode(path("channels.wav"), stereo, 48000, 2, floats), 64);
        QCOMPARE(channels.front(), 0.5f);
        QCOMPARE(channels.back(), 1.0f);
        // A very quiet file is not raised to full scale; silence stays silent.
        std::vector<float> quiet(4800, 0.0f);
        quiet[100] = 0.00005f;
        const auto faint =
            AudioAnalyzer::waveformPeaksSync(AudioFixtures::encode(path("quiet.wav"), quiet, 48000, 1, floats), 1100);
        QCOMPARE(*std::max_element(faint.cbegin(), faint.cend()), 0.5f);
        const auto silent = AudioAnalyzer::waveformPeaksSync(AudioFixtures::silence(path("silent.wav"), 48000), 1100);
        QVERIFY(std::all_of(silent.cbegin(), silent.cend(), [](float v) { return v == 0; }));
    }

    void tempoOfClickTracks()
    {
        for (const auto &[extension, seconds, bpm, found] : {std::tuple{"wav", 12.0, 120.0, std::optional<double>(120)},
                                                             std::tuple{"mp3", 12.0, 100.0, std::optional<double>(100)},
                                                             std::tuple{"wav", 3.0, 120.0, std::optional<double>()}}) {
            const auto file = AudioFixtures::clickTrack(path(QStringLiteral("click-%1.%2").arg(seconds).arg(extension)),
                                                        seconds, bpm);
            const auto result = AudioAnalyzer::analyzeSync(file);
            QCOMPARE(result.duration, seconds);
            QCOMPARE(result.bpm, found);
        }
    }

    void keys_data()
    {
        QTest::addColumn<std::vector<float>>("samples");
        QTest::addColumn<std::optional<QString>>("key");
        const Notes aMinor{{57, 0.15}, {69, 0.15}, {72, 0.12}, {76, 0.12}, {81, 0.1}};
        QTest::newRow("A minor chord") << synthesize(4.0, [aMinor](double) { return aMinor; })
                                       << std::optional<QString>("A minor");
        // The G major scale alternating with its tonic, four notes a second.
        const int steps[] = {0, 2, 4, 5, 7, 9, 11};
        QTest::newRow("G major scale") << synthesize(4.0, [steps](double t) {
            const auto k = std::size_t(t * 4) % 14;
            return Notes{{79 + (k % 2 ? 0 : steps[k / 2]), 0.3}};
        }) << std::optional<QString>("G major");
        QTest::newRow("silence") << std::vector<float>(3 * 48000) << std::optional<QString>();
        QTest::newRow("under one window") << AudioFixtures::sine(2000, 880, 0.5, 48000, 1) << std::optional<QString>();
    }

    void keys()
    {
        QFETCH(std::vector<float>, samples);
        QFETCH(std::optional<QString>, key);
        const auto file = AudioFixtures::encode(
            path(QStringLiteral("key-%1.wav").arg(QLatin1String(QTest::currentDataTag()))), samples, 48000, 1);
        QCOMPARE(AudioAnalyzer::analyzeSync(file).musicalKey, key);
    }

    /// The envelope taken straight from 16-bit samples, in either byte order, equals the one of
    /// the same samples decoded as floats (ffmpeg turns each into sample / 32768).
    void integerEnvelopeEqualsTheDecodedOne_data()
    {
        QTest::addColumn<QString>("extension");
        QTest::addColumn<QString>("floats");
        QTest::newRow("wav") << "wav"
                             << "pcm_f32le";
        QTest::newRow("aiff") << "aiff"
                              << "pcm_f32be";
    }

    void integerEnvelopeEqualsTheDecodedOne()
    {
        QFETCH(QString, extension);
        QFETCH(QString, floats);
        auto samples = music(3.1);
        // Full scale both ways, and an odd run of frames per bucket.
        samples[1001] = -1.0f;
        samples[2002] = 1.0f;
        const auto integers = AudioFixtures::encode(path("integers." + extension), samples);
        const auto decoded = path("floats." + extension);
        QCOMPARE(QProcess::execute("ffmpeg", {"-v", "error", "-y", "-i", integers, "-c:a", floats, decoded}), 0);
        for (const int target : {1100, 333, 9000}) {
            const auto expected = AudioAnalyzer::waveformPeaksSync(decoded, target);
            QCOMPARE(AudioAnalyzer::waveformPeaksSync(integers, target), expected);
            QCOMPARE(AudioAnalyzer::waveformPeaksSync(integers, target, 1.3),
                     AudioAnalyzer::waveformPeaksSync(decoded, target, 1.3));
        }
    }

    /// The envelope decoded in parts on every core equals the one-pass envelope in every
    /// container, the fine levels too. AAC is decoded in one pass: its noise substitution
    /// (FFmpeg's encoder uses it at 128 kbit/s on noise) cannot be reproduced from a seek.
    void envelopeInPartsEqualsOnePass_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<int>("parts");
        QTest::newRow("wav") << "parts.wav" << QStringList{} << 4;
        QTest::newRow("aiff") << "parts.aiff" << QStringList{} << 4;
        QTest::newRow("m4a") << "parts.m4a" << QStringList{} << 1;
        QTest::newRow("m4a with noise substitution") << "pns.m4a" << QStringList{"-b:a", "128k"} << 1;
        QTest::newRow("mp3") << "parts.mp3" << QStringList{} << 4;
        QTest::newRow("mp3 variable") << "vbr.mp3" << QStringList{"-q:a", "2"} << 4;
        QTest::newRow("24-bit wav") << "deep.wav" << QStringList{"-c:a", "pcm_s24le"} << 4;
        // Junk in the middle: read through, the decoder skips it; after a seek past it, the
        // frames come out shifted, which the overlap shows, so the file is read in one pass.
        QTest::newRow("mp3 with junk inside") << "junk.mp3" << QStringList{} << 4;
    }

    void envelopeInPartsEqualsOnePass()
    {
        QFETCH(QString, name);
        QFETCH(QStringList, options);
        QFETCH(int, parts);
        const auto file = AudioFixtures::encode(path(name), music(93), 48000, 2, options);
        if (name == "junk.mp3") {
            auto bytes = readFile(file);
            bytes.insert(bytes.size() * 3 / 8, QByteArray(5000, '\x55'));
            writeFile(file, bytes);
        }
        const auto once = EnvelopeJob::sequential(file, 1100);
        QVERIFY(once.frames > 4 * 20 * 48000);
        std::atomic<int> done = 0;
        const auto job = EnvelopeJob::create(file, 1100);
        job->setProgressHandler([&done] { ++done; });
        const auto levels = job->run();
        QCOMPARE(done, parts);
        QCOMPARE(levels, once);
        QCOMPARE(levels.peaks, AudioAnalyzer::waveformPeaksSync(file, 1100));
        QCOMPARE(job->preview().first, levels.peaks);
        QCOMPARE(job->preview().second, 1.0);
    }

    /// A job cancelled before it decodes anything ends with no levels and no error.
    void cancelledEnvelopeEndsEmpty()
    {
        const auto file = AudioFixtures::encode(path("cancel.m4a"), music(45));
        const auto job = EnvelopeJob::create(file, 1100);
        job->cancel();
        auto future = job->start();
        future.waitForFinished();
        const auto outcome = future.takeResult();
        QVERIFY(!outcome.levels && !outcome.error);
        const auto missing = EnvelopeJob::create(path("none.m4a"), 1100)->start();
        QVERIFY(missing.result().error);
    }

    void asynchronousCallsMatchAndFail()
    {
        AudioAnalyzer analyzer;
        const auto m4a = AudioFixtures::tone(path(QStringLiteral("async.m4a")), 1.0);
        QCOMPARE(finish(analyzer.waveformPeaks(m4a, 500)), AudioAnalyzer::waveformPeaksSync(m4a, 500));
        QCOMPARE(finish(analyzer.analyze(m4a)), AudioAnalyzer::analyzeSync(m4a));
        QVERIFY_THROWS_EXCEPTION(AudioFileError, finish(analyzer.waveformPeaks(path(QStringLiteral("none.wav")), 500)));
        QVERIFY_THROWS_EXCEPTION(AudioFileError, finish(analyzer.analyze(path(QStringLiteral("none.wav")))));
    }
};

QTEST_GUILESS_MAIN(AudioAnalyzerTest)
#include "test_audio_analyzer.moc"
