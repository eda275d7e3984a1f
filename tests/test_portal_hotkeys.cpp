// The global hotkeys through the desktop portal's GlobalShortcuts interface, against a small
// fake portal on a private session bus: registration, activation, a refused bind, no portal.

#include "hotkeys/HotKeyStore.h"
#include "platform/PortalHotKeyGrabber.h"
#include "store/StoreSettings.h"
#include "support/TestEnvironment.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVirtualObject>
#include <QProcess>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {
const QString desktopPath = "/org/freedesktop/portal/desktop";

/// The portal's GlobalShortcuts, answering every request on its Request path; "Register" is unknown to it.
class FakePortal final : public QDBusVirtualObject {
public:
    explicit FakePortal(QDBusConnection bus) : m_bus(std::move(bus)) {}

    QStringList calls;                ///< methods called, in order
    QHash<QString, QString> triggers; ///< of the last bind: shortcut id → preferred trigger
    QString session;                  ///< the last session made
    bool refuseBind = false;

    QString introspect(const QString &) const override { return {}; }

    bool handleMessage(const QDBusMessage &message, const QDBusConnection &) override
    {
        calls << message.member();
        const auto arguments = message.arguments();
        QVariantMap results;
        uint response = 0;
        QVariantMap options;
        if (message.member() == "CreateSession") {
            options = qdbus_cast<QVariantMap>(arguments.at(0));
            session = "/org/freedesktop/portal/desktop/session/" + sender(message) + "/"
                + options.value("session_handle_token").toString();
            results.insert("session_handle", QVariant::fromValue(QDBusObjectPath(session)));
        } else if (message.member() == "BindShortcuts") {
            options = qdbus_cast<QVariantMap>(arguments.at(3));
            triggers.clear();
            QList<std::pair<QString, QVariantMap>> shortcuts;
            qvariant_cast<QDBusArgument>(arguments.at(1)) >> shortcuts;
            for (const auto &[id, shortcutOptions] : shortcuts)
                triggers.insert(id, shortcutOptions.value("preferred_trigger").toString());
            response = refuseBind ? 2 : 0;
        } else {
            return false;
        }
        const auto request =
            desktopPath + "/request/" + sender(message) + "/" + options.value("handle_token").toString();
        m_bus.send(message.createReply(QVariant::fromValue(QDBusObjectPath(request))));
        auto signal = QDBusMessage::createSignal(request, "org.freedesktop.portal.Request", "Response");
        signal << response << results;
        QTimer::singleShot(0, [bus = m_bus, signal]() mutable { bus.send(signal); });
        return true;
    }

    void activate(const QString &id)
    {
        auto signal = QDBusMessage::createSignal(desktopPath, "org.freedesktop.portal.GlobalShortcuts", "Activated");
        signal << QVariant::fromValue(QDBusObjectPath(session)) << id << quint64(0) << QVariantMap();
        m_bus.send(signal);
    }

private:
    static QString sender(const QDBusMessage &message) { return message.service().mid(1).replace('.', '_'); }

    QDBusConnection m_bus;
};
} // namespace

class PortalHotKeysTest : public QObject {
    Q_OBJECT

private slots:
    void registersActivatesAndReportsFailures()
    {
        // A session bus of the test's own.
        QTemporaryDir dir;
        QProcess bus;
        bus.start("dbus-daemon", {"--session", "--address=unix:dir=" + dir.path(), "--nofork", "--print-address=1"});
        QVERIFY2(bus.waitForStarted() && bus.waitForReadyRead(10000), "dbus-daemon did not start");
        const auto stop = qScopeGuard([&bus] {
            bus.terminate();
            bus.waitForFinished(5000);
        });
        const auto address = QString::fromUtf8(bus.readLine().trimmed());
        auto service = QDBusConnection::connectToBus(address, "portal");
        auto client = QDBusConnection::connectToBus(address, "client");
        QVERIFY(service.isConnected() && client.isConnected());
        FakePortal portal(service);
        QVERIFY(service.registerVirtualObject(desktopPath, &portal));
        QVERIFY(service.registerService(PortalHotKeyGrabber::portalService));

        TestEnvironment env;
        StoreSettings settings(*env.settings);
        PortalHotKeyGrabber grabber(client);
        HotKeyStore hotKeys(settings, grabber);
        int toggles = 0;
        int libraries = 0;
        hotKeys.setToggleRecordingAction([&] { ++toggles; });
        hotKeys.setOpenLibraryAction([&] { ++libraries; });
        QSignalSpy bound(&grabber, &PortalHotKeyGrabber::bound);
        hotKeys.registerAll();
        hotKeys.registerAll();
        QVERIFY(bound.wait(5000));
        QCOMPARE(portal.calls, QStringList({"Register", "CreateSession", "BindShortcuts"}));
        QCOMPARE(portal.triggers.value("toggleRecording"), QStringLiteral("SHIFT+LOGO+r"));
        QCOMPARE(portal.triggers.size(), 2);
        QVERIFY(!hotKeys.registrationMessage());
        hotKeys.registerAll(); // the same set again binds nothing new: one more session below only

        portal.activate("openLibrary");
        QTRY_COMPARE(libraries, 1);
        QCOMPARE(toggles, 0);

        // A changed set opens a new session; the portal refusing it is reported.
        portal.refuseBind = true;
        hotKeys.setOpenLibrary(HotKeyShortcut{37, HotKeyShortcut::controlFlag | HotKeyShortcut::optionFlag, "L"});
        QTRY_COMPARE(hotKeys.registrationMessage().value_or(""),
                     QStringLiteral("The hotkey could not be registered: the desktop declined the shortcut."));
        QCOMPARE(portal.triggers.value("openLibrary"), QStringLiteral("CTRL+ALT+l"));
        QCOMPARE(portal.calls.count("CreateSession"), 2);
        QCOMPARE(portal.calls.count("Register"), 1);
        service.unregisterService(PortalHotKeyGrabber::portalService);

        // Without a portal every registration fails, the first one after the call, the next at once.
        PortalHotKeyGrabber lonely(QDBusConnection::connectToBus(address, "lonely"), "org.freedesktop.portal.Nobody");
        HotKeyStore unbound(settings, lonely);
        unbound.setToggleRecordingAction([] {});
        unbound.registerAll();
        const auto missing = QStringLiteral("The hotkey could not be registered: this desktop offers neither X11 key "
                                            "grabs nor a global shortcuts portal.");
        QTRY_COMPARE(unbound.registrationMessage().value_or(""), missing);
        unbound.registerAll();
        QCOMPARE(unbound.registrationMessage().value_or(""), missing);
    }
};

QTEST_MAIN(PortalHotKeysTest)
#include "test_portal_hotkeys.moc"
