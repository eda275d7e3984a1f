// The library window on a real store: listing, selection both ways, record toggles and clock.

#include "platform/ForegroundApplicationMonitor.h"
#include "store/RecordingLibraryStore.h"
#include "support/AudioFixtures.h"
#include "support/FakeSoundServer.h"
#include "support/TestEnvironment.h"
#include "ui/LibraryWindow.h"
#include "ui/RecordingListModel.h"
#include "ui/ThemeController.h"

#include <QAction>
#include <QLabel>
#include <QListView>
#include <QSignalSpy>
#include <QTest>

using namespace std::chrono_literals;

namespace {
QAction *action(QWidget &window, const QString &text)
{
    for (auto *candidate : window.findChildren<QAction *>()) {
        if (candidate->text() == text)
            return candidate;
    }
    return nullptr;
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
        AudioFixtures::tone(m_env.path("Older.wav"), 0.5);
        AudioFixtures::tone(m_env.path("Newer.aiff"), 0.5);
        auto environment = m_env.storeEnvironment();
        environment.soundServer = &m_server;
        environment.foregroundMonitor = &m_monitor;
        m_store = std::make_unique<RecordingLibraryStore>(environment);
        QSignalSpy started(m_store.get(), &RecordingLibraryStore::recoveryFinished);
        QVERIFY(started.wait(20000));
    }

    void listsAndSelectsBothWays()
    {
        ThemeController theme(m_store->settings());
        LibraryWindow window(*m_store, theme);
        QCOMPARE(window.windowTitle(), QStringLiteral("Vespertone"));
        QCOMPARE(window.minimumSize(), QSize(1120, 640));
        auto *list = window.findChild<QListView *>();
        auto &selection = *list->selectionModel();
        const auto rowOf = [list](const RecordingItem &item) {
            return static_cast<RecordingListModel *>(list->model())->row(item.id());
        };
        QCOMPARE(list->model()->rowCount(), int(m_store->recordings().size()));
        const auto selected = selection.selectedRows();
        QCOMPARE(selected.size(), 1);
        QCOMPARE(selected.front().data(RecordingListModel::IdRole).toString(), m_store->recordings().front().id());

        const auto last = list->model()->index(rowOf(m_store->recordings().back()), 0);
        selection.select(last, QItemSelectionModel::ClearAndSelect);
        QCOMPARE(m_store->selectedIDs(), QSet<QString>{m_store->recordings().back().id()});

        m_store->setSelectedIDs({m_store->recordings().front().id()});
        QVERIFY(selection.isSelected(list->model()->index(rowOf(m_store->recordings().front()), 0)));
        QVERIFY(!selection.isSelected(last));
    }

    void recordTogglesFollowTheStore()
    {
        ThemeController theme(m_store->settings());
        LibraryWindow window(*m_store, theme);
        auto *mac = action(window, "Record System Audio");
        auto *mic = action(window, "Record Microphone");
        QVERIFY(mac && mic && mac->isEnabled() && mic->isEnabled());

        QSignalSpy states(m_store.get(), &RecordingLibraryStore::captureStateChanged);
        mic->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(m_store->captureState().is(CaptureState::Kind::recording), 10000);
        QCOMPARE(mic->text(), QStringLiteral("Stop Recording"));
        QVERIFY(mic->isEnabled());
        QVERIFY(!mac->isEnabled());
        m_env.clock.advance(2500ms);
        auto labels = window.findChildren<QLabel *>();
        QVERIFY(std::any_of(labels.begin(), labels.end(), [](QLabel *l) { return l->text() == "00:03"; }));
        QVERIFY(std::any_of(labels.begin(), labels.end(), [](QLabel *l) { return l->text() == "Recording Mic M4A"; }));

        m_server.feedSine(0.3);
        const auto before = m_store->recordings().size();
        mic->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(m_store->recordings().size() == before + 1, 20000);
        QTRY_VERIFY_WITH_TIMEOUT(!m_store->isAnalyzing(), 20000);
        QCOMPARE(mic->text(), QStringLiteral("Record Microphone"));
        QVERIFY(mac->isEnabled());
        QCOMPARE(window.findChild<QListView *>()->model()->rowCount(), int(m_store->recordings().size()));
    }
};

QTEST_MAIN(LibraryWindowTest)
#include "test_library_window.moc"
