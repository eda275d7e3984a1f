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

    /// Suggestions are ranked and distinct; with a tempo they sit on its 1/16-note grid, last
    /// at least 3/4 s, and the strongest is a whole number of bars.
    void beatEnvelopes()
    {
        const double duration = 30.3;
        const auto envelope = beats(1100, duration, 0.5, 0.37);
        for (const auto bpm : {std::optional<double>(120), std::optional<double>()}) {
            const auto loops = LF::findLoopsSync(envelope, duration, bpm, 50);
            QVERIFY(loops.size() > 6);
            for (qsizetype i = 0; i < loops.size(); ++i) {
                QVERIFY(loops[i].confidence >= 0 && loops[i].end <= duration);
                for (qsizetype j = 0; j < i; ++j)
                    QVERIFY(loops[j].confidence >= loops[i].confidence
                            && !(std::abs(loops[i].start - loops[j].start) < 0.12
                                 && std::abs(loops[i].end - loops[j].end) < 0.12));
                if (!bpm)
                    continue;
                QVERIFY2(isMultipleOf(loops[i].start, 0.125), qPrintable(QString::number(loops[i].start)));
                QVERIFY(isMultipleOf(loops[i].end, 0.125) || loops[i].end == duration);
                QVERIFY(loops[i].end - loops[i].start >= 0.75);
            }
            QVERIFY(!bpm || isMultipleOf(loops.front().end - loops.front().start, 2.0));
        }
    }

    /// A click track's loops, asynchronously, then from the tool with the tempo its sidecar holds.
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
        auto metadata = RecordingMetadata::fresh(QDateTime::currentDateTimeUtc());
        metadata.bpm = 100;
        MetadataStore::save(metadata, file);
        QVector<LoopSuggestion> found;
        for (const auto &value : QJsonDocument::fromJson(runTool({QStringLiteral("loops"), file}).out).array()) {
            const auto object = value.toObject();
            found.append({object[QStringLiteral("start")].toDouble(), object[QStringLiteral("end")].toDouble(),
                          object[QStringLiteral("confidence")].toDouble()});
        }
        QCOMPARE(found, loops);
    }
};

QTEST_GUILESS_MAIN(LoopFinderTest)
#include "test_loop_finder.moc"
