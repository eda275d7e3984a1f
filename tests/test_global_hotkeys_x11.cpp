// The global hotkeys as X11 key grabs on a private Xvfb display, typed with xdotool: the record
// hotkey starts and stops a take on the test PulseAudio daemon, the library hotkey shows the
// window, a chord another client holds is reported, and ids survive re-registration.

#include "hotkeys/HotKeyStore.h"
#include "platform/PulseSoundServer.h"
#include "platform/XcbHotKeyGrabber.h"
#include "store/RecordingLibraryStore.h"
#include "support/PulseTestServer.h"
#include "support/TestEnvironment.h"
#include "support/XvfbServer.h"
#include "ui/tray/TrayMenu.h"

#include <QSignalSpy>
#include <QTest>
#include <QWidget>

class GlobalHotKeysX11Test : public QObject {
    Q_OBJECT

private slots:
    void hotKeysOnX11()
    {
        if (qEnvironmentVariableIsEmpty("PULSE_SERVER"))
            QSKIP("needs the PulseAudio daemon of scripts/with-test-services.sh");
        XvfbServer x11;
        QVERIFY2(x11.isRunning(), "Xvfb did not start");
        TestEnvironment env;
        PulseSoundServer server;
        QVERIFY(warmUp(CaptureTarget::defaultOutput()));
        auto environment = env.storeEnvironment();
        environment.soundServer = &server;
        const auto started = startStore(environment);
        auto &store = *started;

        // Another client holds the record chord: the registration reports it and stops there.
        XcbHotKeyGrabber other(x11.display());
        QVERIFY(other.isConnected());
        const HotKeyGrabber::Binding held{0, 9, 'r', "r", HotKeyGrabber::shiftMask | HotKeyGrabber::superMask, "x"};
        QCOMPARE(other.grab(held), 0);
        XcbHotKeyGrabber grabber(x11.display());
        HotKeyStore hotKeys(store.settings(), grabber);
        QWidget library;
        TrayMenu tray(store, hotKeys, {[&] { library.show(); }, [] {}, {}, [] {}});
        QCOMPARE(
            hotKeys.registrationMessage().value_or("none"),
            QStringLiteral("The hotkey could not be registered: another program already uses this key combination."));
        QVERIFY(!hotKeys.center().isRegistered(HotKeyStore::openLibraryName));

        other.release(9);
        for (int cycle = 0; cycle < 2; ++cycle)
            tray.wireHotKeys();
        QVERIFY(!hotKeys.registrationMessage());
        QCOMPARE(hotKeys.center().idOf(HotKeyStore::toggleRecordingName), std::optional(1u));
        QCOMPARE(hotKeys.center().idOf(HotKeyStore::openLibraryName), std::optional(2u));

        // Caps Lock on: the grabs cover it.
        QVERIFY(x11.xdotool({"key", "Caps_Lock", "shift+super+l", "Caps_Lock"}));
        QTRY_VERIFY(library.isVisible());
        library.hide();

        const auto before = store.recordings().size();
        QVERIFY(x11.xdotool({"key", "shift+super+r"}));
        QTRY_VERIFY_WITH_TIMEOUT(store.captureState().is(CaptureState::Kind::recording), 10000);
        QCOMPARE(store.activeRecordingInputSource(), std::optional(RecordingInputSource::macAudio));
        QVERIFY(library.isVisible());
        QSignalSpy peaks(&store, &RecordingLibraryStore::livePeaksChanged);
        QVERIFY(peaks.wait(5000));
        library.hide();
        QVERIFY(x11.xdotool({"key", "shift+super+r"}));
        QTRY_VERIFY_WITH_TIMEOUT(store.recordings().size() == before + 1, 20000);
        QVERIFY(!library.isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(!store.isStatusBusy(), 20000);
    }
};

QTEST_MAIN(GlobalHotKeysX11Test)
#include "test_global_hotkeys_x11.moc"
