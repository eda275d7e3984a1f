// The X11 foreground monitor under a private Xvfb: windows made active on the root window are
// reported with their process, class and name; this process's own windows are not.

#include "platform/XcbForegroundApplicationMonitor.h"

#include <QCoreApplication>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>

#include <xcb/xcb.h>

#include <cstring>
#include <memory>

namespace {

/// A client of the test's display that creates windows and activates them.
class Desktop {
public:
    explicit Desktop(const QByteArray &display)
        : m_connection(xcb_connect(display.constData(), nullptr), &xcb_disconnect)
    {
        m_root = xcb_setup_roots_iterator(xcb_get_setup(m_connection.get())).data->root;
    }

    [[nodiscard]] bool ok() const { return !xcb_connection_has_error(m_connection.get()); }

    xcb_window_t window(quint32 pid, const QByteArray &wmClass, const QByteArray &name)
    {
        auto *c = m_connection.get();
        const auto id = xcb_generate_id(c);
        xcb_create_window(c, XCB_COPY_FROM_PARENT, id, m_root, 0, 0, 10, 10, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                          XCB_COPY_FROM_PARENT, 0, nullptr);
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, id, atom("_NET_WM_PID"), XCB_ATOM_CARDINAL, 32, 1, &pid);
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, id, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8,
                            quint32(wmClass.size()), wmClass.constData());
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, id, atom("_NET_WM_NAME"), atom("UTF8_STRING"), 8,
                            quint32(name.size()), name.constData());
        return id;
    }
    void activate(xcb_window_t window)
    {
        xcb_change_property(m_connection.get(), XCB_PROP_MODE_REPLACE, m_root, atom("_NET_ACTIVE_WINDOW"),
                            XCB_ATOM_WINDOW, 32, 1, &window);
        xcb_flush(m_connection.get());
    }

    /// Returns once the server has handled every request sent so far.
    void sync()
    {
        auto *c = m_connection.get();
        std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    }

private:
    xcb_atom_t atom(const char *name)
    {
        auto *c = m_connection.get();
        const std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> reply(
            xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, quint16(std::strlen(name)), name), nullptr), &std::free);
        return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    }

    std::unique_ptr<xcb_connection_t, decltype(&xcb_disconnect)> m_connection;
    xcb_window_t m_root = 0;
};

} // namespace

class ForegroundMonitorTest : public QObject {
    Q_OBJECT

private:
    QProcess m_server;
    QByteArray m_display;

private slots:
    void initTestCase()
    {
        if (QStandardPaths::findExecutable("Xvfb").isEmpty())
            QSKIP("Xvfb is not installed");
        // Xvfb writes its display number to standard output once it accepts clients.
        // -noreset: a server that resets when its last client leaves refuses the next test's.
        m_server.start("Xvfb", {"-displayfd", "1", "-nolisten", "tcp", "-noreset", "-screen", "0", "64x64x24"});
        QVERIFY(m_server.waitForStarted());
        QByteArray number;
        while (!number.contains('\n')) {
            QVERIFY2(m_server.waitForReadyRead(10000), "Xvfb did not report its display");
            number += m_server.readAllStandardOutput();
        }
        m_display = ':' + number.trimmed();
    }

    void cleanupTestCase()
    {
        m_server.terminate();
        m_server.waitForFinished();
    }

    void withoutADisplayNothingIsWatched()
    {
        XcbForegroundApplicationMonitor monitor(":987");
        QVERIFY(!monitor.isConnected());
        QVERIFY(!monitor.activeApplication());
    }

    void reportsActivatedApplicationsButNotItself()
    {
        XcbForegroundApplicationMonitor monitor(m_display);
        QVERIFY(monitor.isConnected());
        Desktop desktop(m_display);
        QVERIFY(desktop.ok());
        QSignalSpy activated(&monitor, &ForegroundApplicationMonitor::applicationActivated);

        desktop.activate(desktop.window(4242, QByteArray("firefox\0Firefox\0", 16), "A video - Browser"));
        QVERIFY(activated.wait(5000));
        auto application = activated.takeFirst().first().value<RunningApplication>();
        QCOMPARE(application.processIdentifier.value_or(0), 4242);
        QCOMPARE(application.bundleIdentifier.value_or(QString()), QStringLiteral("firefox"));
        QCOMPARE(application.localizedName.value_or(QString()), QStringLiteral("Firefox"));

        // Our own window is skipped; a window without WM_CLASS is named by its title.
        desktop.activate(desktop.window(quint32(QCoreApplication::applicationPid()), QByteArray("me\0Me\0", 6), "Me"));
        desktop.activate(desktop.window(5151, {}, "Player"));
        QVERIFY(activated.wait(5000));
        QCOMPARE(activated.count(), 1);
        application = activated.takeFirst().first().value<RunningApplication>();
        QCOMPARE(application.processIdentifier.value_or(0), 5151);
        QCOMPARE(application.localizedName.value_or(QString()), QStringLiteral("Player"));
        QVERIFY(!application.bundleIdentifier);
    }

    void activationReadDuringARoundTripIsReported()
    {
        XcbForegroundApplicationMonitor monitor(m_display);
        Desktop desktop(m_display);
        QSignalSpy activated(&monitor, &ForegroundApplicationMonitor::applicationActivated);
        desktop.activate(desktop.window(6161, QByteArray("late\0Late\0", 10), "Late"));
        desktop.sync();
        // Its round trips read the activation off the socket into libxcb's queue, where no
        // socket notifier announces it.
        QCOMPARE(monitor.activeApplication().value_or(RunningApplication{}).processIdentifier.value_or(0), 6161);
        QVERIFY(activated.wait(2000));
        QCOMPARE(activated.first().first().value<RunningApplication>().processIdentifier.value_or(0), 6161);
    }
};

QTEST_GUILESS_MAIN(ForegroundMonitorTest)
#include "test_recording_foreground.moc"
