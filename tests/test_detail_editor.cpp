// The recording detail editor: the trim-undo state machine on a fake clock, the timeline's zoom,
// viewport and handle arithmetic, loop-candidate cycling, the source line, and the editor on a
// real store.

#include "analysis/WaveformService.h"
#include "editor/EnvelopeRequest.h"
#include "editor/LibraryEnvelopeSource.h"
#include "editor/LoopSuggestionCycle.h"
#include "editor/RecordingEditor.h"
#include "editor/TrimSelectionModel.h"
#include "editor/WaveformViewport.h"
#include "library/MetadataStore.h"
#include "media/AudioPlaybackService.h"
#include "platform/DecodePool.h"
#include "store/RecordingLibraryStore.h"
#include "support/AudioFixtures.h"
#include "support/FakeSoundServer.h"
#include "support/TaskRunner.h"
#include "support/TestEnvironment.h"
#include "ui/editor/ChipText.h"
#include "ui/editor/HeaderSourceView.h"
#include "ui/editor/RecordingDetailView.h"
#include "ui/editor/WaveformBars.h"
#include "ui/editor/WaveformTrimView.h"
#include "ui/style/ThemeController.h"

#include <QApplication>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTest>
#include <QWheelEvent>
#include <atomic>
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

/// An output that takes 10 ms of audio at each wake into nowhere, for playback without a sound server.
class SilentOutput final : public AudioOutput {
public:
    [[nodiscard]] qint64 writableFrames() override { return 480; }
    void write(const float *, qint64 frames) override { m_written += frames; }
    void flushOut() override {}
    [[nodiscard]] qint64 heardFrame() override { return m_written; }
    void waitForRequest(std::chrono::milliseconds timeout) override { std::this_thread::sleep_for(timeout); }
    [[nodiscard]] bool failed() const override { return false; }

private:
    std::atomic<qint64> m_written = 0;
};

/// Hands out requests the test answers itself, and keeps an eye on each.
class HeldEnvelopeSource final : public EnvelopeSource {
public:
    [[nodiscard]] std::unique_ptr<EnvelopeRequest> load(const QString &url, int) override
    {
        auto request = std::make_unique<EnvelopeRequest>();
        requests.append({url, request.get()});
        return request;
    }

    QList<std::pair<QString, QPointer<EnvelopeRequest>>> requests;
};
} // namespace

Q_DECLARE_METATYPE(TrimRange)

class TestDetailEditor : public QObject {
    Q_OBJECT

    TestEnvironment m_env;

private slots:
    void settlesEditsIntoOneUndo()
    {
        TrimSelectionModel model(m_env.clock);
        model.load(10, std::nullopt, std::nullopt);
        // A drag settles 0.45 s after its last move; its undo is offered from the first.
        model.edit({1, 10});
        QCOMPARE(model.undoRange(), TrimRange(0, 10));
        m_env.clock.advance(300ms);
        model.edit({2, 10});
        m_env.clock.advance(449ms);
        QVERIFY(model.isEditing());
        m_env.clock.advance(1ms);
        QVERIFY(!model.isEditing());
        QVERIFY(model.undo());
        QCOMPARE(model.range(), TrimRange(0, 10));
        QVERIFY(!model.undoRange() && !model.undo());

        // A drag that returns to where it began leaves no undo.
        model.edit({0, 7});
        m_env.clock.advance(100ms);
        model.edit({0, 10});
        m_env.clock.advance(450ms);
        QVERIFY(!model.isEditing() && !model.undoRange());

        // A programmatic range ends the pending drag and is the base of the next one.
        model.edit({1, 10});
        model.setRange({2, 3}, false);
        QVERIFY(!model.isEditing());
        m_env.clock.advance(1000ms);
        QCOMPARE(model.undoRange(), TrimRange(0, 10));
        model.edit({2, 5});
        m_env.clock.advance(450ms);
        QCOMPARE(model.undoRange(), TrimRange(2, 3));
    }

    void normalisesRanges_data()
    {
        QTest::addColumn<double>("duration");
        QTest::addColumn<QString>("how"); // "load" (NaN: nothing stored), "set", or "quiet": set without undo
        QTest::addColumn<TrimRange>("requested");
        QTest::addColumn<TrimRange>("expected");
        QTest::addColumn<bool>("undoable");
        QTest::newRow("load a range") << 10.0 << "load" << TrimRange(2, 4) << TrimRange(2, 4) << false;
        QTest::newRow("load past the end") << 10.0 << "load" << TrimRange(2, 12) << TrimRange(2, 10) << false;
        QTest::newRow("load end at start") << 10.0 << "load" << TrimRange(5, 5) << TrimRange(5, 10) << false;
        QTest::newRow("load negative start") << 10.0 << "load" << TrimRange(-1, none) << TrimRange(0, 10) << false;
        QTest::newRow("negative start") << 10.0 << "set" << TrimRange(-1, 5) << TrimRange(0, 5) << true;
        QTest::newRow("start at the end") << 10.0 << "set" << TrimRange(9.995, 9.999) << TrimRange(9.98, 10) << true;
        QTest::newRow("end before start") << 10.0 << "set" << TrimRange(3, 2) << TrimRange(3, 3.02) << true;
        QTest::newRow("undefined start") << 10.0 << "set" << TrimRange(none, 4) << TrimRange(0, 4) << true;
        QTest::newRow("past the file, no undo") << 10.0 << "quiet" << TrimRange(2, 12) << TrimRange(2, 10) << false;
        QTest::newRow("shorter than the gap") << 0.01 << "set" << TrimRange(0.005, 0.5) << TrimRange(0, 0.01) << true;
        QTest::newRow("the same range") << 10.0 << "set" << TrimRange(0, 10) << TrimRange(0, 10) << false;
    }
    void normalisesRanges()
    {
        QFETCH(double, duration);
        QFETCH(QString, how);
        QFETCH(TrimRange, requested);
        QFETCH(TrimRange, expected);
        QFETCH(bool, undoable);
        TrimSelectionModel model(m_env.clock);
        model.edit({1, 2}); // nothing loaded yet: no undo is offered
        const bool load = how == u"load";
        model.load(duration, load ? optional(requested.start) : std::nullopt,
                   load ? optional(requested.end) : std::nullopt);
        if (!load)
            model.setRange(requested, how == u"set");
        QCOMPARE(model.range(), expected);
        QCOMPARE(model.undoRange(), undoable ? std::optional(TrimRange(0, duration)) : std::nullopt);
        QVERIFY(!model.isEditing());
    }

    void movesTheViewport_data()
    {
        QTest::addColumn<double>("zoom"); // of a 100 s recording
        QTest::addColumn<double>("start");
        QTest::addColumn<QString>("operation");
        QTest::addColumn<double>("argument");
        QTest::addColumn<double>("other"); // the zoom's anchor, the other handle
        QTest::addColumn<double>("expectedZoom");
        QTest::addColumn<double>("expected"); // the window's start, the handle's time
        QTest::newRow("stored start clamped to the end") << 4.0 << 90.0 << "read" << 0.0 << 0.0 << 4.0 << 75.0;
        QTest::newRow("zoom in from 12 gives 16") << 12.0 << 0.0 << "zoom" << 18.0 << 50.0 << 16.0 << 46.875;
        QTest::newRow("zoom out from 1 stays 1") << 1.0 << 0.0 << "zoom" << 2.0 / 3 << 50.0 << 1.0 << 0.0;
        QTest::newRow("zoom to NaN") << 2.0 << 10.0 << "zoom" << none << 50.0 << 1.0 << 0.0;
        QTest::newRow("visible anchor keeps its place") << 2.0 << 10.0 << "zoom" << 4.0 << 20.0 << 4.0 << 15.0;
        QTest::newRow("hidden anchor is centred") << 2.0 << 10.0 << "zoom" << 4.0 << 80.0 << 4.0 << 67.5;
        QTest::newRow("follow: before the margin") << 4.0 << 50.0 << "follow" << 52.0 << 0.0 << 4.0 << 49.0;
        QTest::newRow("follow: after the margin") << 4.0 << 50.0 << "follow" << 74.0 << 0.0 << 4.0 << 52.0;
        QTest::newRow("follow: inside") << 4.0 << 50.0 << "follow" << 60.0 << 0.0 << 4.0 << 50.0;
        QTest::newRow("follow: near the end") << 4.0 << 50.0 << "follow" << 99.0 << 0.0 << 4.0 << 75.0;
        QTest::newRow("follow: not zoomed") << 1.0 << 0.0 << "follow" << 99.0 << 0.0 << 1.0 << 0.0;
        QTest::newRow("pan right goes earlier") << 4.0 << 50.0 << "pan" << 100.0 << 0.0 << 4.0 << 45.0;
        QTest::newRow("pan stops at the end") << 4.0 << 50.0 << "pan" << -2000.0 << 0.0 << 4.0 << 75.0;
        QTest::newRow("start handle inside") << 1.0 << 0.0 << "start" << 20.0 << 50.0 << 1.0 << 20.0;
        QTest::newRow("start handle before 0") << 1.0 << 0.0 << "start" << 0.01 << 0.01 << 1.0 << 0.0;
        QTest::newRow("end handle past the end") << 1.0 << 0.0 << "end" << 120.0 << 30.0 << 1.0 << 100.0;
        QTest::newRow("end handle gap capped") << 1.0 << 0.0 << "end" << 0.0 << 99.995 << 1.0 << 100.0;
    }
    void movesTheViewport()
    {
        QFETCH(double, zoom);
        QFETCH(double, start);
        QFETCH(QString, operation);
        QFETCH(double, argument);
        QFETCH(double, other);
        QFETCH(double, expectedZoom);
        QFETCH(double, expected);
        WaveformViewport viewport{100, zoom, start};
        auto value = none;
        if (operation == u"zoom")
            viewport.zoomAround(argument, other);
        else if (operation == u"follow")
            viewport.keepVisible(argument);
        else if (operation == u"pan")
            viewport.start = viewport.pannedStart(viewport.clampedStart(), argument, 500);
        else if (operation == u"start")
            value = viewport.startHandleTime(argument, other);
        else if (operation == u"end")
            value = viewport.endHandleTime(argument, other);
        QCOMPARE(viewport.zoom, expectedZoom);
        QCOMPARE(std::isnan(value) ? viewport.clampedStart() : value, expected);
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

        const QVector<float> peaks{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
        const auto window = viewport.peaksForVisibleRange(peaks, 2.5, 5);
        QCOMPARE(std::vector<float>(window.begin(), window.end()), std::vector<float>({2, 3, 4, 5}));
        QCOMPARE(viewport.peaksForVisibleRange(peaks, 0, 10).size(), std::size_t(11));
        QCOMPARE(viewport.peaksForVisibleRange(peaks, 12, 20).size(), std::size_t(1));
        QVERIFY(viewport.peaksForVisibleRange({}, 0, 10).empty());
        QVERIFY(WaveformViewport{}.peaksForVisibleRange(peaks, 0, 10).empty());
    }

    /// The strip's bars look as the painter's antialiased rectangles would: overlapping, at
    /// fractional places and widths, cut off at the image's edges.
    void barsMatchThePaintersFills()
    {
        QImage ours(240, 90, QImage::Format_ARGB32_Premultiplied), painted(ours.size(), ours.format());
        ours.fill(Qt::transparent);
        painted.fill(Qt::transparent);
        std::vector<QLineF> lines;
        for (int i = -3; i < 170; ++i) {
            const double x = i * 1.43 + 0.17, reach = 44 * std::abs(std::sin(i * 0.37)) + 0.3;
            lines.emplace_back(x, 45.2 - reach, x, 45.2 + reach + (i % 7 == 0 ? 30 : 0));
        }
        QPainter painter(&painted);
        painter.setRenderHint(QPainter::Antialiasing);
        for (const auto &[width, color] : {std::pair{1.0, QColor(250, 90, 255, 56)},
                                           {3.4, QColor(160, 70, 230, 87)},
                                           {1.1, QColor(255, 255, 255, 184)}}) {
            WaveformBars::fill(ours, lines, width, color);
            for (const auto &line : lines)
                painter.fillRect(QRectF(line.x1() - width / 2, line.y1(), width, line.y2() - line.y1()), color);
        }
        painter.end();
        int worst = 0, covered = 0;
        for (int y = 0; y < ours.height(); ++y)
            for (int x = 0; x < ours.width(); ++x) {
                const auto a = ours.pixel(x, y), b = painted.pixel(x, y);
                covered += qAlpha(b) > 0;
                for (const int shift : {0, 8, 16, 24})
                    worst = std::max(worst, std::abs(int((a >> shift) & 0xff) - int((b >> shift) & 0xff)));
            }
        QVERIFY2(worst <= 3, qPrintable(QStringLiteral("a channel differs by %1").arg(worst)));
        QVERIFY(covered > ours.width() * ours.height() / 3);
    }

    void dragsAndZoomsTheTimeline_data()
    {
        QTest::addColumn<double>("zoom");
        QTest::addColumn<double>("fromX");
        QTest::addColumn<double>("toX");             // the same: a notch of the wheel with Ctrl
        QTest::addColumn<TrimRange>("expectedTrim"); // (-1, -1): none reported
        QTest::addColumn<double>("expectedZoom");
        QTest::addColumn<double>("expectedStart"); // -1: no window change
        // 548 points wide with the gothic inset of 24: 10 s over a 500-point track at zoom 1.
        const TrimRange noTrim(-1, -1);
        QTest::newRow("start handle past the end") << 1.0 << 124.0 << 474.0 << TrimRange(7.98, 8) << 1.0 << -1.0;
        QTest::newRow("end handle to the far left") << 1.0 << 424.0 << -50.0 << TrimRange(2, 2.02) << 1.0 << -1.0;
        QTest::newRow("surface at zoom 1") << 1.0 << 300.0 << 100.0 << noTrim << 1.0 << -1.0;
        QTest::newRow("surface zoomed: drag left goes later") << 4.0 << 300.0 << 200.0 << noTrim << 4.0 << 0.5;
        QTest::newRow("less than the pan threshold") << 4.0 << 300.0 << 302.0 << noTrim << 4.0 << -1.0;
        // One notch in over 6 s: the time under the pointer stays there.
        QTest::newRow("wheel") << 1.0 << 324.0 << 324.0 << noTrim << 1.25 << 1.2;
    }
    void dragsAndZoomsTheTimeline()
    {
        QFETCH(double, zoom);
        QFETCH(double, fromX);
        QFETCH(double, toX);
        QFETCH(TrimRange, expectedTrim);
        QFETCH(double, expectedZoom);
        QFETCH(double, expectedStart);
        WaveformTrimView view;
        view.resize(548, 184);
        view.setPeaks({0.2f, 1.0f, 0.5f}, 10);
        view.setViewport(zoom, 0);
        view.setTrimRange(zoom > 1 ? TrimRange(0.5, 2) : TrimRange(2, 8));
        const QPointF from(fromX, 80), to(toX, 80);
        QSignalSpy trims(&view, &WaveformTrimView::trimEdited);
        QSignalSpy windows(&view, &WaveformTrimView::viewportEdited);
        if (from == to) {
            QWheelEvent wheel(from, view.mapToGlobal(from), {}, QPoint(0, 120), Qt::NoButton, Qt::ControlModifier,
                              Qt::NoScrollPhase, false);
            QApplication::sendEvent(&view, &wheel);
        } else {
            const auto send = [&](QEvent::Type type, QPointF point, Qt::MouseButtons buttons) {
                QMouseEvent event(type, point, view.mapToGlobal(point), Qt::LeftButton, buttons, Qt::NoModifier);
                QApplication::sendEvent(&view, &event);
            };
            send(QEvent::MouseButtonPress, from, Qt::LeftButton);
            send(QEvent::MouseMove, (from + to) / 2, Qt::LeftButton);
            send(QEvent::MouseMove, to, Qt::LeftButton);
            send(QEvent::MouseButtonRelease, to, Qt::NoButton);
        }
        QCOMPARE(trims.isEmpty(), expectedTrim.start < 0);
        if (!trims.isEmpty())
            QVERIFY(near(trims.last().first().value<TrimRange>(), expectedTrim));
        QCOMPARE(windows.isEmpty(), expectedStart < 0);
        if (!windows.isEmpty()) {
            QCOMPARE(windows.last().at(0).toDouble(), expectedZoom);
            QCOMPARE(windows.last().at(1).toDouble(), expectedStart);
        }
    }

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

        // The loop takes four fifths of the window of a 60 s recording, up to 16, never zooming out.
        QCOMPARE(LoopSuggestionCycle::zoomFor(2, 60, 1), 16.0);
        QCOMPARE(LoopSuggestionCycle::zoomFor(10, 60, 1), 7.5);
        QCOMPARE(LoopSuggestionCycle::zoomFor(10, 60, 12), 12.0);
        QCOMPARE(LoopSuggestionCycle::zoomFor(60, 60, 1), 1.0);
    }

    void namesTheSource()
    {
        // app (its bundle identifier in lower case), URL, whether the line links, its text
        const std::tuple<const char *, const char *, bool, const char *> rows[] = {
            {"Firefox", "https://www.example.com/watch?v=1", true, "Source: Firefox - www.example.com"},
            {"Files", "file:///tmp/a.mp3", true, "Source: Files - file:///tmp/a.mp3"},
            {nullptr, "https://example.org/", true, "Source: Unknown app - example.org"},
            {"Music", "just words", false, "Source: Music - Night Drive"},
            {"Music", nullptr, false, "Source: Music - Night Drive"},
            {"Tool", "https://example.org/", false, "Source: not captured"},
        };
        const QSet<QString> ignored{QStringLiteral("tool")};
        for (const auto &[app, url, link, text] : rows) {
            RecordingSourceContext source;
            if (app)
                source.appName = app;
            source.bundleIdentifier = QString::fromLatin1(app).toLower();
            source.windowTitle = QStringLiteral("Night Drive");
            if (url)
                source.urlString = url;
            HeaderSourceView view;
            view.setSource(source, ignored);
            QCOMPARE(view.text(), QString::fromLatin1(text));
            QCOMPARE(view.hasURL(), link);
        }
        QCOMPARE(HeaderSourceView::sourceText(std::nullopt), QStringLiteral("Source: not captured"));
    }

    /// The chips dim a figure of low confidence and offer the alternatives; choosing one stores
    /// it and renames like an analysis, and the chips follow.
    void chipsOfferTheAlternatives()
    {
        const auto path = AudioFixtures::clickTrack(m_env.path(QStringLiteral("Beat_bpm_120.wav")), 6, 120);
        auto metadata = RecordingMetadata::fresh(QDateTime(QDate(2024, 5, 1), QTime(12, 0), Qt::UTC));
        metadata.bpm = 120;
        metadata.bpmConfidence = 0.42;
        metadata.bpmAlternatives = {{60, 0.3}, {240, 0.1}};
        metadata.musicalKey = QStringLiteral("A minor");
        metadata.keyConfidence = 0.8;
        metadata.keyAlternatives = {{QStringLiteral("C major"), 0.15}};
        MetadataStore::save(metadata, path);
        const auto plain = AudioFixtures::clickTrack(m_env.path(QStringLiteral("Plain.wav")), 6, 120);
        auto standard = RecordingMetadata::fresh(metadata.createdAt.addDays(-1));
        standard.bpm = 120;
        standard.musicalKey = QStringLiteral("A minor");
        MetadataStore::save(standard, plain);
        const auto started = startStore(m_env.storeEnvironment());
        auto &store = *started;
        ThemeController theme(store.settings());
        RecordingEditor editor(store, new AudioPlaybackService([](int, int) {
                                   return std::unique_ptr<AudioOutput>(std::make_unique<SilentOutput>());
                               }),
                               nullptr);
        RecordingDetailView view(editor, theme);
        view.resize(900, 600);
        view.show();
        const auto chips = view.findChildren<ChipText *>();
        QCOMPARE(chips.size(), 2);
        auto *tempo = chips[0], *key = chips[1];
        const auto openMenu = [&]() -> QMenu * {
            for (auto *menu : view.findChildren<QMenu *>()) {
                if (menu->isVisible())
                    return menu;
            }
            return nullptr;
        };
        const auto menuTexts = [&] {
            QStringList texts;
            if (auto *menu = openMenu()) {
                for (auto *action : menu->actions())
                    texts << (action->isSeparator() ? QStringLiteral("-") : action->text());
            }
            return texts;
        };
        const auto choose = [&](const QString &text) {
            auto *menu = openMenu();
            QVERIFY(menu);
            QSignalSpy refreshed(&store, &RecordingLibraryStore::refreshFinished);
            const auto actions = menu->actions();
            const auto found = std::find_if(actions.cbegin(), actions.cend(),
                                            [&](const QAction *action) { return action->text() == text; });
            QVERIFY(found != actions.cend());
            QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(*found).center());
            QVERIFY(!menu->isVisible());
            QVERIFY(refreshed.count() || refreshed.wait(10000));
        };

        // A standard analysis: plain chips that offer nothing.
        store.setSelectedIDs({plain});
        QVERIFY(!tempo->isDimmed() && !tempo->isClickable() && !key->isClickable());
        QTest::mouseClick(tempo, Qt::LeftButton);
        QVERIFY(menuTexts().isEmpty());

        store.setSelectedIDs({path});
        QCOMPARE(tempo->text(), QStringLiteral("120 BPM"));
        QVERIFY(tempo->isDimmed() && tempo->isClickable() && tempo->toolTip().contains(QStringLiteral("42 %")));
        QVERIFY(!key->isDimmed() && key->isClickable());
        QTest::mouseClick(tempo, Qt::LeftButton);
        QCOMPARE(menuTexts(), (QStringList{"120.0 BPM · 42 %", "-", "60.0 BPM · 30 %", "240.0 BPM · 10 %"}));
        choose(QStringLiteral("60.0 BPM · 30 %"));
        const auto renamed = m_env.path(QStringLiteral("Beat_bpm_60.wav"));
        QCOMPARE(editor.recording()->url, renamed);
        QCOMPARE(tempo->text(), QStringLiteral("60 BPM"));
        QCOMPARE(MetadataStore::load(renamed)->bpmAlternatives, (QVector<TempoCandidate>{{120, 0.42}, {240, 0.1}}));

        QTest::keyClick(key, Qt::Key_Return);
        QCOMPARE(menuTexts(), (QStringList{"A minor · 80 %", "-", "C major · 15 %"}));
        choose(QStringLiteral("C major · 15 %"));
        QCOMPARE(key->text(), QStringLiteral("C major"));
        QVERIFY(key->isDimmed());
        QCOMPARE(MetadataStore::load(renamed)->keyAlternatives, (QVector<KeyCandidate>{{"A minor", 0.8}}));
    }

    /// Coarse envelopes show at most once per pause, the whole one at once. Another selection
    /// gives up the envelope still being read, and nothing of it shows; a given-up request
    /// stops the decoding another caller was waiting for too.
    void anotherSelectionDropsTheEnvelopeInFlight()
    {
        const auto first = AudioFixtures::tone(m_env.path(QStringLiteral("Long.wav")), 120);
        const auto second = AudioFixtures::tone(m_env.path(QStringLiteral("Short.wav")), 1);
        for (const auto &path : {first, second})
            MetadataStore::save(RecordingMetadata::fresh(QDateTime(QDate(2024, 5, 1), QTime(12, 0), Qt::UTC)), path);
        const auto started = startStore(m_env.storeEnvironment());
        auto &store = *started;
        auto source = std::make_unique<HeldEnvelopeSource>();
        auto &requests = source->requests;
        RecordingEditor editor(store, nullptr, std::move(source));

        store.setSelectedIDs({first});
        QVERIFY(!requests.isEmpty());
        QCOMPARE(requests.last().first, first);
        emit requests.last().second->delivered({0.5f}, false);
        QCOMPARE(editor.peaks(), QVector<float>{0.5f});
        QVERIFY(editor.isLoadingWaveform());
        // Later coarse envelopes wait for the pause; the newest is shown after it.
        emit requests.last().second->delivered({0.6f}, false);
        emit requests.last().second->delivered({0.7f}, false);
        QCOMPARE(editor.peaks(), QVector<float>{0.5f});
        m_env.clock.advance(RecordingEditor::previewPause);
        QCOMPARE(editor.peaks(), QVector<float>{0.7f});
        emit requests.last().second->delivered({0.8f}, false);
        const QPointer stale = requests.last().second.data();

        store.setSelectedIDs({second});
        QCOMPARE(requests.last().first, second);
        QVERIFY(!stale && requests.last().second);
        QVERIFY(editor.peaks().isEmpty() && editor.isLoadingWaveform());
        m_env.clock.advance(RecordingEditor::previewPause);
        QVERIFY(editor.peaks().isEmpty());
        emit requests.last().second->delivered({0.1f}, false);
        QCOMPARE(editor.peaks(), QVector<float>{0.1f});
        emit requests.last().second->delivered({0.25f, 0.75f}, true);
        QCOMPARE(editor.peaks(), (QVector<float>{0.25f, 0.75f}));
        QVERIFY(!editor.isLoadingWaveform());

        // The decoding threads are held until the request is given up: a short file could be
        // decoded whole before that on a loaded machine.
        auto &pool = DecodePool::instance();
        const int threads = pool.maxThreadCount();
        QSemaphore held, released;
        for (int i = 0; i < threads; ++i)
            pool.start([&] {
                held.release();
                released.acquire();
            });
        held.acquire(threads);
        auto &waveforms = store.waveforms();
        auto waiting = waveforms.peaks(first);
        LibraryEnvelopeSource(waveforms).load(first, RecordingEditor::peakCount).reset();
        released.release(threads);
        QVERIFY(finish(std::move(waiting)).isEmpty());
    }

    void editsTheSelectedRecording()
    {
        const auto path = AudioFixtures::clickTrack(m_env.path(QStringLiteral("Beat.wav")), 12, 120);
        auto metadata = RecordingMetadata::fresh(QDateTime(QDate(2024, 5, 1), QTime(12, 0), Qt::UTC));
        metadata.bpm = 120;
        metadata.source = RecordingSourceContext{QStringLiteral("Firefox"), std::nullopt, std::nullopt,
                                                 QStringLiteral("https://example.com/beat"), metadata.createdAt};
        MetadataStore::save(metadata, path);
        FakeSoundServer server;
        auto environment = m_env.storeEnvironment();
        environment.soundServer = &server;
        const auto started = startStore(environment);
        auto &store = *started;
        ThemeController theme(store.settings());
        std::atomic<bool> outputFails = false;
        auto *player = new AudioPlaybackService([&outputFails](int, int) -> std::unique_ptr<AudioOutput> {
            if (outputFails)
                throw AppError(QStringLiteral("no output"));
            return std::make_unique<SilentOutput>();
        });
        RecordingEditor editor(store, player, nullptr);
        RecordingDetailView view(editor, theme);
        QSignalSpy loaded(&editor, &RecordingEditor::waveformLoaded);
        store.setSelectedIDs({path});
        QVERIFY(loaded.count() || loaded.wait(10000));
        QVERIFY(editor.peaks().size() >= RecordingEditor::peakCount);
        QCOMPARE(editor.trimSelection().range(), TrimRange(0, 12));
        QCOMPARE(editor.undoHelpText(), QStringLiteral("Undo"));

        QSignalSpy openSource(&view, &RecordingDetailView::openSourceRequested);
        auto *line = view.findChild<HeaderSourceView *>();
        QVERIFY(line && line->hasURL());
        line->click();
        QCOMPARE(openSource.count(), 1);

        finish(editor.findLoop());
        const auto count = editor.loopSuggestions().count();
        QVERIFY(count >= 2 && editor.loopEnabled());
        const auto first = *editor.loopSuggestions().current();
        QCOMPARE(editor.trimSelection().range(), TrimRange(first.start, first.end));
        QCOMPARE(editor.viewport().zoom, LoopSuggestionCycle::zoomFor(first.end - first.start, 12, 1));
        QVERIFY(editor.loopSuggestionMessage()->startsWith(QStringLiteral("Loop candidate 1/%1 ").arg(count)));
        QCOMPARE(editor.undoHelpText(), QStringLiteral("Undo Trim Change"));

        finish(editor.findLoop()); // cycles, no new search
        QCOMPARE(editor.loopSuggestions().index(), 1);
        QVERIFY(editor.loopSuggestionMessage()->startsWith(QStringLiteral("Loop candidate 2/%1 ").arg(count)));

        editor.performUndo();
        QCOMPARE(editor.trimSelection().range(), TrimRange(first.start, first.end));
        QVERIFY(editor.loopSuggestions().isEmpty() && !editor.loopSuggestionMessage());

        // A drag on the timeline goes through the settling edit.
        emit view.timeline().trimEdited({1, 11});
        QCOMPARE(view.timeline().trimRange(), TrimRange(1, 11));
        m_env.clock.advance(450ms);
        editor.performUndo();
        QCOMPARE(editor.trimSelection().range(), TrimRange(first.start, first.end));

        // The zoom buttons reach the timeline.
        editor.resetZoom();
        editor.adjustWaveformZoom(1.5);
        QCOMPARE(view.timeline().viewport().zoom, 1.5);

        // A failed play reaches the status line.
        player->stop();
        outputFails = true;
        editor.togglePlayback();
        QTRY_COMPARE(store.statusMessage().value_or(QString()), QStringLiteral("no output"));

        // The first state a capture shows already finds playback stopped.
        outputFails = false;
        editor.togglePlayback();
        QTRY_VERIFY(player->isPlaying());
        std::optional<bool> playingAtCapture;
        connect(&store, &RecordingLibraryStore::captureStateChanged, this, [&] {
            if (!playingAtCapture && !store.captureState().is(CaptureState::Kind::idle))
                playingAtCapture = player->isPlaying();
        });
        finish(store.startRecording(RecordingInputSource::microphone));
        QCOMPARE(playingAtCapture, std::optional(false));
        finish(store.stopRecording());
    }
};

QTEST_MAIN(TestDetailEditor)
#include "test_detail_editor.moc"
