// The desktop program as separate processes on a private Xvfb display: a second launch brings
// the first one's window to the front and ends, "--toggle-recording" starts and stops a take in
// the running instance, and quitting during a take saves it.

#include "platform/InstanceChannel.h"
#include "support/ProgramHome.h"
#include "support/TakeFiles.h"
#include "support/XvfbServer.h"

#include <QDir>
#include <QLocalServer>
#include <QMap>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <csignal>
#include <cstring>
#include <functional>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>
#include <xcb/xcb.h>

using namespace TakeFiles;
namespace {
constexpr uid_t nobody = 65534;

/// Runs \a body in a child process as the user \a uid; the child ends when \a body returns.
pid_t runAs(uid_t uid, const std::function<void()> &body)
{
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setgid(uid) != 0 || ::setuid(uid) != 0)
            ::_exit(2);
        body();
        ::_exit(0);
    }
    return child;
}

/// A Unix socket address for \a path.
sockaddr_un address(const QByteArray &path)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.constData(), std::min<std::size_t>(path.size(), sizeof address.sun_path - 1));
    return address;
}
} // namespace

class SingleInstanceTest : public QObject {
    Q_OBJECT

private:
    XvfbServer m_x11;
    ProgramHome m_home{m_x11.display()};

private slots:
    void initTestCase()
    {
        if (qEnvironmentVariableIsEmpty("PULSE_SERVER"))
            QSKIP("needs the PulseAudio daemon of scripts/with-test-services.sh");
        QVERIFY2(m_x11.isRunning(), "Xvfb did not start");
    }

    /// A channel never uses a folder that another user could enter or plant: neither end speaks
    /// through it, even when something listens there.
    void refusesFoldersOthersCouldReach_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("usable");
        QTest::newRow("private") << "private" << true;
        QTest::newRow("group may enter") << "0750" << false;
        QTest::newRow("everybody may write") << "1777" << false;
        QTest::newRow("a link to a private folder") << "link" << false;
        QTest::newRow("another user's") << "foreign" << false;
    }
    void refusesFoldersOthersCouldReach()
    {
        QFETCH(QString, kind);
        QFETCH(bool, usable);
        if (kind == "foreign" && ::geteuid() != 0)
            QSKIP("needs root to make a folder of another user");
        QTemporaryDir scratch;
        const auto folder = scratch.filePath("channel");
        QVERIFY(QDir().mkdir(folder));
        ::chmod(QFile::encodeName(folder).constData(), 0700);
        auto used = folder;
        if (kind == "0750" || kind == "1777")
            ::chmod(QFile::encodeName(folder).constData(), kind == "0750" ? 0750 : 01777);
        if (kind == "link") {
            used = scratch.filePath("link");
            QVERIFY(QFile::link(folder, used));
        }
        if (kind == "foreign")
            QCOMPARE(::chown(QFile::encodeName(folder).constData(), nobody, nobody), 0);
        const auto socket = used + "/vespertone.socket";
        // Something listens there already; a channel that trusted the folder would talk to it.
        QLocalServer squatter;
        QVERIFY(squatter.listen(socket));
        QCOMPARE(InstanceChannel(socket).send(InstanceChannel::Request::show, 300), usable);
        squatter.close();
        InstanceChannel listener(socket);
        QCOMPARE(listener.isUsable(), usable);
        QCOMPARE(listener.listen(), usable);
    }

    /// Without a runtime folder the channel lives in a private folder of this user, never at a
    /// shared name in the temporary folder; a runtime folder others may enter counts as none.
    void fallsBackToAPrivateFolder_data()
    {
        QTest::addColumn<QString>("runtime");
        QTest::newRow("unset") << QString();
        QTest::newRow("open to all") << "open";
    }
    void fallsBackToAPrivateFolder()
    {
        QFETCH(QString, runtime);
        QTemporaryDir scratch;
        const auto saved = qgetenv("XDG_RUNTIME_DIR");
        const auto savedTemp = qgetenv("TMPDIR");
        qputenv("TMPDIR", QFile::encodeName(scratch.path()));
        if (runtime.isEmpty()) {
            qunsetenv("XDG_RUNTIME_DIR");
        } else {
            QDir().mkpath(scratch.filePath(runtime));
            ::chmod(QFile::encodeName(scratch.filePath(runtime)).constData(), 0777);
            qputenv("XDG_RUNTIME_DIR", QFile::encodeName(scratch.filePath(runtime)));
        }
        const InstanceChannel channel;
        qputenv("XDG_RUNTIME_DIR", saved);
        const auto folder = QFileInfo(channel.path()).path();
        QVERIFY2(channel.isUsable(), qPrintable(channel.path()));
        QVERIFY2(folder.startsWith(scratch.path() + "/vespertone-"), qPrintable(channel.path()));
        QVERIFY(InstanceChannel::isPrivateFolder(folder));

        // A folder of that name made first by somebody else is not used.
        QVERIFY(QDir(folder).removeRecursively());
        QVERIFY(QDir().mkdir(folder));
        ::chmod(QFile::encodeName(folder).constData(), 0777);
        qunsetenv("XDG_RUNTIME_DIR");
        const InstanceChannel planted;
        qputenv("XDG_RUNTIME_DIR", saved);
        qputenv("TMPDIR", savedTemp);
        QVERIFY(!planted.isUsable());
        QVERIFY(!planted.send(InstanceChannel::Request::show, 300));
    }

    /// Another user's process is neither served nor asked, even where it can reach the socket.
    void talksOnlyToThisUser()
    {
        if (::geteuid() != 0)
            QSKIP("needs root to run a process as another user");
        QTemporaryDir scratch;
        ::chmod(QFile::encodeName(scratch.path()).constData(), 0711); // the other user may pass
        const auto folder = scratch.filePath("channel");
        QVERIFY(QDir().mkdir(folder));
        const auto socket = folder + "/vespertone.socket";
        const auto path = QFile::encodeName(socket);

        // A listener of another user, in a folder that is private again by the time we send.
        ::chmod(QFile::encodeName(folder).constData(), 0777);
        int ready[2];
        QCOMPARE(::pipe(ready), 0);
        const auto listener = runAs(nobody, [&] {
            const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
            const auto where = address(path);
            if (fd < 0 || ::bind(fd, reinterpret_cast<const sockaddr *>(&where), sizeof where) != 0
                || ::listen(fd, 8) != 0)
                ::_exit(3);
            [[maybe_unused]] const auto written = ::write(ready[1], "x", 1);
            ::pause();
        });
        ::close(ready[1]);
        char byte = 0;
        const auto signalled = ::read(ready[0], &byte, 1);
        ::close(ready[0]);
        QCOMPARE(signalled, 1);
        ::chmod(QFile::encodeName(folder).constData(), 0700);
        QVERIFY(!InstanceChannel(socket).send(InstanceChannel::Request::show, 300));
        ::kill(listener, SIGKILL);
        ::waitpid(listener, nullptr, 0);
        QFile::remove(socket);

        // A request from another user who can reach our socket.
        InstanceChannel channel(socket);
        QVERIFY(channel.listen());
        QList<InstanceChannel::Request> requests;
        connect(&channel, &InstanceChannel::requested, this,
                [&](InstanceChannel::Request request) { requests << request; });
        ::chmod(QFile::encodeName(folder).constData(), 0711);
        ::chmod(path.constData(), 0777);
        const auto asker = runAs(nobody, [&] {
            const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
            const auto where = address(path);
            if (fd < 0 || ::connect(fd, reinterpret_cast<const sockaddr *>(&where), sizeof where) != 0)
                ::_exit(3);
            [[maybe_unused]] const auto written = ::write(fd, "show\n", 5);
            char answer;
            while (::read(fd, &answer, 1) > 0) {
            }
        });
        int status = -1;
        QVERIFY(QTest::qWaitFor([&] { return ::waitpid(asker, &status, WNOHANG) == asker; }, 10000));
        QVERIFY(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        QCoreApplication::processEvents();
        QCOMPARE(requests, QList<InstanceChannel::Request>());
        // This user is still served, once the folder is private again.
        ::chmod(QFile::encodeName(folder).constData(), 0700);
        QVERIFY(channel.send(InstanceChannel::Request::showLibrary, 300));
        QTRY_COMPARE(requests, QList<InstanceChannel::Request>{InstanceChannel::Request::showLibrary});
    }

    void secondLaunchHandsOver()
    {
        QProcess first;
        first.setProcessChannelMode(QProcess::ForwardedChannels);
        QVERIFY(m_home.start(first));
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(m_home.path("runtime/vespertone.socket")), 20000);
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
        QVERIFY(m_home.launchAgain({}));
        QTRY_VERIFY_WITH_TIMEOUT(stackedAbove(), 10000);
        xcb_disconnect(connection);
        QCOMPARE(first.state(), QProcess::Running);

        const auto library = m_home.library();
        QVERIFY(m_home.launchAgain({"--toggle-recording"}));
        QVERIFY(startsRecording(library, 0));
        QVERIFY(locked(library));
        QVERIFY(m_home.launchAgain({"--toggle-recording"}));
        QTRY_VERIFY_WITH_TIMEOUT(!locked(library), 20000);
        QCOMPARE(takes(library).size(), 1);

        // Quitting during a take saves it first: the lock goes, the file stays.
        QVERIFY(m_home.launchAgain({"--toggle-recording"}));
        QVERIFY(startsRecording(library, 1));
        ::kill(pid_t(first.processId()), SIGTERM);
        QVERIFY(first.waitForFinished(20000));
        QVERIFY(first.exitStatus() == QProcess::NormalExit && first.exitCode() == 0);
        QCOMPARE(takes(library).size(), 2);
        QVERIFY(!locked(library));
        QVERIFY(!QFile::exists(m_home.path("runtime/vespertone.socket")));
    }
};

QTEST_GUILESS_MAIN(SingleInstanceTest)
#include "test_single_instance.moc"
