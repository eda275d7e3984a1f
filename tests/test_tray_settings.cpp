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
#include "ui/settings/SettingsView.h"
#include "ui/settings/ShortcutRow.h"
#include "ui/style/ThemeController.h"
#include "ui/tray/TrayMenu.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

using namespace std::chrono_literals;

namespace {
/// The visible items: "-" for a divider, a text with " (off)" when disabled.
QStringList visibleItems(const QMenu &menu)
{
    QStringList items;
    for (const auto *action : menu.actions()) {
        if (!action->isVisible())
            continue;
        if (action->isSeparator())
            items << QStringLiteral("-");
        else
            items << action->text() + (action->isEnabled() ? QString() : QStringLiteral(" (off)"));
    }
    return items;
}

QAbstractButton *button(QWidget &window, const QString &text)
{
    for (auto *candidate : window.findChildren<QAbstractButton *>()) {
        if (candidate->text() == text || candidate->toolTip() == text)
            return candidate;
    }
    return nullptr;
}

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
        m_store = std::make_unique<RecordingLibraryStore>(environment);
        QSignalSpy started(m_store.get(), &RecordingLibraryStore::recoveryFinished);
        QVERIFY(started.wait(20000));
    }

    void menuFollowsEveryCaptureState()
    {
        ScriptedHotKeyGrabber grabber;
        HotKeyStore hotKeys(m_store->settings(), grabber);
        int libraryShown = 0;
        TrayMenu tray(*m_store, hotKeys, {[&] { ++libraryShown; }, [] {}, [] {}, [] {}});
        auto &menu = tray.menu();
        m_store->setStatusMessage(std::nullopt);
        QCOMPARE(visibleItems(menu),
                 QStringList({"Launch App", "-", "Record System Audio", "Record Microphone"}) + idleTail);
        // Wired at start, so the hotkeys work without a tray, and again each time the menu appears.
        QCOMPARE(grabber.live.size(), 2);
        hotKeys.setOpenLibraryAction({});
        hotKeys.registerAll();
        emit menu.aboutToShow();
        QCOMPARE(grabber.live.size(), 2);
        grabber.press(*hotKeys.center().idOf(HotKeyStore::openLibraryName));
        QTRY_COMPARE(libraryShown, 1);

        m_server.holdOpen = true;
        tray.recordMicrophone();
        QCOMPARE(libraryShown, 2);
        QTRY_VERIFY(m_store->captureState().is(CaptureState::Kind::preparing));
        QCOMPARE(visibleItems(menu),
                 QStringList({"Launch App", "-", "Preparing recording (off)", "Record System Audio (off)",
                              "Record Microphone (off)"})
                     + busyTail);

        m_server.openGate.release();
        QTRY_VERIFY_WITH_TIMEOUT(m_store->captureState().is(CaptureState::Kind::recording), 10000);
        m_server.holdOpen = false;
        m_env.clock.advance(2500ms);
        QCOMPARE(visibleItems(menu),
                 QStringList({"Launch App", "-", "00:03 (off)", "Recording Mic M4A (off)", "Record System Audio (off)",
                              "Stop Microphone"})
                     + busyTail);

        // Stopping a take leaves the windows as they are.
        m_server.feedSine(0.3);
        tray.recordMicrophone();
        QCOMPARE(libraryShown, 2);
        QTRY_VERIFY_WITH_TIMEOUT(m_store->captureState().is(CaptureState::Kind::idle), 20000);
        QTRY_VERIFY_WITH_TIMEOUT(!m_store->isStatusBusy(), 20000);
        // A long status is cut in the middle; the item's tip holds all of it.
        QCOMPARE(visibleItems(menu).mid(3, 2), QStringList({"Record System Audio", "Record Microphone"}));
        QCOMPARE(menu.actions().at(3)->toolTip(), m_store->statusMessage().value_or("none"));
    }

    void settingsRowsPickersAndShortcutCapture()
    {
        ScriptedHotKeyGrabber grabber;
        HotKeyStore hotKeys(m_store->settings(), grabber);
        hotKeys.setToggleRecordingAction([] {});
        hotKeys.registerAll();
        ThemeController theme(m_store->settings());
        theme.setTheme(AppThemeChoice::gothic);
        SettingsView settings(*m_store, hotKeys, theme);
        settings.show();
        QVERIFY(QTest::qWaitForWindowExposed(&settings));
        for (const auto *text : {"Appearance", "Capture", "Recording Format", "Hotkeys", "About", "Save Folder",
                                 "Toggle Recording", "Open Library", "Version"})
            QVERIFY2(showsLabel(settings, text), text);
        QVERIFY(!ProgramVersion::number().isEmpty());
        QVERIFY(showsLabel(settings, ProgramVersion::number())); // the project's version, as --version says

        QSignalSpy restyled(&theme, &ThemeController::themeChanged);
        QVERIFY(showsLabel(settings, "Purple vampire sampler mode."));
        button(settings, "Studio Glass")->click();
        QCOMPARE(restyled.count(), 1);
        QVERIFY(showsLabel(settings, "Black glass, glossy, and restrained."));

        const auto boxes = settings.findChildren<QComboBox *>();
        QCOMPARE(boxes.size(), 3);
        auto *format = boxes[0];
        auto *bitRate = boxes[1];
        // The analysis picker: standard until chosen, stored at once, following the store.
        auto *analysis = boxes[2];
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
        auto *record = static_cast<QPushButton *>(button(settings, "Shift+Super+R"));
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
