#include "analysis/AudioAnalyzer.h"
#include "analysis/LoopFinderService.h"
#include "library/MetadataStore.h"
#include "media/FFmpegLogging.h"
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
    void initTestCase() { configureFFmpegLogging(); }

    /// Without accents the suggestions are the musical lengths that fit, from the start.
    void flatEnvelopes_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<double>("duration");
        QTest::addColumn<std::optional<double>>("bpm");
        QTest::addColumn<int>("limit");
        QTest::addColumn<QVector<double>>("ends");
        const std::optional<double> none;
        QTest::newRow("too few values: the whole file") << 31 << 10.0 << none << 6 << QVector<double>{10};
        QTest::newRow("shorter than a bar") << 32 << 0.5 << std::optional<double>(120) << 6 << QVector<double>{0.5};
        QTest::newRow("no duration") << 500 << 0.0 << none << 6 << QVector<double>{};
        QTest::newRow("duration not a number") << 500 << std::nan("") << none << 6 << QVector<double>{};
        QTest::newRow("no bar fits at 45 BPM") << 100 << 3.0 << std::optional<double>(45) << 6 << QVector<double>{3};
        QTest::newRow("seconds without tempo") << 1100 << 20.0 << none << 6 << QVector<double>{8, 4, 16, 2, 1};
        QTest::newRow("250 BPM is no tempo")
            << 1100 << 30.0 << std::optional<double>(250) << 6 << QVector<double>{8, 4, 16, 2, 1};
        QTest::newRow("zero limit") << 1100 << 20.0 << none << 0 << QVector<double>{};
    }

    void flatEnvelopes()
    {
        QFETCH(int, count);
        QFETCH(double, duration);
        QFETCH(std::optional<double>, bpm);
        QFETCH(int, limit);
        QFETCH(QVector<double>, ends);
        QVector<double> found;
        for (const auto &loop : LF::findLoopsSync(QVector<float>(count, 0.0f), duration, bpm, limit)) {
            QCOMPARE(loop.start, 0.0);
            QVERIFY(loop.confidence >= 0 && loop.confidence <= 1);
            found.append(loop.end);
        }
        QCOMPARE(found, ends);
    }

    void tempoSnapsToSixteenths()
    {
        const double duration = 30.3;
        const auto loops = LF::findLoopsSync(beats(1100, duration, 0.5, 0.37), duration, 120.0, 50);
        QVERIFY(loops.size() > 6);
        for (const auto &loop : loops) {
            QVERIFY2(isMultipleOf(loop.start, 0.125), qPrintable(QString::number(loop.start)));
            QVERIFY2(isMultipleOf(loop.end, 0.125) || loop.end == duration, qPrintable(QString::number(loop.end)));
            QVERIFY(loop.end - loop.start >= 0.75 && loop.end <= duration);
        }
        // The strongest suggestion is a whole number of bars.
        QVERIFY(isMultipleOf(loops.front().end - loops.front().start, 2.0));
    }

    void resultsAreRankedAndDistinct()
    {
        const auto envelope = beats(1100, 24, 0.6);
        for (const auto bpm : {std::optional<double>(100), std::optional<double>()}) {
            const auto loops = LF::findLoopsSync(envelope, 24, bpm, 6);
            QCOMPARE(loops.size(), 6);
            for (qsizetype i = 1; i < loops.size(); ++i) {
                QVERIFY(loops[i - 1].confidence >= loops[i].confidence && loops[i].confidence >= 0);
                for (qsizetype j = 0; j < i; ++j)
                    QVERIFY(!(std::abs(loops[i].start - loops[j].start) < 0.12
                              && std::abs(loops[i].end - loops[j].end) < 0.12));
            }
        }
    }

    /// A click track's loops, asynchronously, then from the tool with a given or stored tempo.
    void clickTrackLoops()
    {
        QTemporaryDir dir;
        const auto file = AudioFixtures::clickTrack(dir.filePath(QStringLiteral("Loop.wav")), 12.0, 100);
        AudioAnalyzer analyzer;
        const auto envelope = finish(analyzer.waveformPeaks(file, 1100));
        LoopFinderService finder;
        const auto loops = finish(finder.findLoops(envelope, 12.0, 100.0, 6));
        QCOMPARE(loops, LF::findLoopsSync(envelope, 12.0, 100.0, 6));
        QVERIFY2(loops.front().confidence > 0.7, qPrintable(QString::number(loops.front().confidence)));
        QVERIFY(isMultipleOf(loops.front().start, 0.6) && isMultipleOf(loops.front().end - loops.front().start, 2.4));
        if (qEnvironmentVariableIsEmpty("VESPERTONE_TOOL"))
            QSKIP("the tool runs through ctest");
        const auto toolLoops = [&](const QStringList &options) {
            QVector<LoopSuggestion> found;
            for (const auto &value :
                 QJsonDocument::fromJson(runTool(QStringList{QStringLiteral("loops"), file} + options).out).array()) {
                const auto object = value.toObject();
                found.append({object[QStringLiteral("start")].toDouble(), object[QStringLiteral("end")].toDouble(),
                              object[QStringLiteral("confidence")].toDouble()});
            }
            return found;
        };
        QCOMPARE(toolLoops({QStringLiteral("--limit"), QStringLiteral("3")}),
                 LF::findLoopsSync(envelope, 12.0, std::nullopt, 3));
        auto metadata = RecordingMetadata::fresh(QDateTime::currentDateTimeUtc());
        metadata.bpm = 100;
        MetadataStore::save(metadata, file);
        QCOMPARE(toolLoops({}), loops);
        QCOMPARE(toolLoops({QStringLiteral("--bpm"), QStringLiteral("150")}),
                 LF::findLoopsSync(envelope, 12.0, 150.0, 6));
        QVERIFY(runTool({QStringLiteral("loops"), dir.filePath(QStringLiteral("None.wav"))}).exitCode != 0);
    }
};

QTEST_GUILESS_MAIN(LoopFinderTest)
#include "test_loop_finder.moc"
