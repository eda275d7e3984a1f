#include "analysis/AudioAnalyzer.h"
#include "analysis/AudioAnalyzerError.h"
#include "media/AudioBuffer.h"
#include "media/AudioFileError.h"
#include "support/AudioFixtures.h"
#include "support/TaskRunner.h"
#include "support/ToolRunner.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <numbers>

namespace {

double noteFrequency(int midiNote)
{
    return 440 * std::pow(2.0, (midiNote - 69) / 12.0);
}

/// Mono samples of sine notes (MIDI number, amplitude) that \a notesAt gives for each time.
template <typename Notes>
std::vector<float> synthesize(double seconds, Notes notesAt, int sampleRate = 48000)
{
    std::vector<float> samples(std::size_t(seconds * sampleRate));
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const double t = double(i) / sampleRate;
        double value = 0;
        for (const auto &[note, amplitude] : notesAt(t))
            value += amplitude * std::sin(2 * std::numbers::pi * noteFrequency(note) * t);
        samples[i] = float(value);
    }
    return samples;
}

/// An envelope of \a count values at \a perSecond values per second with a pulse every
/// \a period values whose height varies slowly, so the period itself correlates best.
QVector<float> pulses(int count, int period)
{
    QVector<float> envelope(count, 0.05f);
    for (int i = 0, k = 0; i < count; i += period, ++k)
        envelope[i] = float(0.6 + 0.35 * std::sin(2 * std::numbers::pi * k / 7.0));
    return envelope;
}

AudioAnalyzer::Chroma rotated(const AudioAnalyzer::Chroma &profile, int by)
{
    AudioAnalyzer::Chroma out{};
    for (int i = 0; i < 12; ++i)
        out[std::size_t((i + by) % 12)] = profile[std::size_t(i)];
    return out;
}

using Notes = std::vector<std::pair<int, double>>;

} // namespace

class AudioAnalyzerTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString path(const QString &name) const { return m_dir.filePath(name); }
    QString floatWav(const QString &name, const std::vector<float> &samples, int channels = 1)
    {
        return AudioFixtures::encode(path(name), samples, 48000, channels,
                                     {QStringLiteral("-c:a"), QStringLiteral("pcm_f32le")});
    }

private slots:
    // Peak envelope

    void envelopeLength_data()
    {
        QTest::addColumn<long>("frames");
        QTest::addColumn<int>("target");
        QTest::addColumn<std::optional<double>>("maxDuration");
        QTest::addColumn<int>("values");
        QTest::newRow("1000 frames, target 300") << 1000L << 300 << std::optional<double>() << 334;
        QTest::newRow("50 frames: one per frame") << 50L << 1100 << std::optional<double>() << 50;
        QTest::newRow("64 frames") << 64L << 10 << std::optional<double>() << 64;
        QTest::newRow("small target keeps 64 buckets") << 48000L << 10 << std::optional<double>() << 64;
        QTest::newRow("1 s at 1100") << 48000L << 1100 << std::optional<double>() << 1117;
        QTest::newRow("limit beyond the file") << 48000L << 1100 << std::optional<double>(60.0) << 1117;
        QTest::newRow("first half second") << 48000L << 300 << std::optional<double>(0.5) << 300;
        QTest::newRow("zero duration") << 48000L << 300 << std::optional<double>(0.0) << 0;
    }

    void envelopeLength()
    {
        QFETCH(long, frames);
        QFETCH(int, target);
        QFETCH(std::optional<double>, maxDuration);
        QFETCH(int, values);
        const auto file = AudioFixtures::encode(path(QStringLiteral("len-%1.wav").arg(frames)),
                                                AudioFixtures::sine(frames, 300, 0.5));
        const auto envelope = AudioAnalyzer::waveformPeaksSync(file, target, maxDuration);
        QCOMPARE(envelope.size(), values);
        if (!envelope.isEmpty())
            QCOMPARE(*std::max_element(envelope.cbegin(), envelope.cend()), 1.0f);
    }

    void envelopeIsTheSameInEveryContainer()
    {
        const auto samples = AudioFixtures::sine(96000, 200, 0.8);
        std::vector<QVector<float>> envelopes;
        for (const char *extension : {"wav", "aiff", "m4a", "mp3"})
            envelopes.push_back(AudioAnalyzer::waveformPeaksSync(
                AudioFixtures::encode(path(QStringLiteral("same.") + QLatin1String(extension)), samples), 1100));
        QCOMPARE(envelopes[0].size(), 1104); // 87 frames a bucket, the last one partly filled
        QCOMPARE(envelopes[1], envelopes[0]);
        for (std::size_t e = 2; e < envelopes.size(); ++e) {
            QCOMPARE(envelopes[e].size(), envelopes[0].size());
            // Lossy codecs leave the level of a steady sine within a few percent.
            for (qsizetype i = 5; i < envelopes[e].size() - 5; ++i)
                QVERIFY2(std::abs(envelopes[e][i] - envelopes[0][i]) < 0.05, qPrintable(QString::number(i)));
        }
    }

    void envelopeLevels()
    {
        const auto peaks = [&](const QString &name, const std::vector<float> &samples, int target, int channels = 1) {
            return AudioAnalyzer::waveformPeaksSync(floatWav(name, samples, channels), target);
        };
        // Left quiet throughout, right loud in the second half only: the louder channel counts.
        std::vector<float> stereo(2 * 6400);
        for (std::size_t i = 0; i < 6400; ++i) {
            stereo[2 * i] = i % 2 ? 0.25f : -0.25f;
            stereo[2 * i + 1] = i >= 3200 ? -0.5f : 0.0f;
        }
        const auto channels = peaks(QStringLiteral("channels.wav"), stereo, 64, 2);
        QCOMPARE(channels.size(), 64);
        QCOMPARE(channels.front(), 0.5f);
        QCOMPARE(channels.back(), 1.0f);

        const auto silent =
            AudioAnalyzer::waveformPeaksSync(AudioFixtures::silence(path(QStringLiteral("silent.wav")), 48000), 1100);
        QCOMPARE(silent.size(), 1117);
        QVERIFY(std::all_of(silent.cbegin(), silent.cend(), [](float v) { return v == 0; }));

        // A very quiet file is not raised to full scale.
        std::vector<float> quietSamples(4800, 0.0f);
        quietSamples[100] = 0.00005f;
        quietSamples[3000] = -0.000025f;
        const auto quiet = peaks(QStringLiteral("quiet.wav"), quietSamples, 1100);
        QCOMPARE(*std::max_element(quiet.cbegin(), quiet.cend()), 0.5f);
        QVERIFY(std::any_of(quiet.cbegin(), quiet.cend(), [](float v) { return std::abs(v - 0.25f) < 1e-6f; }));

        // 16-bit extremes stay within 0...1.
        std::vector<float> extremeSamples(2 * 1000, 0.0f);
        extremeSamples[10] = -1.0f;  // -32768
        extremeSamples[1001] = 1.0f; // clipped to 32767
        extremeSamples[1801] = 0.5f;
        const auto extremes = AudioAnalyzer::waveformPeaksSync(
            AudioFixtures::encode(path(QStringLiteral("extremes.wav")), extremeSamples), 100);
        QCOMPARE(extremes.size(), 100);
        QVERIFY(std::all_of(extremes.cbegin(), extremes.cend(), [](float v) { return v >= 0 && v <= 1; }));
        QCOMPARE(extremes[0], 1.0f);
        QCOMPARE(extremes[50], 32767.0f / 32768.0f);
        QCOMPARE(extremes[90], 0.5f);
    }

    // Windowed mono frames

    void monoSamplesAverageUnderHann()
    {
        AudioBuffer buffer;
        buffer.channels = {{1, 1, 1, 1, 1}, {0, 0.5f, -1, 0.5f, 0}};
        buffer.frameLength = 5;
        const auto mono = AudioAnalyzer::monoSamples(buffer);
        const std::vector<float> expected{0, 0.75f * 0.5f, 0, 0.75f * 0.5f, 0};
        QCOMPARE(mono.size(), expected.size());
        for (std::size_t i = 0; i < mono.size(); ++i)
            QCOMPARE(mono[i], expected[i]);

        buffer.channels = {{0.8f}};
        buffer.frameLength = 1;
        QCOMPARE(AudioAnalyzer::monoSamples(buffer), std::vector<float>{0.0f});
        buffer.channels = {{}};
        buffer.frameLength = 0;
        QVERIFY(AudioAnalyzer::monoSamples(buffer).empty());
    }

    // Tempo

    void tempoFromEnvelopes_data()
    {
        QTest::addColumn<QVector<float>>("envelope");
        QTest::addColumn<double>("duration");
        QTest::addColumn<std::optional<double>>("bpm");
        QTest::newRow("lag 25 at F 3000") << pulses(1000, 25) << 20.0 << std::optional<double>(120.0);
        QTest::newRow("lag 17 at F 3000") << pulses(1000, 17) << 20.0 << std::optional<double>(176.5);
        QTest::newRow("lag 30 at F 3000") << pulses(1500, 30) << 30.0 << std::optional<double>(100.0);
        QTest::newRow("120 values") << pulses(120, 10) << 20.0 << std::optional<double>();
        QTest::newRow("exactly 4 s") << pulses(400, 25) << 4.0 << std::optional<double>();
        QTest::newRow("just over 4 s") << pulses(400, 25) << 4.01 << std::optional<double>(119.7);
        QTest::newRow("flat") << QVector<float>(1000, 0.5f) << 20.0 << std::optional<double>();
        QTest::newRow("too few values for a lag") << pulses(121, 25) << 100.0 << std::optional<double>();
        QTest::newRow("not a duration") << pulses(1000, 25) << std::nan("") << std::optional<double>();
    }

    void tempoFromEnvelopes()
    {
        QFETCH(QVector<float>, envelope);
        QFETCH(double, duration);
        QFETCH(std::optional<double>, bpm);
        QCOMPARE(AudioAnalyzer::estimateBPM(envelope, duration), bpm);
    }

    void clickTracksGiveTheirTempo_data()
    {
        QTest::addColumn<QString>("extension");
        QTest::addColumn<double>("bpm");
        QTest::addColumn<double>("found");
        for (const char *extension : {"wav", "aiff", "m4a", "mp3"})
            QTest::addRow("%s at 120", extension) << QString::fromLatin1(extension) << 120.0 << 120.0;
        QTest::newRow("100") << QStringLiteral("wav") << 100.0 << 100.0;
        QTest::newRow("150") << QStringLiteral("wav") << 150.0 << 150.0;
        // 3000 / 90 lies between lags 33 and 34: the result is the winning lag's tempo.
        QTest::newRow("90") << QStringLiteral("wav") << 90.0 << 90.9;
    }

    void clickTracksGiveTheirTempo()
    {
        QFETCH(QString, extension);
        QFETCH(double, bpm);
        QFETCH(double, found);
        const auto file =
            AudioFixtures::clickTrack(path(QStringLiteral("click-%1.%2").arg(bpm).arg(extension)), 12.0, bpm);
        const auto result = AudioAnalyzer::analyzeSync(file);
        QCOMPARE(result.duration, 12.0);
        QCOMPARE(result.bpm, std::optional<double>(found));
    }

    // Key

    void correlationAndBestKey()
    {
        const auto &major = AudioAnalyzer::majorProfile;
        const auto &minor = AudioAnalyzer::minorProfile;
        QVERIFY(std::abs(AudioAnalyzer::correlation(major, major, 0) - 1.0) < 1e-12);
        QVERIFY(std::abs(AudioAnalyzer::correlation(rotated(major, 7), major, 7) - 1.0) < 1e-12);
        QCOMPARE(AudioAnalyzer::correlation(AudioAnalyzer::Chroma{}, major, 3), 0.0);

        QCOMPARE(AudioAnalyzer::bestKeyName(major), QStringLiteral("C major"));
        QCOMPARE(AudioAnalyzer::bestKeyName(rotated(major, 7)), QStringLiteral("G major"));
        QCOMPARE(AudioAnalyzer::bestKeyName(rotated(major, 10)), QStringLiteral("Bb major"));
        QCOMPARE(AudioAnalyzer::bestKeyName(rotated(minor, 6)), QStringLiteral("F# minor"));
        QCOMPARE(AudioAnalyzer::bestKeyName(rotated(minor, 3)), QStringLiteral("Eb minor"));
        // Every correlation of a flat chroma is 0: the first candidate stays.
        AudioAnalyzer::Chroma flat;
        flat.fill(1.0 / 12);
        QCOMPARE(AudioAnalyzer::bestKeyName(flat), QStringLiteral("C major"));

        // Symmetric under a turn by 6: roots r and r + 6 correlate alike, the lower root wins.
        AudioAnalyzer::Chroma chroma{};
        chroma[2] = chroma[8] = 1;
        chroma[9] = chroma[3] = 0.5;
        for (int root = 0; root < 6; ++root) {
            QVERIFY(AudioAnalyzer::correlation(chroma, major, root)
                    == AudioAnalyzer::correlation(chroma, major, root + 6));
            QVERIFY(AudioAnalyzer::correlation(chroma, minor, root)
                    == AudioAnalyzer::correlation(chroma, minor, root + 6));
        }
        const auto key = AudioAnalyzer::bestKeyName(chroma).value_or(QStringLiteral("none"));
        QVERIFY2(QStringList({"C", "C#", "D", "Eb", "E", "F"}).contains(key.section(u' ', 0, 0)), qPrintable(key));
    }

    void goertzelFindsTheNote()
    {
        AudioBuffer buffer;
        buffer.channels = {std::vector<float>(2048)};
        buffer.frameLength = 2048;
        for (std::size_t i = 0; i < 2048; ++i)
            buffer.channels[0][i] = float(0.3 * std::sin(2 * std::numbers::pi * noteFrequency(81) * double(i) / 48000));
        AudioAnalyzer::Chroma chroma{};
        AudioAnalyzer::accumulateChroma(AudioAnalyzer::monoSamples(buffer), 48000, chroma);
        QCOMPARE(std::max_element(chroma.begin(), chroma.end()) - chroma.begin(), 9); // A
        AudioAnalyzer::Chroma again = chroma;
        AudioAnalyzer::accumulateChroma(AudioAnalyzer::monoSamples(buffer), 48000, again);
        for (int i = 0; i < 12; ++i)
            QCOMPARE(again[i], 2 * chroma[i]);
    }

    void keysOfChordsAndScales_data()
    {
        QTest::addColumn<QString>("extension");
        QTest::addColumn<std::vector<float>>("samples");
        QTest::addColumn<QString>("key");
        const auto chord = [](Notes notes) { return synthesize(4.0, [notes](double) { return notes; }); };
        // A scale in the fifth octave alternating with its tonic, four notes a second.
        const auto scale = [](int tonic, std::vector<int> steps) {
            return synthesize(4.0, [tonic, steps](double t) {
                const auto k = std::size_t(t * 4) % (2 * steps.size());
                return Notes{{tonic + (k % 2 ? 0 : steps[k / 2]), 0.3}};
            });
        };
        const std::vector<int> major{0, 2, 4, 5, 7, 9, 11}, minor{0, 2, 3, 5, 7, 8, 10};
        QTest::newRow("A minor chord") << QStringLiteral("wav")
                                       << chord({{57, 0.15}, {69, 0.15}, {72, 0.12}, {76, 0.12}, {81, 0.1}})
                                       << QStringLiteral("A minor");
        QTest::newRow("B major chord") << QStringLiteral("wav")
                                       << chord({{59, 0.15}, {71, 0.15}, {75, 0.12}, {78, 0.12}, {83, 0.1}})
                                       << QStringLiteral("B major");
        QTest::newRow("Bb major chord m4a")
            << QStringLiteral("m4a") << chord({{58, 0.15}, {70, 0.15}, {74, 0.12}, {77, 0.12}, {82, 0.1}})
            << QStringLiteral("Bb major");
        QTest::newRow("G major scale") << QStringLiteral("wav") << scale(79, major) << QStringLiteral("G major");
        QTest::newRow("F# minor scale mp3") << QStringLiteral("mp3") << scale(78, minor) << QStringLiteral("F# minor");
        QTest::newRow("E major scale") << QStringLiteral("aiff") << scale(76, major) << QStringLiteral("E major");
    }

    void keysOfChordsAndScales()
    {
        QFETCH(QString, extension);
        QFETCH(std::vector<float>, samples);
        QFETCH(QString, key);
        const auto file = AudioFixtures::encode(
            path(QStringLiteral("key-%1.%2").arg(QLatin1String(QTest::currentDataTag()), extension)), samples, 48000,
            1);
        QCOMPARE(AudioAnalyzer::estimateKey(file, 45), std::optional<QString>(key));
        QCOMPARE(AudioAnalyzer::analyzeSync(file).musicalKey, std::optional<QString>(key));
    }

    void noKeyWithoutAudibleFrames()
    {
        const auto silent = AudioFixtures::silence(path(QStringLiteral("nokey-silent.wav")), 48000 * 3);
        QCOMPARE(AudioAnalyzer::estimateKey(silent, 45), std::nullopt);
        // RMS of the windowed frame stays under 0.002.
        const auto quiet = AudioFixtures::tone(path(QStringLiteral("nokey-quiet.wav")), 3.0, 880, 0.003);
        QCOMPARE(AudioAnalyzer::estimateKey(quiet, 45), std::nullopt);
        const auto loud = AudioFixtures::tone(path(QStringLiteral("nokey-loud.wav")), 3.0, 880, 0.3);
        QVERIFY(AudioAnalyzer::estimateKey(loud, 45));
        // Less than one whole window, or a limit that leaves less than one.
        const auto shortFile = AudioFixtures::tone(path(QStringLiteral("nokey-short.wav")), 2000.0 / 48000, 880, 0.5);
        QCOMPARE(AudioAnalyzer::estimateKey(shortFile, 45), std::nullopt);
        QCOMPARE(AudioAnalyzer::estimateKey(loud, 2047.0 / 48000), std::nullopt);
        QVERIFY_THROWS_EXCEPTION(AudioFileError, AudioAnalyzer::estimateKey(path(QStringLiteral("none.wav")), 45));
    }

    // Whole analysis

    void analyzeEdgeFilesAndAsynchronousCalls()
    {
        const auto zero = AudioFixtures::silence(path(QStringLiteral("zero.wav")), 0);
        QCOMPARE(AudioAnalyzer::analyzeSync(zero), AudioAnalysisResult{});
        QCOMPARE(AudioAnalyzer::waveformPeaksSync(zero, 1100), QVector<float>());

        const auto tiny = AudioFixtures::tone(path(QStringLiteral("tiny.mp3")), 1000.0 / 48000);
        const auto tinyResult = AudioAnalyzer::analyzeSync(tiny);
        QCOMPARE(tinyResult.duration, 1000.0 / 48000);
        QCOMPARE(tinyResult.bpm, std::nullopt);
        QCOMPARE(tinyResult.musicalKey, std::nullopt);

        // Three seconds is under the 4 s a tempo needs.
        const auto clicks = AudioFixtures::clickTrack(path(QStringLiteral("three.wav")), 3.0, 120);
        QCOMPARE(AudioAnalyzer::analyzeSync(clicks).bpm, std::nullopt);

        AudioAnalyzer analyzer;
        const auto m4a = AudioFixtures::tone(path(QStringLiteral("async.m4a")), 1.0);
        QCOMPARE(finish(analyzer.waveformPeaks(m4a, 500)), AudioAnalyzer::waveformPeaksSync(m4a, 500));
        QVERIFY_THROWS_EXCEPTION(AudioFileError, finish(analyzer.waveformPeaks(path(QStringLiteral("none.wav")), 500)));
        const auto result =
            finish(analyzer.analyze(AudioFixtures::clickTrack(path(QStringLiteral("async-clicks.m4a")), 8.0, 100)));
        QCOMPARE(result.duration, 8.0);
        QCOMPARE(result.bpm, std::optional<double>(100.0));
        QVERIFY_THROWS_EXCEPTION(AudioFileError, finish(analyzer.analyze(path(QStringLiteral("none.wav")))));
    }

    // vespertone-tool

    void toolProbeAndPeaks()
    {
        if (qEnvironmentVariableIsEmpty("VESPERTONE_TOOL"))
            QSKIP("run through ctest");
        QTemporaryDir folder;
        const auto file = AudioFixtures::clickTrack(folder.filePath(QStringLiteral("Probe.wav")), 10.0, 120);
        const auto probe = runTool({QStringLiteral("probe"), file});
        QCOMPARE(probe.exitCode, 0);
        const auto result = QJsonDocument::fromJson(probe.out).object();
        QCOMPARE(result.value(QStringLiteral("duration")).toDouble(), 10.0);
        QCOMPARE(result.value(QStringLiteral("bpm")).toDouble(), 120.0);
        QCOMPARE(result.contains(QStringLiteral("musicalKey")),
                 AudioAnalyzer::analyzeSync(file).musicalKey.has_value());
        QCOMPARE(QDir(folder.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList{QStringLiteral("Probe.wav")});

        const auto silent = AudioFixtures::silence(folder.filePath(QStringLiteral("Silent.wav")), 48000 * 2);
        const auto quiet = QJsonDocument::fromJson(runTool({QStringLiteral("probe"), silent}).out).object();
        QCOMPARE(quiet.keys(), QStringList{QStringLiteral("duration")});

        const auto peaks = runTool({QStringLiteral("peaks"), file, QStringLiteral("--target"), QStringLiteral("300")});
        QCOMPARE(peaks.exitCode, 0);
        const auto values = QJsonDocument::fromJson(peaks.out).array();
        const auto expected = AudioAnalyzer::waveformPeaksSync(file, 300);
        QCOMPARE(values.size(), expected.size());
        for (qsizetype i = 0; i < values.size(); ++i)
            QCOMPARE(float(values[i].toDouble()), expected[i]);
        QCOMPARE(QJsonDocument::fromJson(runTool({QStringLiteral("peaks"), file}).out).array().size(),
                 AudioAnalyzer::waveformPeaksSync(file, 1100).size());

        const auto missing = runTool({QStringLiteral("probe"), folder.filePath(QStringLiteral("None.wav"))});
        QVERIFY(missing.exitCode != 0);
        QVERIFY(missing.out.isEmpty());
        QVERIFY(missing.err.contains("None.wav"));
        QVERIFY(runTool({QStringLiteral("peaks"), file, QStringLiteral("--target"), QStringLiteral("many")}).exitCode
                != 0);
        QVERIFY(runTool({QStringLiteral("probe")}).exitCode != 0);
    }
};

QTEST_GUILESS_MAIN(AudioAnalyzerTest)
#include "test_audio_analyzer.moc"
