// Hotkey shortcuts, their settings and their registration cycle, on a grabber the test controls;
// and the capture rules of the settings' shortcut rows.

#include "hotkeys/GlobalHotKeyCenter.h"
#include "hotkeys/HotKeyStore.h"
#include "platform/HotKeyGrabber.h"
#include "store/StoreSettings.h"
#include "support/ScriptedHotKeyGrabber.h"
#include "support/TestEnvironment.h"
#include "ui/ShortcutRow.h"

#include <QTest>

namespace {
constexpr quint64 command = HotKeyShortcut::commandFlag;
constexpr quint64 shift = HotKeyShortcut::shiftFlag;
} // namespace

Q_DECLARE_METATYPE(HotKeyShortcut)
Q_DECLARE_METATYPE(ShortcutRow::Capture::Outcome)

class HotKeyStoreTest : public QObject {
    Q_OBJECT

private slots:
    void displayText_data()
    {
        QTest::addColumn<HotKeyShortcut>("shortcut");
        QTest::addColumn<QString>("text");
        QTest::newRow("all four") << HotKeyShortcut{40, 0x1E0000, "k"} << "Ctrl+Alt+Shift+Super+K";
        QTest::newRow("whole name upper-cased") << HotKeyShortcut{49, command, "Space"} << "Super+SPACE";
        QTest::newRow("no modifiers") << HotKeyShortcut{37, 0, "L"} << "L";
        QTest::newRow("other bits ignored") << HotKeyShortcut{0, 0x40000 | 0x1, "A"} << "Ctrl+A";
    }
    void displayText()
    {
        QFETCH(HotKeyShortcut, shortcut);
        QFETCH(QString, text);
        QCOMPARE(shortcut.displayText(), text);
    }

    void json_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<bool>("valid");
        QTest::newRow("complete") << QByteArray(R"({"keyCode":15,"modifierFlags":1179648,"keyEquivalent":"R"})")
                                  << true;
        QTest::newRow("missing key") << QByteArray(R"({"keyCode":15,"modifierFlags":1179648})") << false;
        QTest::newRow("text code") << QByteArray(R"({"keyCode":"15","modifierFlags":0,"keyEquivalent":"R"})") << false;
        QTest::newRow("negative") << QByteArray(R"({"keyCode":-1,"modifierFlags":0,"keyEquivalent":"R"})") << false;
        QTest::newRow("not json") << QByteArray("Shift+Cmd+R") << false;
    }
    void json()
    {
        QFETCH(QByteArray, json);
        QFETCH(bool, valid);
        const auto shortcut = HotKeyShortcut::fromJson(json);
        QCOMPARE(shortcut.has_value(), valid);
        if (valid) {
            QCOMPARE(*shortcut, HotKeyStore::defaultToggleRecording());
            QCOMPARE(HotKeyShortcut::fromJson(shortcut->toJson()), shortcut);
        }
    }

    void loadsDefaultsAndWritesBack()
    {
        TestEnvironment env;
        StoreSettings settings(*env.settings);
        settings.setData(StoreSettings::toggleRecordingHotKeyKey, "damaged");
        const HotKeyShortcut custom{0, HotKeyShortcut::controlFlag, "A"};
        settings.setData(StoreSettings::openLibraryHotKeyKey, custom.toJson());
        ScriptedHotKeyGrabber grabber;
        {
            HotKeyStore store(settings, grabber);
            QCOMPARE(store.toggleRecording(), std::optional(HotKeyStore::defaultToggleRecording()));
            QCOMPARE(store.openLibrary(), std::optional(custom));
            QCOMPARE(HotKeyStore::load(settings, StoreSettings::toggleRecordingHotKeyKey),
                     std::optional(HotKeyStore::defaultToggleRecording()));
            // Without actions nothing is grabbed.
            QCOMPARE(grabber.grabs, 0);
            store.setToggleRecording(std::nullopt);
            QVERIFY(!env.settings->contains(StoreSettings::toggleRecordingHotKeyKey));
        }
        HotKeyStore again(settings, grabber);
        QCOMPARE(again.toggleRecording(), std::optional(HotKeyStore::defaultToggleRecording()));
    }

    void registersKeepingIdsAndRunsActionsLater()
    {
        TestEnvironment env;
        StoreSettings settings(*env.settings);
        ScriptedHotKeyGrabber grabber;
        HotKeyStore store(settings, grabber);
        int toggles = 0;
        int libraries = 0;
        store.setToggleRecordingAction([&] { ++toggles; });
        store.setOpenLibraryAction([&] { ++libraries; });
        for (int cycle = 0; cycle < 2; ++cycle) {
            store.registerAll();
            QCOMPARE(store.center().idOf(HotKeyStore::toggleRecordingName), std::optional(1u));
            QCOMPARE(store.center().idOf(HotKeyStore::openLibraryName), std::optional(2u));
            QCOMPARE(store.center().nextID(), 3u);
            QCOMPARE(grabber.live.size(), 2);
        }
        const auto &record = grabber.live.value(1);
        QCOMPARE(record.signature, 0x56535054u);
        QCOMPARE(record.keysym, quint32('r'));
        QCOMPARE(record.modifiers, HotKeyGrabber::shiftMask | HotKeyGrabber::superMask);
        QCOMPARE(GlobalHotKeyCenter::platformModifiers(0x1E0000),
                 HotKeyGrabber::shiftMask | HotKeyGrabber::controlMask | HotKeyGrabber::altMask
                     | HotKeyGrabber::superMask);

        grabber.press(1);
        grabber.press(7);     // no action: nothing happens
        QCOMPARE(toggles, 0); // the action runs on a later turn of the event loop
        QTRY_COMPARE(toggles, 1);
        QCOMPARE(libraries, 0);
    }

    void captureRules_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<ShortcutRow::Capture::Outcome>("outcome");
        QTest::addColumn<HotKeyShortcut>("shortcut");
        using Outcome = ShortcutRow::Capture::Outcome;
        QTest::newRow("escape cancels") << int(Qt::Key_Escape) << int(Qt::MetaModifier) << Outcome::cancel
                                        << HotKeyShortcut{};
        QTest::newRow("bare letter waits") << int(Qt::Key_K) << 0 << Outcome::ignore << HotKeyShortcut{};
        QTest::newRow("modifier alone waits")
            << int(Qt::Key_Meta) << int(Qt::MetaModifier) << Outcome::ignore << HotKeyShortcut{};
        QTest::newRow("super letter") << int(Qt::Key_K) << int(Qt::MetaModifier) << Outcome::shortcut
                                      << HotKeyShortcut{40, command, "K"};
        QTest::newRow("shifted digit is its key")
            << int(Qt::Key_Exclam) << int(Qt::ShiftModifier | Qt::ControlModifier) << Outcome::shortcut
            << HotKeyShortcut{18, shift | HotKeyShortcut::controlFlag, "1"};
        QTest::newRow("named key") << int(Qt::Key_Space) << int(Qt::AltModifier) << Outcome::shortcut
                                   << HotKeyShortcut{49, HotKeyShortcut::optionFlag, "Space"};
        QTest::newRow("keypad modifier ignored")
            << int(Qt::Key_L) << int(Qt::KeypadModifier) << Outcome::ignore << HotKeyShortcut{};
    }
    void captureRules()
    {
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QFETCH(ShortcutRow::Capture::Outcome, outcome);
        QFETCH(HotKeyShortcut, shortcut);
        const auto capture = ShortcutRow::capture(key, Qt::KeyboardModifiers(modifiers));
        QCOMPARE(capture.outcome, outcome);
        if (outcome == ShortcutRow::Capture::Outcome::shortcut)
            QCOMPARE(capture.shortcut, shortcut);
    }
};

QTEST_MAIN(HotKeyStoreTest)
#include "test_hotkey_store.moc"
