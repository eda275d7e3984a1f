// The X11 foreground monitor under a private Xvfb: windows made active on the root window are
// reported with their process, class and name; this process's own windows are not.

#include "platform/XcbDesktopWindows.h"
#include "platform/XcbForegroundApplicationMonitor.h"

#include <QCoreApplication>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>

#include <xcb/xcb.h>

namespace {

/// A client of the test's display: activate() makes a new window with these properties the
/// active one and returns once the server has handled it.
class Desktop {
public:
    explicit Desktop(const QByteArray &display) : c(xcb_connect(display.constData(), nullptr)) {}
    ~Desktop() { xcb_disconnect(c); }
    xcb_window_t activate(quint32 pid, const QByteArray &wmClass, const QByteArray &name)
    {
        const auto root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
        const auto id = xcb_generate_id(c);
        xcb_create_window(c, XCB_COPY_FROM_PARENT, id, root, 0, 0, 10, 10, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                          XCB_COPY_FROM_PARENT, 0, nullptr);
        set(id, "_NET_WM_PID", XCB_ATOM_CARDINAL, 32, 1, &pid);
        set(id, "WM_CLASS", XCB_ATOM_STRING, 8, wmClass.size(), wmClass.constData());
        set(id, "_NET_WM_NAME", atom("UTF8_STRING"), 8, name.size(), name.constData());
        set(root, "_NET_ACTIVE_WINDOW", XCB_ATOM_WINDOW, 32, 1, &id);
        std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr)); // a round trip
        return id;
    }
    /// Sets the window manager's stacking list, bottom to top.
    void stack(const std::vector<xcb_window_t> &windows)
    {
        const auto root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
        set(root, "_NET_CLIENT_LIST_STACKING", XCB_ATOM_WINDOW, 32, qsizetype(windows.size()), windows.data());
        std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    }

private:
    xcb_atom_t atom(const char *name)
    {
        auto *reply = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, quint16(qstrlen(name)), name), nullptr);
        const auto atom = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
        std::free(reply);
        return atom;
    }
    void set(xcb_window_t window, const char *property, xcb_atom_t type, quint8 format, qsizetype length,
             const void *data)
    {
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, atom(property), type, format, quint32(length), data);
    }

    xcb_connection_t *c;
};

/// "pid identifier name" of the application in a QSignalSpy entry.
QString described(const QList<QVariant> &emitted)
{
    const auto app = emitted.first().value<RunningApplication>();
    return QString::number(app.processIdentifier.value_or(0)) + ' ' + app.bundleIdentifier.value_or("-") + ' '
        + app.localizedName.value_or("-");
}

} // namespace

class ForegroundMonitorTest : public QObject {
    Q_OBJECT

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

    void reportsActivatedApplicationsButNotItself()
    {
        XcbForegroundApplicationMonitor absent(":987");
        QVERIFY(!absent.isConnected() && !absent.activeApplication());
        XcbForegroundApplicationMonitor monitor(m_display);
        Desktop desktop(m_display);
        QSignalSpy activated(&monitor, &ForegroundApplicationMonitor::applicationActivated);
        desktop.activate(4242, QByteArray("firefox\0Firefox\0", 16), "A video - Browser");
        QVERIFY(activated.wait(5000));
        QCOMPARE(described(activated.takeFirst()), "4242 firefox Firefox");
        // Our own window is skipped; a window without WM_CLASS is named by its title.
        desktop.activate(quint32(QCoreApplication::applicationPid()), QByteArray("me\0Me\0", 6), "Me");
        desktop.activate(5151, {}, "Player");
        QVERIFY(activated.wait(5000));
        QCOMPARE(activated.count(), 1);
        QCOMPARE(described(activated.takeFirst()), "5151 - Player");
    }

    void listsWindowsFrontToBack()
    {
        XcbDesktopWindows absent(":987");
        QVERIFY(absent.windows().empty() && !absent.frontmostApplication());
        Desktop desktop(m_display);
        const auto back = desktop.activate(7001, QByteArray("term\0Term\0", 10), "Shell");
        const auto front = desktop.activate(7002, QByteArray("chromium\0Chromium\0", 18), "Mix - Chromium");
        desktop.stack({back, front});
        XcbDesktopWindows windows(m_display);
        QStringList listed;
        for (const auto &window : windows.windows())
            listed << QString::number(window.processIdentifier.value_or(0)) + ' ' + window.title;
        QCOMPARE(listed, QStringList({"7002 Mix - Chromium", "7001 Shell"}));
        QCOMPARE(windows.frontmostApplication().value_or(RunningApplication{}).bundleIdentifier,
                 std::optional<QString>("chromium"));
    }

    void activationReadDuringARoundTripIsReported()
    {
        XcbForegroundApplicationMonitor monitor(m_display);
        Desktop desktop(m_display);
        QSignalSpy activated(&monitor, &ForegroundApplicationMonitor::applicationActivated);
        desktop.activate(6161, QByteArray("late\0Late\0", 10), "Late");
        // Its round trips read the activation off the socket into libxcb's queue, where no
        // socket notifier announces it.
        QCOMPARE(monitor.activeApplication().value_or(RunningApplication{}).processIdentifier.value_or(0), 6161);
        QVERIFY(activated.wait(2000));
        QCOMPARE(described(activated.first()), "6161 late Late");
    }
};

QTEST_GUILESS_MAIN(ForegroundMonitorTest)
#include "test_recording_foreground.moc"
