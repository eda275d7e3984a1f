// The precise analysis on audio encoded by ffmpeg: tempi between the standard analysis's lag
// steps, the alternatives it weighs, keys the standard analysis names wrong, sample rates other
// than 48 kHz, damaged samples, and the signals that have no beat or no key.

#include "analysis/AnalysisResampler.h"
#include "analysis/PreciseAnalyzer.h"
#include "analysis/PreciseKeyEstimator.h"
#include "media/AudioFileError.h"
#include "media/FFmpegLogging.h"
#include "support/AudioFixtures.h"
#include "support/TaskRunner.h"

#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <limits>
#include <numbers>
#include <random>

namespace {

constexpr int rate = 48000;

double frequencyOf(int note)
{
    return 440 * std::pow(2.0, (note - 69) / 12.0);
}

/// \a seconds of \a notes (MIDI numbers) held together at \a sampleRate, each a sine or a
/// sawtooth (its harmonics below 16 kHz at 1/h).
std::vector<float> chord(double seconds, const std::vector<int> &notes, bool sawtooth, int sampleRate = rate)
{
    std::vector<float> samples(std::size_t(seconds * sampleRate));
    for (const int note : notes) {
        const double f = frequencyOf(note);
        for (int h = 1; h == 1 || (sawtooth && f * h < std::min(16000.0, sampleRate / 2.0)); ++h) {
            const double step = 2 * std::numbers::pi * f * h / sampleRate;
            for (std::size_t i = 0; i < samples.size(); ++i)
                samples[i] += float(0.12 * std::sin(step * double(i)) / h);
        }
    }
    return samples;
}

/// Chords on \a degrees (semitones above \a tonic, minor or major) 1.5 s each, each with its
/// root in the bass.
std::vector<float> progression(int tonic, const std::vector<std::pair<int, bool>> &degrees)
{
    std::vector<float> samples;
    for (const auto &[degree, minor] : degrees) {
        const int root = 60 + (tonic + degree) % 12;
        const auto part = chord(1.5, {root - 24, root, root + (minor ? 3 : 4), root + 7}, true);
        samples.insert(samples.end(), part.begin(), part.end());
    }
    return samples;
}

/// \a seconds of a syncopated beat at \a bpm: kicks on one and after two, snares on two and
/// four, soft sixteenth hats.
std::vector<float> syncopatedBeat(double seconds, double bpm)
{
    std::vector<float> samples(std::size_t(seconds * rate));
    std::mt19937 generator(5);
    std::uniform_real_distribution<float> uniform(-1, 1);
    const auto hit = [&](double at, double level, double decay, bool noisy) {
        for (std::size_t i = 0; i < std::size_t(4 * decay * rate) && std::size_t(at * rate) + i < samples.size(); ++i) {
            const double t = double(i) / rate;
            const double tone = noisy ? uniform(generator) : std::sin(2 * std::numbers::pi * 60 * t);
            samples[std::size_t(at * rate) + i] += float(level * std::exp(-t / decay) * tone);
        }
    };
    const double beat = 60 / bpm;
    for (int n = 0; n * beat < seconds; ++n) {
        const double at = n * beat;
        if (n % 4 == 0)
            hit(at, 0.8, 0.08, false);
        if (n % 4 == 1)
            hit(at + beat / 2, 0.6, 0.08, false);
        if (n % 2 == 1)
            hit(at, 0.5, 0.05, true);
        for (int q = 0; q < 4; ++q)
            hit(at + q * beat / 4, q == 0 ? 0.15 : 0.1, 0.01, true);
    }
    return samples;
}

std::vector<float> noise(double seconds)
{
    std::mt19937 generator(3);
    std::uniform_real_distribution<float> uniform(-0.3f, 0.3f);
    std::vector<float> samples(std::size_t(seconds * rate));
    for (auto &sample : samples)
        sample = uniform(generator);
    return samples;
}

} // namespace

class PreciseAnalysisTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString path(const QString &name) const { return m_dir.filePath(name); }

private slots:
    void initTestCase() { configureFFmpegLogging(); }

    void tempi_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<double>("bpm"); ///< 0: none
        QTest::addColumn<double>("seconds");
        const auto add = [](const char *tag, const QString &file, double bpm, double seconds) {
            QTest::newRow(tag) << file << bpm << seconds;
        };
        // The standard analysis gives 96.8 and 142.9, the tempi of the nearest whole lags.
        add("clicks, WAV", AudioFixtures::clickTrack(path("clicks.wav"), 12, 97.3), 97.3, 12);
        add("clicks, MP3 at 44.1 kHz", AudioFixtures::clickTrack(path("clicks.mp3"), 12, 143.7, 44100), 143.7, 12);
        // Its eighth notes fit a pulse train about as well as its beat; the beat is the likelier tempo.
        add("syncopated beat, M4A", AudioFixtures::encode(path("syncopated.m4a"), syncopatedBeat(20, 100.6), rate, 1),
            100.6, 20);
        // A click track that a float WAV damaged: its NaN and infinite samples count as silence
        // and full scale.
        auto damaged = AudioFixtures::sine(10 * rate, 1000, 0.0, rate, 1);
        for (double at = 0.1; at < 10; at += 60 / 121.0) {
            for (int i = 0; i < 240; ++i)
                damaged[std::size_t(at * rate) + i] = float(0.8 * std::exp(-i / 40.0) * std::sin(i * 0.13));
        }
        for (std::size_t i = 7; i < damaged.size(); i += 4999)
            damaged[i] = i % 2 ? std::numeric_limits<float>::quiet_NaN() : std::numeric_limits<float>::infinity();
        add("damaged float samples",
            AudioFixtures::encode(path("damaged.wav"), damaged, rate, 1,
                                  {QStringLiteral("-c:a"), QStringLiteral("pcm_f32le")}),
            121, 10);
        // Nothing to count.
        add("clicks for 4 s only", AudioFixtures::clickTrack(path("short.wav"), 4, 120), 0, 4);
        add("silence", AudioFixtures::silence(path("silence.wav"), 8 * rate), 0, 8);
        add("a steady chord", AudioFixtures::encode(path("steady.wav"), chord(8, {57, 61, 64}, true), rate, 1), 0, 8);
        add("white noise", AudioFixtures::encode(path("noise.wav"), noise(8), rate, 1), 0, 8);
    }

    void tempi()
    {
        QFETCH(QString, file);
        QFETCH(double, bpm);
        QFETCH(double, seconds);
        const auto result = PreciseAnalyzer::analyzeSync(file);
        QVERIFY(std::abs(result.duration - seconds) < 0.01);
        if (bpm == 0) {
            QCOMPARE(result.bpm, std::nullopt);
            QCOMPARE(result.bpmConfidence, std::nullopt);
            QVERIFY(result.bpmAlternatives.isEmpty());
            return;
        }
        // Right to the one decimal it is given with.
        QVERIFY2(result.bpm && std::abs(*result.bpm - bpm) <= 0.06,
                 qPrintable(QString::number(result.bpm.value_or(0))));
        QVERIFY(result.bpmConfidence && *result.bpmConfidence >= 0.5 && *result.bpmConfidence <= 1);
        // Two alternatives, each a ×2, ÷2, ×3/2 or ×2/3 of the tempo, less likely and likeliest first.
        QCOMPARE(result.bpmAlternatives.size(), 2);
        double total = *result.bpmConfidence, previous = *result.bpmConfidence;
        for (const auto &alternative : result.bpmAlternatives) {
            const double ratio = alternative.bpm / *result.bpm;
            const double relations[] = {2.0, 0.5, 1.5, 2.0 / 3};
            QVERIFY2(std::any_of(std::begin(relations), std::end(relations),
                                 [&](double r) { return std::abs(ratio - r) < 0.002; }),
                     qPrintable(QString::number(alternative.bpm)));
            QVERIFY(alternative.confidence <= previous);
            previous = alternative.confidence;
            total += alternative.confidence;
        }
        QVERIFY(total <= 1.01);
    }

    void keys_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("key"); ///< empty: none
        QTest::addColumn<QString>("relative");
        // The standard analysis names this E minor: the overtones of a sawtooth add B and D.
        QTest::newRow("sawtooth C major triad")
            << AudioFixtures::encode(path("c-major.wav"), chord(6, {60, 64, 67}, true), rate, 1) << "C major"
            << "A minor";
        // Below C4 its 2048-frame window cannot part neighbouring semitones; in the lowest
        // octave they lie 4 Hz apart.
        QTest::newRow("sine F# minor triad, C2 octave, 22.05 kHz")
            << AudioFixtures::encode(path("fsharp-minor.m4a"), chord(6, {42, 45, 49}, false, 22050), 22050, 1)
            << "F# minor"
            << "A major";
        QTest::newRow("I-IV-V-I in Bb, MP3") << AudioFixtures::encode(
            path("cadence.mp3"), progression(10, {{0, false}, {5, false}, {7, false}, {0, false}}), rate, 1)
                                             << "Bb major"
                                             << "G minor";
        // The same notes in both: the natural minor has no leading tone, the major key its
        // tonic in the bass.
        QTest::newRow("i-VII-VI-VII-i in F# minor") << AudioFixtures::encode(
            path("aeolian.wav"), progression(6, {{0, true}, {10, false}, {8, false}, {10, false}, {0, true}}), rate, 1)
                                                    << "F# minor"
                                                    << "A major";
        QTest::newRow("I-vi-ii-V-I in A major") << AudioFixtures::encode(
            path("turnaround.wav"), progression(9, {{0, false}, {9, true}, {2, true}, {7, false}, {0, false}}), rate, 1)
                                                << "A major"
                                                << "F# minor";
        // The chord in the middle outweighs a louder part two octaves above it, which alone
        // would make it E minor.
        auto high = chord(6, {60, 64, 67}, false);
        const auto bright = chord(6, {88, 91, 95}, false);
        for (std::size_t i = 0; i < high.size(); ++i)
            high[i] += 1.6f * bright[i];
        QTest::newRow("C major under a louder E minor triad in octave 6")
            << AudioFixtures::encode(path("high-part.wav"), high, rate, 1) << "C major"
            << "A minor";
        QTest::newRow("silence") << AudioFixtures::silence(path("quiet.wav"), 8 * rate) << ""
                                 << "";
    }

    void keys()
    {
        QFETCH(QString, file);
        QFETCH(QString, key);
        QFETCH(QString, relative);
        const auto result = PreciseAnalyzer::analyzeSync(file);
        if (key.isEmpty()) {
            QCOMPARE(result.musicalKey, std::nullopt);
            QCOMPARE(result.keyConfidence, std::nullopt);
            QVERIFY(result.keyAlternatives.isEmpty());
            return;
        }
        QCOMPARE(result.musicalKey, std::optional(key));
        QVERIFY(result.keyConfidence && *result.keyConfidence > 0.5);
        // The runner-up, and the relative key when it is not the runner-up.
        QVERIFY(!result.keyAlternatives.isEmpty() && result.keyAlternatives.size() <= 2);
        QVERIFY(result.keyAlternatives.size() == 2 || result.keyAlternatives[0].musicalKey == relative);
        QCOMPARE(result.keyAlternatives.back().musicalKey == relative, true);
        double total = *result.keyConfidence;
        for (const auto &alternative : result.keyAlternatives) {
            QVERIFY(alternative.musicalKey != key && alternative.confidence <= *result.keyConfidence);
            total += alternative.confidence;
        }
        QVERIFY(total <= 1.01);
    }

    void partsSemitones_data()
    {
        QTest::addColumn<int>("note");
        for (const int note : {36, 42, 47, 59, 71, 95})
            QTest::newRow(qPrintable(QString::number(note))) << note;
    }

    /// A sine in any analysed octave, C2 to B6, lands in its own pitch class and hardly in its
    /// neighbours', whose bands at C2 lie 4 Hz away.
    void partsSemitones()
    {
        QFETCH(int, note);
        std::vector<float> samples(std::size_t(4 * AnalysisResampler::rate));
        const double step = 2 * std::numbers::pi * frequencyOf(note) / AnalysisResampler::rate;
        for (std::size_t i = 0; i < samples.size(); ++i)
            samples[i] = float(0.3 * std::sin(step * double(i)));
        const auto chroma = PreciseKeyEstimator::chromas(samples).weighted;
        const auto own = std::size_t(note % 12);
        QVERIFY(chroma[own] > 0);
        for (const std::size_t neighbour : {(own + 1) % 12, (own + 11) % 12})
            QVERIFY2(chroma[neighbour] * 20 < chroma[own],
                     qPrintable(QStringLiteral("%1 against %2").arg(chroma[neighbour]).arg(chroma[own])));
    }

    void failuresAndEmptyFiles()
    {
        const auto empty = PreciseAnalyzer::analyzeSync(AudioFixtures::encode(path("empty.wav"), {}));
        QCOMPARE(empty, AudioAnalysisResult{});
        QVERIFY_THROWS_EXCEPTION(AudioFileError, PreciseAnalyzer::analyzeSync(path("none.wav")));
        QVERIFY_THROWS_EXCEPTION(AudioFileError, finish(PreciseAnalyzer::analyze(path("none.wav"))));
        const auto clicks = AudioFixtures::clickTrack(path("async.m4a"), 8, 110);
        QCOMPARE(finish(PreciseAnalyzer::analyze(clicks)), PreciseAnalyzer::analyzeSync(clicks));
    }
};

QTEST_GUILESS_MAIN(PreciseAnalysisTest)
#include "test_precise_analysis.moc"
