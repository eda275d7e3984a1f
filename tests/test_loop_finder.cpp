#include "analysis/AudioAnalyzer.h"
#include "analysis/LoopFinderService.h"
#include "library/MetadataStore.h"
#include "support/AudioFixtures.h"
#include "support/TaskRunner.h"
#include "support/ToolRunner.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

using LF = LoopFinderService;
using Series = LF::Series;
using S = LoopSuggestion;

namespace {

/// A beat envelope: \a count values over \a duration seconds, a decaying hit every
/// \a beat seconds and a stronger one on each bar's first beat.
QVector<float> beats(int count, double duration, double beat, double offset = 0)
{
    QVector<float> envelope(count, 0.05f);
    for (int k = 0; offset + k * beat < duration; ++k) {
        const auto at = int(std::lround((offset + k * beat) / duration * (count - 1)));
        for (int i = 0; i < 6 && at + i < count; ++i)
            envelope[at + i] = float((k % 4 == 0 ? 1.0 : 0.6) * std::exp(-i / 2.0));
    }
    return envelope;
}

bool isMultipleOf(double value, double quantum)
{
    return std::abs(value / quantum - std::round(value / quantum)) < 1e-9;
}

} // namespace

class LoopFinderTest : public QObject {
    Q_OBJECT

private slots:
    void degenerateInputs()
    {
        QCOMPARE(LF::findLoopsSync(QVector<float>(31, 0.5f), 10, std::nullopt, 6), QVector<S>({{0, 10, 0}}));
        QCOMPARE(LF::findLoopsSync(QVector<float>(32, 0.5f), 0.5, 120.0, 6), QVector<S>({{0, 0.5, 0}}));
        QCOMPARE(LF::findLoopsSync(QVector<float>(500, 0.5f), 0, std::nullopt, 6), QVector<S>());
        QCOMPARE(LF::findLoopsSync(QVector<float>(500, 0.5f), -3, std::nullopt, 6), QVector<S>());
        QCOMPARE(LF::findLoopsSync(QVector<float>(500, 0.5f), std::nan(""), std::nullopt, 6), QVector<S>());
        // At 45 BPM one bar is 5.3 s: no musical length fits in 3 s.
        QCOMPARE(LF::findLoopsSync(QVector<float>(100, 0.5f), 3, 45.0, 6), QVector<S>({{0, 3, 0.1}}));

        // A silent file gives the length list at a fixed confidence.
        const auto loops = LF::findLoopsSync(QVector<float>(1100, 0.0f), 20, std::nullopt, 6);
        QCOMPARE(loops.size(), 5);
        const double ends[] = {8, 4, 16, 2, 1};
        for (int i = 0; i < 5; ++i) {
            QCOMPARE(loops[i].start, 0.0);
            QCOMPARE(loops[i].end, ends[i]);
            QVERIFY2(std::abs(loops[i].confidence - 0.21) < 1e-12, qPrintable(QString::number(loops[i].confidence)));
        }
        QCOMPARE(LF::findLoopsSync(QVector<float>(1100, 0.0f), 20, std::nullopt, 2).size(), 2);
    }

    void candidateLengths_data()
    {
        QTest::addColumn<double>("duration");
        QTest::addColumn<std::optional<double>>("bpm");
        QTest::addColumn<std::vector<double>>("lengths");
        QTest::newRow("2 s, no tempo") << 2.0 << std::optional<double>() << std::vector<double>{2, 1};
        QTest::newRow("30 s, no tempo") << 30.0 << std::optional<double>() << std::vector<double>{8, 4, 16, 2, 1};
        QTest::newRow("120 BPM, 40 s") << 40.0 << std::optional<double>(120) << std::vector<double>{8, 16, 4, 32, 2};
        QTest::newRow("120 BPM, 10 s") << 10.0 << std::optional<double>(120) << std::vector<double>{8, 4, 2};
        QTest::newRow("240 BPM keeps one bar") << 2.0 << std::optional<double>(240) << std::vector<double>{2, 1};
        QTest::newRow("250 BPM is no tempo")
            << 30.0 << std::optional<double>(250) << std::vector<double>{8, 4, 16, 2, 1};
        QTest::newRow("40 BPM is no tempo") << 30.0 << std::optional<double>(40) << std::vector<double>{8, 4, 16, 2, 1};
        QTest::newRow("45 BPM, 3 s") << 3.0 << std::optional<double>(45) << std::vector<double>{};
    }

    void candidateLengths()
    {
        QFETCH(double, duration);
        QFETCH(std::optional<double>, bpm);
        QFETCH(std::vector<double>, lengths);
        QCOMPARE(LF::candidateLengths(duration, bpm), lengths);
    }

    void musicalLengthScore_data()
    {
        QTest::addColumn<double>("length");
        QTest::addColumn<std::optional<double>>("bpm");
        QTest::addColumn<double>("score");
        QTest::newRow("no tempo") << 8.0 << std::optional<double>() << 0.5;
        QTest::newRow("tempo out of range") << 8.0 << std::optional<double>(241) << 0.5;
        QTest::newRow("4 bars") << 8.0 << std::optional<double>(120) << 1.0;
        QTest::newRow("8 bars") << 16.0 << std::optional<double>(120) << 0.95;
        QTest::newRow("2 bars") << 4.0 << std::optional<double>(120) << 0.78;
        QTest::newRow("16 bars") << 32.0 << std::optional<double>(120) << 0.78;
        QTest::newRow("1 bar") << 2.0 << std::optional<double>(120) << 0.55;
        QTest::newRow("3 bars") << 6.0 << std::optional<double>(120) << 0.35;
        QTest::newRow("4.5 bars round up to 5") << 9.0 << std::optional<double>(120) << 0.5 * 0.35;
        QTest::newRow("quarter bar rounds to 0") << 0.5 << std::optional<double>(120) << 0.75 * 0.35;
        QTest::newRow("3.75 bars near 4") << 7.5 << std::optional<double>(120) << 0.75;
    }

    void musicalLengthScore()
    {
        QFETCH(double, length);
        QFETCH(std::optional<double>, bpm);
        QFETCH(double, score);
        QVERIFY(std::abs(LF::musicalLengthScore(length, bpm) - score) < 1e-12);
    }

    void tempoSnapsToSixteenths()
    {
        const double duration = 30.3;
        const auto envelope = beats(1100, duration, 0.5, 0.37);
        const auto loops = LF::findLoopsSync(envelope, duration, 120.0, 50);
        QVERIFY(loops.size() > 6);
        for (const auto &loop : loops) {
            QVERIFY2(isMultipleOf(loop.start, 0.125), qPrintable(QString::number(loop.start)));
            QVERIFY2(isMultipleOf(loop.end, 0.125) || loop.end == duration, qPrintable(QString::number(loop.end)));
            QVERIFY(loop.end - loop.start >= 0.75);
            QVERIFY(loop.end <= duration);
        }
        // The strongest suggestion is a whole number of bars from a downbeat.
        QVERIFY(isMultipleOf(loops.front().end - loops.front().start, 2.0));
    }

    void resultsAreRankedDistinctAndLimited()
    {
        const auto envelope = beats(1100, 24, 0.6);
        for (const auto bpm : {std::optional<double>(100), std::optional<double>()}) {
            const auto loops = LF::findLoopsSync(envelope, 24, bpm, 6);
            QCOMPARE(loops.size(), 6);
            for (qsizetype i = 0; i < loops.size(); ++i) {
                QVERIFY(loops[i].confidence >= 0 && loops[i].confidence <= 1);
                if (i > 0)
                    QVERIFY(loops[i - 1].confidence >= loops[i].confidence);
                for (qsizetype j = 0; j < i; ++j)
                    QVERIFY(!(std::abs(loops[i].start - loops[j].start) < 0.12
                              && std::abs(loops[i].end - loops[j].end) < 0.12));
            }
        }
        QCOMPARE(LF::findLoopsSync(envelope, 24, 100.0, 0).size(), 0);
    }

    void dedupeKeepsTheBetterOfNearPairs()
    {
        QCOMPARE(LF::dedupeTimes({1.0, 0.5, 0.25, 0.0, 0.375}, 0.25), std::vector<double>({0.0, 0.25, 0.5, 1.0}));
        QCOMPARE(LF::dedupeTimes({}, 0.1), std::vector<double>());
        const QVector<S> sorted{{1.0, 5.0, 0.9}, {1.1, 5.1, 0.8}, {1.125, 5.0, 0.7}, {1.0, 5.125, 0.6}, {3, 7, 0.5}};
        QCOMPARE(LF::dedupe(sorted, 6),
                 QVector<S>({{1.0, 5.0, 0.9}, {1.125, 5.0, 0.7}, {1.0, 5.125, 0.6}, {3, 7, 0.5}}));
        QCOMPARE(LF::dedupe(sorted, 2), QVector<S>({{1.0, 5.0, 0.9}, {1.125, 5.0, 0.7}}));
    }

    void smoothingOnsetsAndIndices()
    {
        QCOMPARE(LF::smooth({0, 3, 6, 3, 0}, 1), Series({1.5, 3, 4, 3, 1.5}));
        QCOMPARE(LF::smooth({0, 3, 6, 3, 0}, 2), Series({3, 3, 2.4, 3, 3}));
        QCOMPARE(LF::smooth({0, 3, 6, 3, 0}, 0), Series({0, 3, 6, 3, 0}));
        QCOMPARE(LF::smooth({0, 3, 6, 3}, 2), Series({0, 3, 6, 3}));

        QCOMPARE(LF::normalizedOnsets({1, 2, 1, 4}), Series({0, 1.0 / 3, 0, 1}));
        const auto tiny = LF::normalizedOnsets({0, 0.00005});
        QVERIFY(std::abs(tiny[1] - 0.5) < 1e-12);
        QCOMPARE(LF::normalizedOnsets({}), Series());
        QCOMPARE(LF::indexOf(0.5, 1, 4), 2); // 1.5 rounds away from zero
        QCOMPARE(LF::indexOf(0.4, 1, 4), 1);
        QCOMPARE(LF::indexOf(-1, 1, 4), 0);
        QCOMPARE(LF::indexOf(7, 1, 4), 3);
        QCOMPARE(LF::indexOf(0.5, 0, 4), 0);
        QCOMPARE(LF::indexOf(0.5, 1, 1), 0);
    }

    void barPhaseAndCandidateStarts()
    {
        Series downbeats(1001, 0.0);
        for (int i = 25; i < 1001; i += 100)
            downbeats[i] = 1; // every 2 s from 0.5 s, 0.02 s per value
        QCOMPARE(LF::bestBarPhase(20, 2, downbeats), 0.5);
        QCOMPARE(LF::bestBarPhase(20, 2, Series(1001, 0.0)), 0.0);
        QCOMPARE(LF::bestBarPhase(20, 25, downbeats), 0.0);
        QCOMPARE(LF::bestBarPhase(20, 2, Series()), 0.0);

        // Candidate starts follow the bar grid of a beat envelope.
        const auto envelope = beats(1001, 20, 0.5, 0.5);
        const Series peaks(envelope.cbegin(), envelope.cend());
        const auto onsets = LF::normalizedOnsets(peaks);
        const auto starts = LF::candidateStarts(20, 120.0, peaks, onsets);
        QCOMPARE(starts.front(), 0.0);
        QVERIFY(std::is_sorted(starts.begin(), starts.end()));
        // Every bar line from the downbeat phase has a start within the 0.08 s merge distance.
        for (double bar = 0.5; bar < 19.25; bar += 2)
            QVERIFY2(std::any_of(starts.begin(), starts.end(), [&](double s) { return std::abs(s - bar) < 0.08; }),
                     qPrintable(QString::number(bar)));
        for (std::size_t i = 1; i < starts.size(); ++i)
            QVERIFY(starts[i] - starts[i - 1] >= 0.08);
        QVERIFY(starts.back() < 20);
        QCOMPARE(LF::candidateStarts(20, std::nullopt, Series(1001, 0.0), Series(1001, 0.0)), std::vector<double>{0.0});
    }

    void accentsAndOnsetTimes()
    {
        Series peaks(100, 0.0), onsets(100, 0.0);
        peaks[50] = 1;
        onsets[50] = 1;
        QCOMPARE(LF::localAccentScore(47, peaks, onsets), 1.0);
        QCOMPARE(LF::localAccentScore(46, peaks, onsets), 0.0);
        QCOMPARE(LF::localAccentScore(53, peaks, Series()), 0.38);

        // Seven indices around each accent pass 0.28, the loudest first, earliest first among
        // equals; times closer than 0.16 s to a kept one go.
        peaks[10] = 0.8;
        const auto near = [](const std::vector<double> &times, const std::vector<double> &expected) {
            return times.size() == expected.size()
                && std::equal(times.begin(), times.end(), expected.begin(),
                              [](double a, double b) { return std::abs(a - b) < 1e-9; });
        };
        QVERIFY(near(LF::strongestOnsetTimes(9.9, peaks, onsets, 28), {0.7, 0.9, 1.1, 1.3, 4.7, 4.9, 5.1, 5.3}));
        QVERIFY(near(LF::strongestOnsetTimes(9.9, peaks, onsets, 1), {4.7}));
        QCOMPARE(LF::strongestOnsetTimes(0, peaks, onsets, 28).size(), std::size_t(0));
    }

    void clickTrackFromAFile()
    {
        QTemporaryDir dir;
        const auto file = AudioFixtures::clickTrack(dir.filePath(QStringLiteral("loop.wav")), 16.0, 120);
        AudioAnalyzer analyzer;
        const auto envelope = finish(analyzer.waveformPeaks(file, 1100));
        LoopFinderService finder;
        const auto loops = finish(finder.findLoops(envelope, 16.0, 120.0, 6));
        QCOMPARE(loops, LF::findLoopsSync(envelope, 16.0, 120.0, 6));
        QCOMPARE(loops.size(), 6);
        QVERIFY2(loops.front().confidence > 0.7, qPrintable(QString::number(loops.front().confidence)));
        QVERIFY(isMultipleOf(loops.front().start, 0.5));
        QVERIFY(isMultipleOf(loops.front().end - loops.front().start, 2.0));
    }

    void toolLoopsUseTheGivenOrStoredTempo()
    {
        if (qEnvironmentVariableIsEmpty("VESPERTONE_TOOL"))
            QSKIP("run through ctest");
        QTemporaryDir dir;
        const auto file = AudioFixtures::clickTrack(dir.filePath(QStringLiteral("Loop.wav")), 12.0, 100);
        const auto envelope = AudioAnalyzer::waveformPeaksSync(file, 1100);
        const auto loops = [&](const QStringList &options) {
            const auto run = runTool(QStringList{QStringLiteral("loops"), file} + options);
            QVector<LoopSuggestion> found;
            for (const auto &value : QJsonDocument::fromJson(run.out).array()) {
                const auto object = value.toObject();
                found.append({object[QStringLiteral("start")].toDouble(), object[QStringLiteral("end")].toDouble(),
                              object[QStringLiteral("confidence")].toDouble()});
            }
            return found;
        };
        QCOMPARE(loops({}), LF::findLoopsSync(envelope, 12.0, std::nullopt, 6));
        QCOMPARE(
            loops({QStringLiteral("--bpm"), QStringLiteral("100"), QStringLiteral("--limit"), QStringLiteral("3")}),
            LF::findLoopsSync(envelope, 12.0, 100.0, 3));

        auto metadata = RecordingMetadata::fresh(QDateTime::currentDateTimeUtc());
        metadata.bpm = 100;
        MetadataStore::save(metadata, file);
        QCOMPARE(loops({}), LF::findLoopsSync(envelope, 12.0, 100.0, 6));
        QCOMPARE(loops({QStringLiteral("--bpm"), QStringLiteral("150")}), LF::findLoopsSync(envelope, 12.0, 150.0, 6));
        QVERIFY(runTool({QStringLiteral("loops"), dir.filePath(QStringLiteral("None.wav"))}).exitCode != 0);
    }
};

QTEST_GUILESS_MAIN(LoopFinderTest)
#include "test_loop_finder.moc"
