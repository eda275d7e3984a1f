// The recording detail editor: the trim-undo state machine on a fake clock, the timeline's zoom,
// viewport and handle arithmetic, loop-candidate cycling, the source line, and the editor on a
// real store.

#include "library/MetadataStore.h"
#include "media/AudioPlaybackService.h"
#include "store/RecordingLibraryStore.h"
#include "support/AudioFixtures.h"
#include "support/FakeSoundServer.h"
#include "support/TaskRunner.h"
#include "support/TestEnvironment.h"
#include "ui/HeaderSourceView.h"
#include "ui/LoopSuggestionCycle.h"
#include "ui/RecordingDetailView.h"
#include "ui/ThemeController.h"
#include "ui/TrimSelectionModel.h"
#include "ui/WaveformTrimView.h"
#include "ui/WaveformViewport.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QTest>
#include <QWheelEvent>
#include <cmath>
#include <thread>

using namespace std::chrono_literals;

namespace {
const auto none = std::nan("");

std::optional<double> optional(double value)
{
    return std::isnan(value) ? std::nullopt : std::optional(value);
}

/// Compares ranges to a microsecond.
bool near(TrimRange a, TrimRange b)
{
    return std::abs(a.start - b.start) < 1e-6 && std::abs(a.end - b.end) < 1e-6;
}
/// An output that plays in real time into nowhere, for playback without a sound server.
class SilentOutput final : public AudioOutput {
public:
    [[nodiscard]] qint64 writableFrames() override { return std::max<qint64>(heardFrame() + 4800 - m_written, 0); }
    void write(const float *, qint64 frames) override
    {
        if (m_written == 0)
            m_clock.start();
        m_written += frames;
    }
    void flushOut() override {}
    [[nodiscard]] qint64 heardFrame() override
    {
        return m_written == 0 ? 0 : std::min(m_written, m_clock.elapsed() * 48);
    }
    void waitForRequest(std::chrono::milliseconds timeout) override { std::this_thread::sleep_for(timeout); }
    [[nodiscard]] bool failed() const override { return false; }

private:
    QElapsedTimer m_clock;
    qint64 m_written = 0;
};
} // namespace

Q_DECLARE_METATYPE(TrimRange)

class TestDetailEditor : public QObject {
    Q_OBJECT

    TestEnvironment m_env;

private slots:
    // --- the trim selection and its undo

    void settlesAnEditAfterTheLastMove()
    {
        TrimSelectionModel model(m_env.clock);
        model.load(10, std::nullopt, std::nullopt);
        model.edit({1, 10});
        QCOMPARE(model.undoRange(), TrimRange(0, 10)); // offered during the drag
        m_env.clock.advance(300ms);
        model.edit({2, 10});
        m_env.clock.advance(449ms);
        QVERIFY(model.isEditing());
        m_env.clock.advance(1ms);
        QVERIFY(!model.isEditing());
        QCOMPARE(model.undoRange(), TrimRange(0, 10));
        QVERIFY(model.undo());
        QCOMPARE(model.range(), TrimRange(0, 10));
        QVERIFY(!model.undoRange() && !model.undo());
    }

    void anEditThatReturnsLeavesNoUndo()
    {
        TrimSelectionModel model(m_env.clock);
        model.load(10, std::nullopt, std::nullopt);
        model.edit({0, 7});
        m_env.clock.advance(100ms);
        model.edit({0, 10});
        m_env.clock.advance(450ms);
        QVERIFY(!model.isEditing());
        QVERIFY(!model.undoRange());
        // The next edit starts from the settled range.
        model.edit({4, 10});
        m_env.clock.advance(450ms);
        QCOMPARE(model.undoRange(), TrimRange(0, 10));
    }

    void programmaticRangeCancelsThePendingEdit()
    {
        TrimSelectionModel model(m_env.clock);
        model.load(10, std::nullopt, std::nullopt);
        model.edit({1, 10});
        model.setRange({2, 3}, false);
        QVERIFY(!model.isEditing());
        m_env.clock.advance(1000ms);
        QCOMPARE(model.range(), TrimRange(2, 3));
        QCOMPARE(model.undoRange(), TrimRange(0, 10));
        // A settled programmatic range is the base of the next edit.
        model.edit({2, 5});
        m_env.clock.advance(450ms);
        QCOMPARE(model.undoRange(), TrimRange(2, 3));
    }

    void setsProgrammaticRanges_data()
    {
        QTest::addColumn<double>("duration");
        QTest::addColumn<TrimRange>("requested");
        QTest::addColumn<bool>("recordUndo");
        QTest::addColumn<TrimRange>("expected");
        QTest::addColumn<bool>("undoable");
        QTest::newRow("negative start") << 10.0 << TrimRange(-1, 5) << true << TrimRange(0, 5) << true;
        QTest::newRow("start at the end") << 10.0 << TrimRange(9.995, 9.999) << true << TrimRange(9.98, 10) << true;
        QTest::newRow("end before start") << 10.0 << TrimRange(3, 2) << true << TrimRange(3, 3.02) << true;
        QTest::newRow("undefined start") << 10.0 << TrimRange(none, 4) << true << TrimRange(0, 4) << true;
        QTest::newRow("end past the file") << 10.0 << TrimRange(2, 12) << false << TrimRange(2, 10) << false;
        QTest::newRow("shorter than the gap") << 0.01 << TrimRange(0.005, 0.5) << true << TrimRange(0, 0.01) << true;
        QTest::newRow("the same range") << 10.0 << TrimRange(0, 10) << true << TrimRange(0, 10) << false;
    }
    void setsProgrammaticRanges()
    {
        QFETCH(double, duration);
        QFETCH(TrimRange, requested);
        QFETCH(bool, recordUndo);
        QFETCH(TrimRange, expected);
        QFETCH(bool, undoable);
        TrimSelectionModel model(m_env.clock);
        model.load(duration, std::nullopt, std::nullopt);
        const auto loaded = model.range();
        model.setRange(requested, recordUndo);
        QVERIFY2(near(model.range(), expected),
                 qPrintable(QStringLiteral("%1...%2").arg(model.range().start).arg(model.range().end)));
        QCOMPARE(model.undoRange().has_value(), undoable);
        if (undoable)
            QCOMPARE(*model.undoRange(), loaded);
    }

    void loadsTheStoredTrim_data()
    {
        QTest::addColumn<double>("duration");
        QTest::addColumn<double>("storedStart");
        QTest::addColumn<double>("storedEnd");
        QTest::addColumn<TrimRange>("expected");
        QTest::newRow("nothing stored") << 10.0 << none << none << TrimRange(0, 10);
        QTest::newRow("stored range") << 10.0 << 2.0 << 4.0 << TrimRange(2, 4);
        QTest::newRow("end past the duration") << 10.0 << 2.0 << 12.0 << TrimRange(2, 10);
        QTest::newRow("end not after start") << 10.0 << 5.0 << 5.0 << TrimRange(5, 10);
        QTest::newRow("negative start") << 10.0 << -1.0 << none << TrimRange(0, 10);
        QTest::newRow("a hundredth of a second") << 0.01 << none << none << TrimRange(0, 0.01);
    }
    void loadsTheStoredTrim()
    {
        QFETCH(double, duration);
        QFETCH(double, storedStart);
        QFETCH(double, storedEnd);
        QFETCH(TrimRange, expected);
        TrimSelectionModel model(m_env.clock);
        model.edit({1, 2}); // nothing loaded yet: no undo is offered
        model.load(duration, optional(storedStart), optional(storedEnd));
        QCOMPARE(model.range(), expected);
        QVERIFY(!model.undoRange() && !model.isEditing());
    }

    // --- zoom, viewport and handles

    void clampsZoom_data()
    {
        QTest::addColumn<double>("zoom");
        QTest::addColumn<double>("expected");
        QTest::newRow("below one") << 0.5 << 1.0;
        QTest::newRow("NaN") << none << 1.0;
        QTest::newRow("infinite") << double(INFINITY) << 1.0;
        QTest::newRow("above sixteen") << 20.0 << 16.0;
        QTest::newRow("inside") << 4.0 << 4.0;
    }
    void clampsZoom()
    {
        QFETCH(double, zoom);
        QFETCH(double, expected);
        QCOMPARE(WaveformViewport::clampZoom(zoom), expected);
    }

    void movesTheViewport_data()
    {
        QTest::addColumn<double>("zoom");
        QTest::addColumn<double>("start");
        QTest::addColumn<QString>("operation");
        QTest::addColumn<double>("argument");
        QTest::addColumn<double>("anchor");
        QTest::addColumn<double>("expectedZoom");
        QTest::addColumn<double>("expectedStart");
        // 100 s recording.
        QTest::newRow("start clamped to the end") << 4.0 << 90.0 << "clamp" << 0.0 << 0.0 << 4.0 << 75.0;
        QTest::newRow("zoom in from 12 gives 16") << 12.0 << 0.0 << "zoom" << 18.0 << 50.0 << 16.0 << 46.875;
        QTest::newRow("zoom out from 1 stays 1") << 1.0 << 0.0 << "zoom" << 2.0 / 3 << 50.0 << 1.0 << 0.0;
        QTest::newRow("visible anchor keeps its place") << 2.0 << 10.0 << "zoom" << 4.0 << 20.0 << 4.0 << 15.0;
        QTest::newRow("hidden anchor is centred") << 2.0 << 10.0 << "zoom" << 4.0 << 80.0 << 4.0 << 67.5;
        QTest::newRow("follow: before the margin") << 4.0 << 50.0 << "follow" << 52.0 << 0.0 << 4.0 << 49.0;
        QTest::newRow("follow: after the margin") << 4.0 << 50.0 << "follow" << 74.0 << 0.0 << 4.0 << 52.0;
        QTest::newRow("follow: inside") << 4.0 << 50.0 << "follow" << 60.0 << 0.0 << 4.0 << 50.0;
        QTest::newRow("follow: near the end") << 4.0 << 50.0 << "follow" << 99.0 << 0.0 << 4.0 << 75.0;
        QTest::newRow("follow: not zoomed") << 1.0 << 0.0 << "follow" << 99.0 << 0.0 << 1.0 << 0.0;
        QTest::newRow("pan right goes earlier") << 4.0 << 50.0 << "pan" << 100.0 << 0.0 << 4.0 << 45.0;
        QTest::newRow("pan stops at the end") << 4.0 << 50.0 << "pan" << -2000.0 << 0.0 << 4.0 << 75.0;
    }
    void movesTheViewport()
    {
        QFETCH(double, zoom);
        QFETCH(double, start);
        QFETCH(QString, operation);
        QFETCH(double, argument);
        QFETCH(double, anchor);
        QFETCH(double, expectedZoom);
        QFETCH(double, expectedStart);
        WaveformViewport viewport{100, zoom, start};
        if (operation == u"clamp")
            viewport.clamp();
        else if (operation == u"zoom")
            viewport.zoomAround(argument, anchor);
        else if (operation == u"follow")
            viewport.keepVisible(argument);
        else
            viewport.start = viewport.pannedStart(viewport.clampedStart(), argument, 500);
        QCOMPARE(viewport.zoom, expectedZoom);
        QCOMPARE(viewport.clampedStart(), expectedStart);
    }

    void keepsHandlesApart_data()
    {
        QTest::addColumn<double>("duration");
        QTest::addColumn<bool>("startHandle");
        QTest::addColumn<double>("pointer");
        QTest::addColumn<double>("otherHandle");
        QTest::addColumn<double>("expected");
        QTest::newRow("start past the end") << 10.0 << true << 8.0 << 5.0 << 4.98;
        QTest::newRow("start inside") << 10.0 << true << 2.0 << 5.0 << 2.0;
        QTest::newRow("end to the far left") << 10.0 << false << 0.0 << 3.0 << 3.02;
        QTest::newRow("end past the duration") << 10.0 << false << 12.0 << 3.0 << 10.0;
        QTest::newRow("end gap capped by the duration") << 10.0 << false << 0.0 << 9.995 << 10.0;
        QTest::newRow("hundredth: start") << 0.01 << true << 0.01 << 0.01 << 0.0;
        QTest::newRow("hundredth: end") << 0.01 << false << 0.0 << 0.0 << 0.01;
    }
    void keepsHandlesApart()
    {
        QFETCH(double, duration);
        QFETCH(bool, startHandle);
        QFETCH(double, pointer);
        QFETCH(double, otherHandle);
        QFETCH(double, expected);
        const WaveformViewport viewport{duration, 1, 0};
        const auto value =
            startHandle ? viewport.startHandleTime(pointer, otherHandle) : viewport.endHandleTime(pointer, otherHandle);
        QVERIFY2(std::abs(value - expected) < 1e-9, qPrintable(QString::number(value)));
    }

    void mapsTimesAndPeaksOfTheWindow()
    {
        // 548 points with a 24-point inset: a 500-point track; 10 s at zoom 2 shows 5 s.
        const auto track = TimelineTrack::of(548, 24);
        const WaveformViewport viewport{10, 2, 4};
        QCOMPARE(track.x(6.5, viewport), 274.0);
        QCOMPARE(track.time(274, viewport), 6.5);
        QCOMPARE(track.time(0, viewport), 4.0);
        QCOMPARE(track.time(9000, viewport), 9.0);
        QCOMPARE(TimelineTrack::of(30, 24).width, 1.0);

        QVector<float> peaks;
        for (int i = 0; i < 11; ++i)
            peaks << float(i);
        const auto window = viewport.peaksForVisibleRange(peaks, 2.5, 5);
        QCOMPARE(std::vector<float>(window.begin(), window.end()), std::vector<float>({2, 3, 4, 5}));
        QCOMPARE(viewport.peaksForVisibleRange(peaks, 0, 10).size(), std::size_t(11));
        QCOMPARE(viewport.peaksForVisibleRange(peaks, 12, 20).size(), std::size_t(1));
        QVERIFY(viewport.peaksForVisibleRange({}, 0, 10).empty());
        QVERIFY(WaveformViewport{}.peaksForVisibleRange(peaks, 0, 10).empty());
    }

    void dragsHandlesAndPans_data()
    {
        QTest::addColumn<double>("zoom");
        QTest::addColumn<QPointF>("from");
        QTest::addColumn<QPointF>("to");
        QTest::addColumn<TrimRange>("expectedTrim"); // (-1, -1): none reported
        QTest::addColumn<double>("expectedStart");   // -1: no window change
        // 548 points wide with the gothic inset of 24: 10 s over a 500-point track at zoom 1.
        QTest::newRow("start handle past the end")
            << 1.0 << QPointF(124, 80) << QPointF(474, 80) << TrimRange(7.98, 8) << -1.0;
        QTest::newRow("end handle to the far left")
            << 1.0 << QPointF(424, 80) << QPointF(-50, 80) << TrimRange(2, 2.02) << -1.0;
        QTest::newRow("surface at zoom 1") << 1.0 << QPointF(300, 80) << QPointF(100, 80) << TrimRange(-1, -1) << -1.0;
        QTest::newRow("surface zoomed: drag left goes later")
            << 4.0 << QPointF(300, 80) << QPointF(200, 80) << TrimRange(-1, -1) << 0.5;
        QTest::newRow("less than the pan threshold")
            << 4.0 << QPointF(300, 80) << QPointF(302, 80) << TrimRange(-1, -1) << -1.0;
    }
    void dragsHandlesAndPans()
    {
        QFETCH(double, zoom);
        QFETCH(QPointF, from);
        QFETCH(QPointF, to);
        QFETCH(TrimRange, expectedTrim);
        QFETCH(double, expectedStart);
        WaveformTrimView view;
        view.resize(548, 184);
        view.setPeaks({0.2f, 1.0f, 0.5f}, 10);
        view.setViewport(zoom, 0);
        view.setTrimRange(zoom > 1 ? TrimRange(0.5, 2) : TrimRange(2, 8));
        QSignalSpy trims(&view, &WaveformTrimView::trimEdited);
        QSignalSpy windows(&view, &WaveformTrimView::viewportEdited);
        const auto send = [&](QEvent::Type type, QPointF point, Qt::MouseButtons buttons) {
            QMouseEvent event(type, point, view.mapToGlobal(point), Qt::LeftButton, buttons, Qt::NoModifier);
            QApplication::sendEvent(&view, &event);
        };
        send(QEvent::MouseButtonPress, from, Qt::LeftButton);
        send(QEvent::MouseMove, (from + to) / 2, Qt::LeftButton);
        send(QEvent::MouseMove, to, Qt::LeftButton);
        send(QEvent::MouseButtonRelease, to, Qt::NoButton);
        if (expectedTrim == TrimRange(-1, -1)) {
            QVERIFY(trims.isEmpty());
        } else {
            QVERIFY(!trims.isEmpty());
            QVERIFY(near(trims.last().first().value<TrimRange>(), expectedTrim));
        }
        if (expectedStart < 0) {
            QVERIFY(windows.isEmpty());
        } else {
            QVERIFY(!windows.isEmpty());
            QCOMPARE(windows.last().at(1).toDouble(), expectedStart);
        }
    }

    void zoomsWithControlWheel()
    {
        WaveformTrimView view;
        view.resize(548, 184);
        view.setPeaks({}, 10);
        QSignalSpy windows(&view, &WaveformTrimView::viewportEdited);
        // One notch in at the point over 6 s: the time under the pointer stays there.
        QWheelEvent wheel(QPointF(324, 80), view.mapToGlobal(QPointF(324, 80)), {}, QPoint(0, 120), Qt::NoButton,
                          Qt::ControlModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(&view, &wheel);
        QCOMPARE(windows.count(), 1);
        const auto zoom = windows.last().at(0).toDouble();
        const auto start = windows.last().at(1).toDouble();
        QCOMPARE(zoom, 1.25);
        QCOMPARE(start + 10 / zoom * 0.6, 6.0);
    }

    // --- loop candidates

    void cyclesLoopCandidates()
    {
        LoopSuggestionCycle cycle;
        QVERIFY(!cycle.advance());
        QCOMPARE(cycle.message(1, 3), QStringLiteral("Loop candidate 00:01 - 00:03"));
        cycle.reset({{4, 6, 0.9}, {8, 12, 0.8}, {0, 2, 0.5}});
        QCOMPARE(cycle.current()->start, 4.0);
        QCOMPARE(cycle.advance()->start, 8.0);
        QCOMPARE(cycle.message(8, 12), QStringLiteral("Loop candidate 2/3 00:08 - 00:12"));
        QCOMPARE(cycle.advance()->start, 0.0);
        QCOMPARE(cycle.advance()->start, 4.0);
        QCOMPARE(cycle.index(), 0);
    }

    void zoomsToALoop_data()
    {
        QTest::addColumn<double>("length");
        QTest::addColumn<double>("zoom");
        QTest::addColumn<double>("expected");
        QTest::newRow("2 s of 60 s: limited to 16") << 2.0 << 1.0 << 16.0;
        QTest::newRow("10 s of 60 s") << 10.0 << 1.0 << 7.5;
        QTest::newRow("a higher zoom stays") << 10.0 << 12.0 << 12.0;
        QTest::newRow("the whole file") << 60.0 << 1.0 << 1.0;
    }
    void zoomsToALoop()
    {
        QFETCH(double, length);
        QFETCH(double, zoom);
        QFETCH(double, expected);
        QCOMPARE(LoopSuggestionCycle::zoomFor(length, 60, zoom), expected);
    }

    // --- the source line

    void namesTheSource_data()
    {
        QTest::addColumn<QString>("app");
        QTest::addColumn<QString>("bundle");
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<bool>("link");
        QTest::newRow("page") << "Firefox"
                              << "firefox"
                              << "https://www.example.com/watch?v=1"
                              << "Source: Firefox - www.example.com" << true;
        QTest::newRow("no host") << "Files"
                                 << "files"
                                 << "file:///tmp/a.mp3"
                                 << "Source: Files - file:///tmp/a.mp3" << true;
        QTest::newRow("no app") << QString() << "x"
                                << "https://example.org/"
                                << "Source: Unknown app - example.org" << true;
        QTest::newRow("not a URL") << "Music"
                                   << "music"
                                   << "just words"
                                   << "Source: Music - Night Drive" << false;
        QTest::newRow("no URL") << "Music"
                                << "music" << QString() << "Source: Music - Night Drive" << false;
        QTest::newRow("ignored app") << "Tool"
                                     << "ignored.tool"
                                     << "https://example.org/"
                                     << "Source: not captured" << false;
    }
    void namesTheSource()
    {
        QFETCH(QString, app);
        QFETCH(QString, bundle);
        QFETCH(QString, url);
        QFETCH(QString, expected);
        QFETCH(bool, link);
        RecordingSourceContext source;
        if (!app.isNull())
            source.appName = app;
        source.bundleIdentifier = bundle;
        source.windowTitle = QStringLiteral("Night Drive");
        if (!url.isNull())
            source.urlString = url;
        const QSet<QString> ignored{QStringLiteral("ignored.tool")};
        QCOMPARE(HeaderSourceView::sourceText(source, ignored), expected);
        HeaderSourceView view;
        view.setSource(source, ignored);
        QCOMPARE(view.hasURL(), link);
        QCOMPARE(HeaderSourceView::sourceText(std::nullopt), QStringLiteral("Source: not captured"));
    }

    // --- the editor on a store

    void stopsPlaybackBeforeACaptureStarts()
    {
        TestEnvironment env;
        FakeSoundServer server;
        auto environment = env.storeEnvironment();
        environment.soundServer = &server;
        const auto path = AudioFixtures::tone(env.path(QStringLiteral("Tone.wav")), 3);
        RecordingLibraryStore store(environment);
        QSignalSpy started(&store, &RecordingLibraryStore::recoveryFinished);
        QVERIFY(started.wait(20000));
        ThemeController theme(store.settings());
        auto *player = new AudioPlaybackService(
            [](int, int) -> std::unique_ptr<AudioOutput> { return std::make_unique<SilentOutput>(); });
        RecordingDetailView view(store, theme, &env.clock, player);
        QCOMPARE(view.recording()->url, path);
        view.togglePlayback();
        QTRY_VERIFY(player->isPlaying());
        QTRY_VERIFY(player->currentTime() > 0.1);

        // The first state a capture shows already finds playback stopped.
        std::optional<bool> playingAtCapture;
        connect(&store, &RecordingLibraryStore::captureStateChanged, this, [&] {
            if (!playingAtCapture && !store.captureState().is(CaptureState::Kind::idle))
                playingAtCapture = player->isPlaying();
        });
        finish(store.startRecording(RecordingInputSource::microphone));
        QCOMPARE(playingAtCapture, std::optional(false));
        finish(store.stopRecording());
    }

    void editsTheSelectedRecording()
    {
        const auto path = AudioFixtures::clickTrack(m_env.path(QStringLiteral("Beat.wav")), 12, 120);
        auto metadata = RecordingMetadata::fresh(QDateTime(QDate(2024, 5, 1), QTime(12, 0), Qt::UTC));
        metadata.bpm = 120;
        RecordingSourceContext source;
        source.appName = QStringLiteral("Firefox");
        source.urlString = QStringLiteral("https://example.com/beat");
        source.capturedAt = metadata.createdAt;
        metadata.source = source;
        MetadataStore::save(metadata, path);
        RecordingLibraryStore store(m_env.storeEnvironment());
        QSignalSpy started(&store, &RecordingLibraryStore::recoveryFinished);
        QVERIFY(started.wait(20000));
        ThemeController theme(store.settings());
        // Playback is not under test here: an output that cannot open.
        auto *player = new AudioPlaybackService(
            [](int, int) -> std::unique_ptr<AudioOutput> { throw AppError(QStringLiteral("no output")); });
        RecordingDetailView view(store, theme, &m_env.clock, player);
        QSignalSpy loaded(&view, &RecordingDetailView::waveformLoaded);
        store.setSelectedIDs({path});
        QVERIFY(loaded.count() || loaded.wait(10000));
        QVERIFY(view.peaks().size() >= RecordingDetailView::peakCount);
        QCOMPARE(view.trimSelection().range(), TrimRange(0, 12));
        QCOMPARE(view.undoHelpText(), QStringLiteral("Undo"));

        QSignalSpy openSource(&view, &RecordingDetailView::openSourceRequested);
        auto *line = view.findChild<HeaderSourceView *>();
        QVERIFY(line && line->hasURL());
        line->click();
        QCOMPARE(openSource.count(), 1);

        finish(view.findLoop());
        const auto count = view.loopSuggestions().count();
        QVERIFY(count >= 2);
        QVERIFY(view.loopEnabled());
        const auto first = *view.loopSuggestions().current();
        QCOMPARE(view.trimSelection().range(), TrimRange(first.start, first.end));
        QCOMPARE(view.viewport().zoom,
                 LoopSuggestionCycle::zoomFor(first.end - first.start, 12, WaveformViewport::minimumZoom));
        QVERIFY(view.loopSuggestionMessage()->startsWith(QStringLiteral("Loop candidate 1/%1 ").arg(count)));
        QCOMPARE(view.undoHelpText(), QStringLiteral("Undo Trim Change"));

        finish(view.findLoop()); // cycles, no new search
        QCOMPARE(view.loopSuggestions().index(), 1);
        QVERIFY(view.loopSuggestionMessage()->startsWith(QStringLiteral("Loop candidate 2/%1 ").arg(count)));

        view.performUndo();
        QCOMPARE(view.trimSelection().range(), TrimRange(first.start, first.end));
        QVERIFY(view.loopSuggestions().isEmpty() && !view.loopSuggestionMessage());
        view.performUndo();
        QCOMPARE(view.trimSelection().range(), TrimRange(first.start, first.end));

        // A drag on the timeline goes through the settling edit.
        emit view.timeline().trimEdited({1, 11});
        QCOMPARE(view.undoHelpText(), QStringLiteral("Undo Trim Change"));
        QCOMPARE(view.timeline().trimRange(), TrimRange(1, 11));
        m_env.clock.advance(450ms);
        view.performUndo();
        QCOMPARE(view.trimSelection().range(), TrimRange(first.start, first.end));

        // Zoom buttons anchor on the selection's middle.
        view.resetZoom();
        view.adjustWaveformZoom(1.5);
        QCOMPARE(view.viewport().zoom, 1.5);
        QCOMPARE(view.timeline().viewport().zoom, 1.5);

        // A failed play reaches the status line.
        store.setStatusMessage(QStringLiteral("before"));
        view.togglePlayback();
        QTRY_COMPARE(store.statusMessage().value_or(QString()), QStringLiteral("no output"));
    }
};

QTEST_MAIN(TestDetailEditor)
#include "test_detail_editor.moc"
