// The tray menu in every capture state and its hotkey wiring, and the settings window's rows,
// pickers and shortcut capture, offscreen on a real store.

#include "base/ProgramVersion.h"
#include "hotkeys/HotKeyStore.h"
#include "platform/ForegroundApplicationMonitor.h"
#include "store/RecordingLibraryStore.h"
#include "store/StoreSettings.h"
#include "support/FakeSoundServer.h"
#include "support/ScriptedHotKeyGrabber.h"
#include "support/TestEnvironment.h"
#include "support/WidgetLookup.h"
#include "ui/settings/SettingsView.h"
#include "ui/settings/ShortcutRow.h"
#include "ui/style/ThemeController.h"
#include "ui/tray/TrayMenu.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTest>
#include <QToolButton>

using namespace std::chrono_literals;
using namespace WidgetLookup;

namespace {
/// True when a visible label reads \a text (or, not \a exact, contains it).
bool showsLabel(QWidget &window, const QString &text, bool exact = true)
{
    const auto labels = window.findChildren<QLabel *>();
    return std::any_of(labels.begin(), labels.end(), [&](QLabel *label) {
        return label->isVisibleTo(&window) && (exact ? label->text() == text : label->text().contains(text));
    });
}

const QStringList folders{"Open Library", "Choose Folder", "Reveal Folder", "Settings...", "-", "Quit"};
const QStringList idleTail = QStringList{"-", "Import URL..."} + folders;
const QStringList busyTail = QStringList{"-", "Import URL... (off)"} + folders;
} // namespace

class TraySettingsTest : public QObject {
    Q_OBJECT

private:
    TestEnvironment m_env;
    FakeSoundServer m_server;
    ForegroundApplicationMonitor m_monitor;
    std::unique_ptr<RecordingLibraryStore> m_store;

private slots:
    void initTestCase()
    {
        auto environment = m_env.storeEnvironment();
        environment.soundServer = &m_server;
        environment.foregroundMonitor = &m_monitor;
        m_store = startStore(environment);
    }

    void menuFollowsEveryCaptureState()
    {
        ScriptedHotKeyGrabber grabber;
        HotKeyStore hotKeys(m_store->settings(), grabber);
        int libraryShown = 0;
        TrayMenu tray(*m_store, hotKeys, {[&] { ++libraryShown; }, [] {}, [] {}, [] {}});
        auto &menu = tray.menu();
        m_store->setStatusMessage(std::nullopt);
        QCOMPARE(menuItems(menu),
                 QStringList({"Launch App", "-", "Record System Audio", "Record Microphone", "Record Application"})
                     + idleTail);
        // Wired at start, so the hotkeys work without a tray, and again each time the menu appears.
        QCOMPARE(grabber.live.size(), 3);
        hotKeys.setOpenLibraryAction({});
        hotKeys.registerAll();
        emit menu.aboutToShow();
        QCOMPARE(grabber.live.size(), 3);
        grabber.press(*hotKeys.center().idOf(HotKeyStore::openLibraryName));
        QTRY_COMPARE(libraryShown, 1);

        m_server.holdOpen = true;
        tray.recordMicrophone();
        QCOMPARE(libraryShown, 2);
        QTRY_VERIFY(m_store->captureState().is(CaptureState::Kind::preparing));
        QCOMPARE(menuItems(menu),
                 QStringList({"Launch App", "-", "Preparing recording (off)", "Record System Audio (off)",
                              "Record Microphone (off)", "Record Application"})
                     + busyTail);

        m_server.openGate.release();
        QTRY_VERIFY_WITH_TIMEOUT(m_store->captureState().is(CaptureState::Kind::recording), 10000);
        m_server.holdOpen = false;
        m_env.clock.advance(2500ms);
        QCOMPARE(menuItems(menu),
                 QStringList({"Launch App", "-", "00:03 (off)", "Recording Mic M4A (off)", "Record System Audio (off)",
                              "Stop Microphone", "Record Application"})
                     + busyTail);

        // Stopping a take leaves the windows as they are.
        m_server.feedSine(0.3);
        tray.recordMicrophone();
        QCOMPARE(libraryShown, 2);
        QTRY_VERIFY_WITH_TIMEOUT(m_store->captureState().is(CaptureState::Kind::idle), 20000);
        QTRY_VERIFY_WITH_TIMEOUT(!m_store->isStatusBusy(), 20000);
        // A long status is cut in the middle; the item's tip holds all of it.
        QCOMPARE(menuItems(menu).mid(3, 2), QStringList({"Record System Audio", "Record Microphone"}));
        QCOMPARE(menu.actions().at(3)->toolTip(), m_store->statusMessage().value_or("none"));
    }

    void trayRecordsApplicationsAndSavesTheKeptWindow()
    {
        ScriptedHotKeyGrabber grabber;
        HotKeyStore hotKeys(m_store->settings(), grabber);
        int libraryShown = 0;
        TrayMenu tray(*m_store, hotKeys, {[&] { ++libraryShown; }, [] {}, [] {}, [] {}});
        auto &menu = tray.menu();
        const auto *applications = menu.findChild<QMenu *>();
        m_server.report({});
        QTRY_COMPARE(menuItems(*applications), QStringList({"No application is playing (off)"}));
        m_server.report({{.index = 5, .appName = "Player", .processId = 91}});
        QTRY_COMPARE(menuItems(*applications), QStringList({"Player"}));

        // Keeping the last seconds lights the icon, names the length and saves from the menu and the hotkey.
        const auto idleIcon = tray.trayIcon().icon().pixmap(22).toImage();
        m_store->setKeptSeconds(60);
        QTRY_VERIFY(m_store->isListening());
        QCOMPARE(tray.trayIcon().toolTip(), QStringLiteral("Vespertone: keeping the last 60 seconds"));
        QVERIFY(tray.trayIcon().icon().pixmap(22).toImage() != idleIcon);
        QVERIFY(menuItems(menu).contains("Save the Last 60 Seconds"));
        m_server.feedSine(1, 440, 0.5, CaptureTarget::defaultOutput());
        const auto before = m_store->recordings().size();
        grabber.press(*hotKeys.center().idOf(HotKeyStore::saveLastSecondsName));
        QTRY_VERIFY_WITH_TIMEOUT(m_store->recordings().size() == before + 1, 20000);
        QTRY_VERIFY_WITH_TIMEOUT(!m_store->isStatusBusy(), 20000);
        QCOMPARE(libraryShown, 0);

        // An application's item records it alone, showing the library, and then stops it.
        applications->actions().first()->trigger();
        QCOMPARE(libraryShown, 1);
        QTRY_VERIFY_WITH_TIMEOUT(m_store->isRecording(CaptureTarget::application("Player")), 10000);
        QTRY_COMPARE(menuItems(*applications), QStringList({"Stop Player"}));
        m_server.feedSine(0.3, 440, 0.5, CaptureTarget::application("Player"));
        applications->actions().first()->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(m_store->recordings().size() == before + 2, 20000);
        QTRY_VERIFY_WITH_TIMEOUT(!m_store->isStatusBusy(), 20000);
        QCOMPARE(libraryShown, 1);
        m_store->setKeptSeconds(0);
        QVERIFY(!menuItems(menu).contains("Save the Last 60 Seconds"));
        QCOMPARE(tray.trayIcon().toolTip(), QStringLiteral("Vespertone"));
    }

    void settingsRowsPickersAndShortcutCapture()
    {
        ScriptedHotKeyGrabber grabber;
        HotKeyStore hotKeys(m_store->settings(), grabber);
        hotKeys.setToggleRecordingAction([] {});
        hotKeys.registerAll();
        ThemeController theme(m_store->settings());
        SettingsView settings(*m_store, hotKeys, theme);
        settings.show();
        QVERIFY(QTest::qWaitForWindowExposed(&settings));
        QVERIFY(!ProgramVersion::number().isEmpty());
        QVERIFY(showsLabel(settings, ProgramVersion::number())); // the project's version, as --version says
        QVERIFY(showsLabel(settings, "Off: nothing is kept."));

        const auto boxes = settings.findChildren<QComboBox *>();
        QCOMPARE(boxes.size(), 5);
        auto *keep = boxes[0];
        auto *kept = boxes[1];
        auto *format = boxes[2];
        auto *bitRate = boxes[3];
        // The kept window: its length, its input among the applications playing, pre-roll, and
        // whether it listens.
        auto *preRoll = settings.findChild<QCheckBox *>();
        QVERIFY(!kept->isEnabled() && !preRoll->isEnabled());
        m_server.report({{.index = 5, .appName = "Player", .processId = 91}});
        QTRY_COMPARE(kept->count(), 3);
        emit keep->activated(keep->findText("30 seconds"));
        QCOMPARE(m_store->keptSeconds(), 30);
        QTRY_VERIFY(
            showsLabel(settings, "Listening: the last 30 seconds of System Audio stay in memory, never on disk."));
        emit kept->activated(2);
        QCOMPARE(m_store->keptTarget(), std::optional(CaptureTarget::application("Player")));
        QTRY_VERIFY(showsLabel(settings, "Listening: the last 30 seconds of Player", false));
        // An application that stops playing stays the kept input.
        m_server.report({});
        QTRY_COMPARE(kept->currentText(), QStringLiteral("Player (not playing)"));
        preRoll->click();
        QVERIFY(m_store->startsFromKeptWindow());
        QCOMPARE(StoreSettings(*m_env.settings).keepSeconds(), 30);
        emit keep->activated(0);
        QVERIFY(!m_store->keptTarget() && !kept->isEnabled());
        QVERIFY(showsLabel(settings, "Off: nothing is kept."));
        // The analysis picker: standard until chosen, stored at once, following the store.
        auto *analysis = boxes[4];
        QVERIFY(showsLabel(settings, "Analysis"));
        QCOMPARE(analysis->currentText(), QStringLiteral("Standard"));
        analysis->setCurrentIndex(analysis->findText(QStringLiteral("Precise")));
        emit analysis->activated(analysis->currentIndex());
        QCOMPARE(m_store->settings().text(StoreSettings::analysisModeKey), QStringLiteral("precise"));
        QCOMPARE(m_store->analysisMode(), AnalysisMode::precise);
        m_store->settings().setText(StoreSettings::analysisModeKey, QStringLiteral("Precise"));
        m_store->setAnalysisMode(m_store->analysisMode());
        QCOMPARE(analysis->currentText(), QStringLiteral("Standard"));
        m_store->setAacBitRate(AudioBitRate::kbps256);
        QCOMPARE(bitRate->currentText(), QStringLiteral("256 kbps"));
        emit format->activated(2);
        QCOMPARE(m_store->recordingFormat(), RecordingOutputFormat::wavPCM);
        QVERIFY(!bitRate->isEnabled());
        QCOMPARE(bitRate->currentText(), QStringLiteral("256 kbps"));
        emit format->activated(1);
        QVERIFY(bitRate->isEnabled());

        // Shortcut capture: a registered chord reaches the row, not the hotkey; Escape cancels.
        auto *record = button<QPushButton>(settings, "Shift+Super+R");
        QVERIFY(record);
        QCOMPARE(grabber.live.size(), 1);
        record->click();
        QCOMPARE(record->text(), QStringLiteral("Press keys"));
        QVERIFY(grabber.live.isEmpty());
        QTest::keyClick(record, Qt::Key_K);
        QCOMPARE(record->text(), QStringLiteral("Press keys"));
        QTest::keyClick(record, Qt::Key_Escape);
        QTRY_COMPARE(record->text(), QStringLiteral("Shift+Super+R"));
        QCOMPARE(grabber.live.size(), 1);
        QCOMPARE(hotKeys.toggleRecording(), std::optional(HotKeyStore::defaultToggleRecording()));

        record->click();
        QTest::keyClick(record, Qt::Key_K, Qt::MetaModifier | Qt::AltModifier);
        QTRY_COMPARE(record->text(), QStringLiteral("Alt+Super+K"));
        const HotKeyShortcut chosen{40, HotKeyShortcut::commandFlag | HotKeyShortcut::optionFlag, "K"};
        QCOMPARE(HotKeyStore::load(m_store->settings(), StoreSettings::toggleRecordingHotKeyKey),
                 std::optional(chosen));
        QCOMPARE(grabber.live.value(1).keysym, quint32('k'));

        // Closing the window while a row waits gives the hotkeys back.
        record->click();
        QVERIFY(grabber.live.isEmpty());
        settings.hide();
        QCOMPARE(grabber.live.size(), 1);
        settings.show();

        auto *clear = settings.findChildren<ShortcutRow *>().front()->findChild<QToolButton *>();
        QVERIFY(clear->isEnabled());
        clear->click();
        QCOMPARE(record->text(), QStringLiteral("None"));
        QVERIFY(!clear->isEnabled());
        QVERIFY(!hotKeys.toggleRecording());

        // A refused registration shows its message and the commands to bind instead.
        grabber.refusedKeysyms = {quint32('r')};
        const auto refused =
            QStringLiteral("The hotkey could not be registered: another program already uses this key combination.");
        QVERIFY(!showsLabel(settings, refused));
        hotKeys.setToggleRecording(HotKeyStore::defaultToggleRecording());
        QVERIFY(showsLabel(settings, refused));
        QVERIFY(showsLabel(settings, "vespertone --toggle-recording", false));
    }
};

QTEST_MAIN(TraySettingsTest)
#include "test_tray_settings.moc"
