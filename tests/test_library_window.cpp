// The library window on a real store: the detail pane rule, the record faces, the status pill
// and the live view; the faces and the live waveform also on their own.

#include "platform/ForegroundApplicationMonitor.h"
#include "store/RecordingLibraryStore.h"
#include "support/AudioFixtures.h"
#include "support/FakeSoundServer.h"
#include "support/TestEnvironment.h"
#include "support/WidgetLookup.h"
#include "ui/library/ContentView.h"
#include "ui/library/LibraryWindow.h"
#include "ui/library/MicrophoneToolbarLabel.h"
#include "ui/library/MultiSelectionView.h"
#include "ui/library/RecordMenu.h"
#include "ui/library/RecordToolbarLabel.h"
#include "ui/library/StatusPill.h"
#include "ui/live/ElapsedClock.h"
#include "ui/live/LiveRecordingWaveformView.h"
#include "ui/live/RecordingInProgressView.h"
#include "ui/style/ThemeController.h"

#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

using namespace std::chrono_literals;
using Kind = CaptureState::Kind;
using namespace WidgetLookup;

namespace {
CaptureState state(Kind kind)
{
    switch (kind) {
    case Kind::recording: return CaptureState::recording(QDateTime::currentDateTime());
    case Kind::failed: return CaptureState::failed(QStringLiteral("Lost"));
    default: return kind == Kind::preparing ? CaptureState::preparing() : CaptureState::finishing();
    }
}

void answer(QMessageBox *box, const QString &button)
{
    QVERIFY(box);
    for (auto *candidate : box->buttons()) {
        if (candidate->text() == button)
            candidate->click();
    }
}
} // namespace

class LibraryWindowTest : public QObject {
    Q_OBJECT

private:
    TestEnvironment m_env;
    FakeSoundServer m_server;
    ForegroundApplicationMonitor m_monitor;
    std::unique_ptr<RecordingLibraryStore> m_store;

private slots:
    void initTestCase()
    {
        for (const char *name : {"Older.wav", "Newer.aiff", "Third.wav"})
            AudioFixtures::tone(m_env.path(name), 0.5);
        auto environment = m_env.storeEnvironment();
        environment.soundServer = &m_server;
        environment.foregroundMonitor = &m_monitor;
        m_store = startStore(environment);
    }

    void facesFollowStateAndSource_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("source"); // -1: none
        QTest::addColumn<int>("systemWidth");
        QTest::addColumn<QString>("systemName");
        QTest::addColumn<QString>("microphoneName");
        const int mac = int(RecordingInputSource::macAudio);
        const int mic = int(RecordingInputSource::microphone);
        const int app = int(RecordingInputSource::application);
        // The system face carries the chevron of its menu (14 points) unless it shows a spinner.
        QTest::newRow("idle") << int(Kind::idle) << -1 << 78 << "Record System Audio"
                              << "Record Microphone";
        QTest::newRow("failed") << int(Kind::failed) << mac << 78 << "Record System Audio"
                                << "Record Microphone";
        QTest::newRow("system preparing") << int(Kind::preparing) << mac << 56 << "Preparing System Audio Recording"
                                          << "Record Microphone";
        QTest::newRow("system recording") << int(Kind::recording) << mac << 126 << "Stop System Audio Recording"
                                          << "Record Microphone";
        QTest::newRow("system saving") << int(Kind::finishing) << mac << 56 << "Saving System Audio Recording"
                                       << "Record Microphone";
        QTest::newRow("microphone preparing") << int(Kind::preparing) << mic << 78 << "Record System Audio"
                                              << "Preparing Microphone Recording";
        QTest::newRow("microphone recording") << int(Kind::recording) << mic << 78 << "Record System Audio"
                                              << "Stop Microphone Recording";
        QTest::newRow("microphone saving") << int(Kind::finishing) << mic << 78 << "Record System Audio"
                                           << "Saving Microphone Recording";
        QTest::newRow("application recording") << int(Kind::recording) << app << 126 << "Stop Player Recording"
                                               << "Record Microphone";
        QTest::newRow("application saving") << int(Kind::finishing) << app << 56 << "Saving Player Recording"
                                            << "Record Microphone";
    }

    void facesFollowStateAndSource()
    {
        QFETCH(int, kind);
        QFETCH(int, source);
        QFETCH(int, systemWidth);
        QFETCH(QString, systemName);
        QFETCH(QString, microphoneName);
        QWidget bar;
        auto *system = new RecordToolbarLabel(&bar);
        auto *microphone = new MicrophoneToolbarLabel(&bar);
        bar.show();
        const auto active = source < 0 ? std::nullopt : std::optional(RecordingInputSource(source));
        system->setApplicationTitle(active == RecordingInputSource::application ? "Player" : QString());
        for (ToolbarFaceButton *face : std::initializer_list<ToolbarFaceButton *>{system, microphone})
            face->setCaptureState(state(Kind(kind)), active);
        QCOMPARE(system->size(), QSize(systemWidth, 24));
        QCOMPARE(microphone->size(), QSize(30, 24));
        QCOMPARE(system->accessibleName(), systemName);
        QCOMPARE(microphone->accessibleName(), microphoneName);
        // Only the recording face pulses, and it stops when the take ends.
        QCOMPARE(system->isPulsing(), systemName.startsWith("Stop"));
        QCOMPARE(microphone->isPulsing(), microphoneName.startsWith("Stop"));
        system->setCaptureState(CaptureState::idle(), std::nullopt);
        QVERIFY(!system->isPulsing());
    }

    void liveWaveformKeepsTheNewestBars_data()
    {
        QTest::addColumn<int>("levels");
        QTest::addColumn<double>("width");
        QTest::addColumn<int>("bars");
        QTest::addColumn<double>("step");
        QTest::newRow("none") << 0 << 400.0 << 0 << 0.0;
        QTest::newRow("one stands at the left") << 1 << 400.0 << 1 << 0.0;
        QTest::newRow("few spread over the width") << 5 << 400.0 << 5 << 100.0;
        QTest::newRow("many scroll") << 1000 << 400.0 << 200 << 400.0 / 199;
        QTest::newRow("narrow still shows one") << 3 << 1.0 << 1 << 0.0;
    }

    void liveWaveformKeepsTheNewestBars()
    {
        QFETCH(int, levels);
        QFETCH(double, width);
        QFETCH(int, bars);
        QFETCH(double, step);
        std::vector<float> peaks(levels);
        for (int i = 0; i < levels; ++i)
            peaks[i] = float(i) / 1000;
        const auto lines = LiveRecordingWaveformView::bars(peaks, QSizeF(width, 100));
        QCOMPARE(lines.size(), bars);
        if (bars == 0)
            return;
        QCOMPARE(lines.front().x1(), 0.0);
        if (bars > 1) {
            QVERIFY(qFuzzyCompare(lines[1].x1(), step));
            QVERIFY(qFuzzyCompare(lines.back().x1(), width));
        }
        // The newest level at the right, 42 % of the height per unit above and below the middle.
        QCOMPARE(lines.back().y1(), 50 - 42 * double(peaks.back()));
        QCOMPARE(lines.back().y2(), 50 + 42 * double(peaks.back()));
    }

    void statusPillShowsMessagesAndWork()
    {
        ThemeController theme(m_store->settings());
        LibraryWindow window(*m_store, theme);
        window.show();
        auto *pill = window.content()->statusPill();
        m_store->setStatusMessage(QStringLiteral("Saved"));
        QVERIFY(pill->isPresent() && pill->isVisible());
        QCOMPARE(pill->text(), QStringLiteral("Saved"));
        QVERIFY(!pill->isBusy());
        m_store->setStatusMessage(QString());
        QVERIFY(!pill->isPresent());
        QTRY_VERIFY(!pill->isVisible());

        auto analysis = m_store->analyze(m_store->recordings().front().url);
        QVERIFY(m_store->isAnalyzing());
        QVERIFY(pill->isPresent() && pill->isBusy());
        QTRY_VERIFY_WITH_TIMEOUT(!m_store->isAnalyzing(), 20000);
        QVERIFY(!pill->isBusy());
    }

    void detailPaneFollowsTheSelection()
    {
        ThemeController theme(m_store->settings());
        LibraryWindow window(*m_store, theme);
        auto *content = window.content();
        auto *share = button<QToolButton>(window, "Share");
        m_store->setSelectedIDs({});
        QCOMPARE(content->detail(), ContentView::Detail::empty);
        QVERIFY(!share->isEnabled());
        m_store->setSelectedIDs({m_store->recordings().front().id()});
        QCOMPARE(content->detail(), ContentView::Detail::single);
        QVERIFY(share->isEnabled());

        const auto two = QSet<QString>{m_store->recordings()[0].id(), m_store->recordings()[1].id()};
        m_store->setSelectedIDs(two);
        QCOMPARE(content->detail(), ContentView::Detail::multiSelection);
        QVERIFY(!share->isEnabled());
        auto *multi = qobject_cast<MultiSelectionView *>(content->detailView());
        const auto labels = multi->findChildren<QLabel *>();
        QVERIFY(std::any_of(labels.begin(), labels.end(),
                            [](QLabel *label) { return label->text() == "2 recordings selected"; }));
        const auto count = m_store->recordings().size();
        multi->confirmDelete();
        QCOMPARE(multi->confirmation()->text(), QStringLiteral("2 recordings will be moved to Trash."));
        answer(multi->confirmation(), "Cancel");
        QCOMPARE(m_store->recordings().size(), count);
        multi->confirmDelete();
        answer(multi->confirmation(), "Move to Trash");
        QTRY_COMPARE(m_store->recordings().size(), count - 2);
        // Both takes go, each with its sidecar where it has one.
        QVERIFY(m_env.trash.trashed.contains(*two.begin()) && m_env.trash.trashed.contains(*std::next(two.begin())));
    }

    void theRecordFaceOffersEveryInputAndTheKeptWindowHasItsItem()
    {
        ThemeController theme(m_store->settings());
        LibraryWindow window(*m_store, theme);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        auto *system = window.findChild<RecordToolbarLabel *>();
        auto *menu = window.findChild<RecordMenu *>();
        m_server.report({{.index = 3, .appName = "Player", .processId = 77}, {.index = 4, .appName = "Chat"}});
        QTRY_COMPARE(m_store->playingApplications().size(), std::size_t(2));

        // The chevron, a right click or Down opens the menu; none of them starts a take.
        QTest::mouseClick(system, Qt::LeftButton, {}, QPoint(system->width() - 4, 12));
        QTRY_VERIFY(menu->isVisible());
        QCOMPARE(menuItems(*menu),
                 QStringList({"Record System Audio", "Record Microphone", "-", "Playing Now (off)", "Chat", "Player"}));
        menu->hide();
        QTest::mouseClick(system, Qt::RightButton, {}, QPoint(10, 12));
        QTRY_VERIFY(menu->isVisible());
        menu->hide();
        system->setFocus();
        QTest::keyClick(system, Qt::Key_Down);
        QTRY_VERIFY(menu->isVisible());
        QCOMPARE(m_store->captureState().kind(), Kind::idle);

        // Choosing an application records it alone; the face shows it and stops it.
        menuAction(*menu, "Player")->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(m_store->isRecording(CaptureTarget::application("Player")), 10000);
        QCOMPARE(m_server.lastTarget(), CaptureTarget::application("Player"));
        QCOMPARE(system->accessibleName(), QStringLiteral("Stop Player Recording"));
        QVERIFY(system->isPulsing() && system->isEnabled());
        emit menu->aboutToShow();
        QCOMPARE(menuItems(*menu),
                 QStringList({"Record System Audio (off)", "Record Microphone (off)", "-", "Playing Now (off)",
                              "Chat (off)", "Stop Player"}));
        m_server.feedSine(0.3);
        const auto before = m_store->recordings().size();
        QTest::mouseClick(system, Qt::LeftButton, {}, QPoint(10, 12));
        QTRY_VERIFY_WITH_TIMEOUT(m_store->recordings().size() == before + 1, 20000);
        QTRY_VERIFY_WITH_TIMEOUT(!m_store->isStatusBusy(), 20000);

        // The kept window's item shows only with the setting and says its length.
        auto *kept = window.findChild<QToolButton *>("saveKeptWindow");
        QVERIFY(!kept->isVisible());
        m_store->setKeptSeconds(30);
        QTRY_VERIFY(kept->isVisible());
        QCOMPARE(kept->text(), QStringLiteral("Last 30 s"));
        QCOMPARE(kept->accessibleName(), QStringLiteral("Save the Last 30 Seconds"));
        m_store->setKeptSeconds(0);
        QTRY_VERIFY(!kept->isVisible());
    }

    void liveViewRunsTheTakeAndSpaceStopsIt()
    {
        ThemeController theme(m_store->settings());
        LibraryWindow window(*m_store, theme);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        auto *content = window.content();
        auto *microphone = window.findChild<MicrophoneToolbarLabel *>();
        auto *system = window.findChild<RecordToolbarLabel *>();
        auto *import = button<QToolButton>(window, "Import URL");
        const RecordingInProgressView between(*m_store, AppThemeChoice::gothic);
        QCOMPARE(between.title(), QStringLiteral("Ready"));
        QCOMPARE(between.subtitle(), m_store->folderURL());
        m_store->setSelectedIDs({m_store->recordings().front().id()});
        QVERIFY(import->isEnabled());

        m_server.holdOpen = true;
        microphone->click();
        QTRY_VERIFY(m_store->captureState().is(Kind::preparing));
        QCOMPARE(content->detail(), ContentView::Detail::recording);
        auto *live = qobject_cast<RecordingInProgressView *>(content->detailView());
        QCOMPARE(live->title(), QStringLiteral("Preparing Recording"));
        QCOMPARE(live->subtitle(), QFileInfo(m_store->activeCaptureURL().value_or(m_store->folderURL())).fileName());
        QVERIFY(!live->stopButton()->isEnabled());
        QVERIFY(!import->isEnabled() && !system->isEnabled());
        QTest::keyClick(&window, Qt::Key_Space); // ignored while preparing
        m_server.holdOpen = false;
        m_server.openGate.release();
        QTRY_VERIFY_WITH_TIMEOUT(m_store->captureState().is(Kind::recording), 10000);
        QCOMPARE(live->title(), QStringLiteral("Recording"));
        QVERIFY(live->subtitle().endsWith(".m4a"));
        QVERIFY(microphone->isPulsing());
        m_env.clock.advance(2500ms);
        QCOMPARE(live->findChild<ElapsedClock *>()->text(), QStringLiteral("00:03"));

        m_server.feedSine(0.3);
        const auto before = m_store->recordings().size();
        QTest::keyClick(&window, Qt::Key_Space);
        QTRY_VERIFY_WITH_TIMEOUT(m_store->recordings().size() == before + 1, 20000);
        QTRY_VERIFY_WITH_TIMEOUT(!m_store->isAnalyzing(), 20000);
        QCOMPARE(content->detail(), ContentView::Detail::single);
        QVERIFY(!microphone->isPulsing());
        QVERIFY(import->isEnabled() && system->isEnabled());
    }
};

QTEST_MAIN(LibraryWindowTest)
#include "test_library_window.moc"
