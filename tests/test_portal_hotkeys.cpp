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
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {
const QString desktopPath = "/org/freedesktop/portal/desktop";

/// The portal's GlobalShortcuts and host Registry, answering every request on its Request path.
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
        if (message.member() == "Register") {
            m_bus.send(message.createReply());
            return true;
        }
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
            const auto shortcuts = qvariant_cast<QDBusArgument>(arguments.at(1));
            shortcuts.beginArray();
            while (!shortcuts.atEnd()) {
                QString id;
                QVariantMap shortcutOptions;
                shortcuts.beginStructure();
                shortcuts >> id >> shortcutOptions;
                shortcuts.endStructure();
                triggers.insert(id, shortcutOptions.value("preferred_trigger").toString());
            }
            shortcuts.endArray();
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

private:
    QTemporaryDir m_dir;
    QProcess m_bus;
    QString m_address;

private slots:
    void initTestCase()
    {
        QFile config(m_dir.filePath("bus.conf"));
        QVERIFY(config.open(QIODevice::WriteOnly));
        // A session bus of the test's own, anyone may own any name on it.
        config.write("<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
                     " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                     "<busconfig><type>session</type><listen>unix:dir="
                     + m_dir.path().toUtf8()
                     + "</listen><auth>EXTERNAL</auth><policy context=\"default\">"
                       "<allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
                       "<allow own=\"*\"/></policy></busconfig>\n");
        config.close();
        m_bus.start("dbus-daemon", {"--config-file=" + config.fileName(), "--nofork", "--print-address=1"});
        QVERIFY2(m_bus.waitForStarted(), "dbus-daemon is not installed");
        QTRY_VERIFY(m_bus.canReadLine() || m_bus.state() != QProcess::Running);
        m_address = QString::fromUtf8(m_bus.readLine().trimmed());
        QVERIFY(!m_address.isEmpty());
    }

    void cleanupTestCase()
    {
        m_bus.terminate();
        m_bus.waitForFinished(5000);
    }

    void registersActivatesAndReportsRefusal()
    {
        auto service = QDBusConnection::connectToBus(m_address, "portal");
        auto client = QDBusConnection::connectToBus(m_address, "client");
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
        QCOMPARE(portal.triggers.value("openLibrary"), QStringLiteral("SHIFT+LOGO+l"));
        QVERIFY(!hotKeys.registrationMessage());

        // Registering the same set again binds nothing new.
        hotKeys.registerAll();
        QTest::qWait(100);
        QCOMPARE(portal.calls.size(), 3);

        portal.activate("openLibrary");
        QTRY_COMPARE(libraries, 1);
        QCOMPARE(toggles, 0);

        // A changed set opens a new session; the portal refusing it is reported.
        portal.refuseBind = true;
        QSignalSpy messages(&hotKeys, &HotKeyStore::registrationMessageChanged);
        hotKeys.setOpenLibrary(HotKeyShortcut{37, HotKeyShortcut::controlFlag | HotKeyShortcut::optionFlag, "L"});
        QTRY_VERIFY(hotKeys.registrationMessage().has_value());
        QCOMPARE(*hotKeys.registrationMessage(), QStringLiteral("The hotkey could not be registered. OSStatus -9878."));
        QCOMPARE(portal.triggers.value("openLibrary"), QStringLiteral("CTRL+ALT+l"));
        QCOMPARE(portal.calls.count("CreateSession"), 2);
        QCOMPARE(portal.calls.count("Register"), 1);
        service.unregisterService(PortalHotKeyGrabber::portalService);
    }

    void withoutPortalRegistrationFails()
    {
        auto client = QDBusConnection::connectToBus(m_address, "lonely");
        TestEnvironment env;
        StoreSettings settings(*env.settings);
        PortalHotKeyGrabber grabber(client, "org.freedesktop.portal.Nobody");
        HotKeyStore hotKeys(settings, grabber);
        hotKeys.setToggleRecordingAction([] {});
        hotKeys.registerAll();
        QTRY_COMPARE(hotKeys.registrationMessage().value_or(""),
                     QStringLiteral("The hotkey could not be registered. OSStatus -9868."));
        // From then on every registration fails at once.
        hotKeys.registerAll();
        QCOMPARE(hotKeys.registrationMessage().value_or(""),
                 QStringLiteral("The hotkey could not be registered. OSStatus -9868."));
    }
};

QTEST_MAIN(PortalHotKeysTest)
#include "test_portal_hotkeys.moc"
