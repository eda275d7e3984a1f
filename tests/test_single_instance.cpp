// The desktop program as separate processes on a private Xvfb display: a second launch brings
// the first one's window to the front and ends, "--toggle-recording" starts and stops a take in
// the running instance, and quitting during a take saves it.

#include "support/TakeFiles.h"
#include "support/XvfbServer.h"

#include <QDir>
#include <QMap>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <csignal>
#include <vector>
#include <xcb/xcb.h>

using namespace TakeFiles;

class SingleInstanceTest : public QObject {
    Q_OBJECT

private:
    XvfbServer m_x11;
    QTemporaryDir m_dir;
    QProcessEnvironment m_environment;

    /// Runs a later launch with \a arguments; true when it handed over and ended at once.
    bool launchAgain(const QStringList &arguments)
    {
        QProcess later;
        later.setProcessEnvironment(m_environment);
        later.start(qEnvironmentVariable("VESPERTONE_APP"), arguments);
        return later.waitForFinished(10000) && later.exitStatus() == QProcess::NormalExit && later.exitCode() == 0;
    }

private slots:
    void initTestCase()
    {
        if (qEnvironmentVariableIsEmpty("PULSE_SERVER"))
            QSKIP("needs the PulseAudio daemon of scripts/with-test-services.sh");
        QVERIFY2(m_x11.isRunning(), "Xvfb did not start");
        QDir().mkpath(m_dir.filePath("runtime"));
        QFile::setPermissions(m_dir.filePath("runtime"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QSettings settings(m_dir.filePath("config/Vespertone/Vespertone.conf"), QSettings::IniFormat);
        settings.setValue("Vespertone.SaveFolderPath", m_dir.filePath("Library"));
        settings.sync();
        m_environment = QProcessEnvironment::systemEnvironment();
        m_environment.insert("DISPLAY", QString::fromLatin1(m_x11.display()));
        m_environment.insert("QT_QPA_PLATFORM", "xcb");
        m_environment.insert("XDG_CONFIG_HOME", m_dir.filePath("config"));
        m_environment.insert("XDG_RUNTIME_DIR", m_dir.filePath("runtime"));
    }

    void secondLaunchHandsOver()
    {
        QProcess first;
        first.setProcessEnvironment(m_environment);
        first.setProcessChannelMode(QProcess::ForwardedChannels);
        first.start(qEnvironmentVariable("VESPERTONE_APP"));
        QVERIFY(first.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(m_dir.filePath("runtime/vespertone.socket")), 20000);
        QByteArray window;
        QTRY_VERIFY_WITH_TIMEOUT(
            !(window = m_x11.xdotool({"search", "--onlyvisible", "--name", "^Vespertone$"}).value_or("").trimmed())
                 .isEmpty(),
            20000);

        // Another window covers it; the second launch raises the first one's window above.
        auto *connection = xcb_connect(m_x11.display().constData(), nullptr);
        QVERIFY(!xcb_connection_has_error(connection));
        const auto *screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
        const auto cover = xcb_generate_id(connection);
        xcb_create_window(connection, XCB_COPY_FROM_PARENT, cover, screen->root, 0, 0, 1280, 800, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, 0, nullptr);
        xcb_map_window(connection, cover);
        xcb_flush(connection);
        const auto stackedAbove = [&] {
            const auto reply = xcb_query_tree_reply(connection, xcb_query_tree(connection, screen->root), nullptr);
            const auto *children = xcb_query_tree_children(reply);
            const std::vector<xcb_window_t> order(children, children + xcb_query_tree_children_length(reply));
            std::free(reply);
            const auto position = [&](xcb_window_t id) { return std::find(order.begin(), order.end(), id); };
            return position(window.toUInt()) > position(cover);
        };
        QVERIFY(!stackedAbove());
        QVERIFY(launchAgain({}));
        QTRY_VERIFY_WITH_TIMEOUT(stackedAbove(), 10000);
        xcb_disconnect(connection);
        QCOMPARE(first.state(), QProcess::Running);

        const auto library = m_dir.filePath("Library");
        QVERIFY(launchAgain({"--toggle-recording"}));
        QVERIFY(startsRecording(library, 0));
        QVERIFY(locked(library));
        QVERIFY(launchAgain({"--toggle-recording"}));
        QTRY_VERIFY_WITH_TIMEOUT(!locked(library), 20000);
        QCOMPARE(takes(library).size(), 1);

        // Quitting during a take saves it first: the lock goes, the file stays.
        QVERIFY(launchAgain({"--toggle-recording"}));
        QVERIFY(startsRecording(library, 1));
        ::kill(pid_t(first.processId()), SIGTERM);
        QVERIFY(first.waitForFinished(20000));
        QVERIFY(first.exitStatus() == QProcess::NormalExit && first.exitCode() == 0);
        QCOMPARE(takes(library).size(), 2);
        QVERIFY(!locked(library));
        QVERIFY(!QFile::exists(m_dir.filePath("runtime/vespertone.socket")));
    }
};

QTEST_GUILESS_MAIN(SingleInstanceTest)
#include "test_single_instance.moc"
