// Hotkey shortcuts, their settings and their registration cycle, on a grabber the test controls;
// and the capture rules of the settings' shortcut rows.

#include "hotkeys/HotKeyStore.h"
#include "store/StoreSettings.h"
#include "support/ScriptedHotKeyGrabber.h"
#include "support/TestEnvironment.h"
#include "ui/settings/ShortcutRow.h"

#include <QTest>

namespace {
constexpr quint64 shift = HotKeyShortcut::shiftFlag;
} // namespace

Q_DECLARE_METATYPE(HotKeyShortcut)
Q_DECLARE_METATYPE(ShortcutRow::Capture::Outcome)

class HotKeyStoreTest : public QObject {
    Q_OBJECT

private slots:
    void loadsWritesBackAndRegistersKeepingIds()
    {
        TestEnvironment env;
        StoreSettings settings(*env.settings);
        // A stored value that is not a shortcut (here a negative key code) falls back to the default.
        settings.setData(StoreSettings::toggleRecordingHotKeyKey,
                         R"({"keyCode":-1,"modifierFlags":0,"keyEquivalent":"R"})");
        settings.setData(StoreSettings::openLibraryHotKeyKey,
                         R"({"keyCode":0,"modifierFlags":262144,"keyEquivalent":"A"})");
        const HotKeyShortcut custom{0, HotKeyShortcut::controlFlag, "A"};
        QVERIFY(!HotKeyShortcut::fromJson(R"({"keyCode":15,"modifierFlags":0})") && !HotKeyShortcut::fromJson("R"));
        ScriptedHotKeyGrabber grabber;
        {
            HotKeyStore first(settings, grabber);
            QCOMPARE(first.toggleRecording(), std::optional(HotKeyStore::defaultToggleRecording()));
            QCOMPARE(first.openLibrary(), std::optional(custom));
            QCOMPARE(HotKeyStore::load(settings, StoreSettings::toggleRecordingHotKeyKey),
                     std::optional(HotKeyStore::defaultToggleRecording()));
            // Without actions nothing is grabbed.
            QCOMPARE(grabber.grabs, 0);
            first.setToggleRecording(std::nullopt);
            QVERIFY(!env.settings->contains(StoreSettings::toggleRecordingHotKeyKey));
        }
        HotKeyStore store(settings, grabber);
        QCOMPARE(store.toggleRecording(), std::optional(HotKeyStore::defaultToggleRecording()));

        // Registration keeps the ids; an action runs on a later turn of the event loop.
        int toggles = 0;
        int libraries = 0;
        store.setToggleRecordingAction([&] { ++toggles; });
        store.setOpenLibraryAction([&] { ++libraries; });
        for (int cycle = 0; cycle < 2; ++cycle) {
            store.registerAll();
            QCOMPARE(store.center().idOf(HotKeyStore::toggleRecordingName), std::optional(1u));
            QCOMPARE(store.center().idOf(HotKeyStore::openLibraryName), std::optional(2u));
            QCOMPARE(grabber.live.size(), 2);
        }
        QCOMPARE(grabber.live.value(1).keysym, quint32('r'));

        grabber.press(1);
        grabber.press(7); // no action: nothing happens
        QCOMPARE(toggles, 0);
        QTRY_COMPARE(toggles, 1);
        QCOMPARE(libraries, 0);
    }

    // A refused registration says in words why the key could not be taken.
    void refusalSaysWhy_data()
    {
        QTest::addColumn<bool>("desktopGrabs");
        QTest::addColumn<quint32>("keyCode");
        QTest::addColumn<bool>("heldElsewhere");
        QTest::addColumn<QString>("message");
        QTest::newRow("held by another program")
            << true << 15u << true
            << "The hotkey could not be registered: another program already uses this key combination.";
        // The ISO section key, which the stored shortcut names and this keyboard lacks.
        QTest::newRow("no such key") << true << 10u << false
                                     << "The hotkey could not be registered: this keyboard has no such key.";
        QTest::newRow("no grabs on this desktop")
            << false << 15u << false
            << "The hotkey could not be registered: this desktop offers neither X11 key grabs nor a global shortcuts "
               "portal.";
    }

    void refusalSaysWhy()
    {
        QFETCH(bool, desktopGrabs);
        QFETCH(quint32, keyCode);
        QFETCH(bool, heldElsewhere);
        QFETCH(QString, message);
        TestEnvironment env;
        StoreSettings settings(*env.settings);
        ScriptedHotKeyGrabber scripted;
        if (heldElsewhere)
            scripted.refusedKeysyms = {quint32('r')};
        UnavailableHotKeyGrabber none;
        HotKeyStore store(settings, desktopGrabs ? static_cast<HotKeyGrabber &>(scripted) : none);
        store.setToggleRecordingAction([] {});
        store.setToggleRecording(HotKeyShortcut{keyCode, HotKeyShortcut::commandFlag, "R"});
        QCOMPARE(store.registrationMessage().value_or("registered"), message);
    }

    // What a key press in a shortcut row makes, and how the shortcut reads.
    /// A stored shortcut whose numbers no integer holds falls back to the default.
    void outOfRangeNumbersFallBack_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::newRow("huge modifiers") << QByteArray(R"({"keyCode":1,"modifierFlags":1e300,"keyEquivalent":"a"})");
        QTest::newRow("modifiers past 64 bits")
            << QByteArray(R"({"keyCode":1,"modifierFlags":18446744073709551616,"keyEquivalent":"a"})");
        QTest::newRow("negative modifiers")
            << QByteArray(R"({"keyCode":1,"modifierFlags":-1e300,"keyEquivalent":"a"})");
        QTest::newRow("huge key code") << QByteArray(R"({"keyCode":1e300,"modifierFlags":0,"keyEquivalent":"a"})");
        QTest::newRow("key code past 32 bits")
            << QByteArray(R"({"keyCode":4294967296,"modifierFlags":0,"keyEquivalent":"a"})");
        QTest::newRow("fractional key code") << QByteArray(R"({"keyCode":1.5,"modifierFlags":0,"keyEquivalent":"a"})");
    }
    void outOfRangeNumbersFallBack()
    {
        QFETCH(QByteArray, json);
        QVERIFY(!HotKeyShortcut::fromJson(json));
        TestEnvironment env;
        StoreSettings settings(*env.settings);
        settings.setData(StoreSettings::toggleRecordingHotKeyKey, json);
        ScriptedHotKeyGrabber grabber;
        const HotKeyStore store(settings, grabber);
        QCOMPARE(store.toggleRecording(), std::optional(HotKeyStore::defaultToggleRecording()));
    }

    void captureRules_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<ShortcutRow::Capture::Outcome>("outcome");
        QTest::addColumn<HotKeyShortcut>("shortcut");
        QTest::addColumn<QString>("text");
        using Outcome = ShortcutRow::Capture::Outcome;
        const auto row = [](const char *tag, int key, int modifiers, Outcome outcome, HotKeyShortcut shortcut = {},
                            QString text = {}) {
            QTest::newRow(tag) << key << modifiers << outcome << shortcut << text;
        };
        row("escape cancels", Qt::Key_Escape, Qt::MetaModifier, Outcome::cancel);
        row("bare letter waits", Qt::Key_K, 0, Outcome::ignore);
        row("modifier alone waits", Qt::Key_Meta, Qt::MetaModifier, Outcome::ignore);
        row("all four", Qt::Key_K, Qt::ControlModifier | Qt::AltModifier | Qt::ShiftModifier | Qt::MetaModifier,
            Outcome::shortcut, {40, 0x1E0000, "K"}, "Ctrl+Alt+Shift+Super+K");
        row("shifted digit is its key", Qt::Key_Exclam, Qt::ShiftModifier | Qt::ControlModifier, Outcome::shortcut,
            {18, shift | HotKeyShortcut::controlFlag, "1"}, "Ctrl+Shift+1");
        row("named key upper-cased", Qt::Key_Space, Qt::AltModifier, Outcome::shortcut,
            {49, HotKeyShortcut::optionFlag, "Space"}, "Alt+SPACE");
    }
    void captureRules()
    {
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QFETCH(ShortcutRow::Capture::Outcome, outcome);
        QFETCH(HotKeyShortcut, shortcut);
        QFETCH(QString, text);
        const auto capture = ShortcutRow::capture(key, Qt::KeyboardModifiers(modifiers));
        QCOMPARE(capture.outcome, outcome);
        QCOMPARE(capture.shortcut, shortcut);
        QCOMPARE(capture.shortcut.displayText(), text);
    }
};

QTEST_MAIN(HotKeyStoreTest)
#include "test_hotkey_store.moc"
