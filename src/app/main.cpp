// vespertone: the desktop program.

#include "base/Logging.h"
#include "base/ProgramVersion.h"
#include "hotkeys/HotKeyStore.h"
#include "media/FFmpegLogging.h"
#include "platform/BrowserSessionFiles.h"
#include "platform/FreedesktopTrash.h"
#include "platform/InstanceChannel.h"
#include "platform/MprisMediaPlayers.h"
#include "platform/PortalHotKeyGrabber.h"
#include "platform/PulseSoundServer.h"
#include "platform/QtFolderWatcher.h"
#include "platform/SystemClock.h"
#include "platform/XcbDesktopWindows.h"
#include "platform/XcbForegroundApplicationMonitor.h"
#include "platform/XcbHotKeyGrabber.h"
#include "store/RecordingLibraryStore.h"
#include "ui/common/WidgetDialogs.h"
#include "ui/library/LibraryWindow.h"
#include "ui/settings/SettingsView.h"
#include "ui/style/ApplicationAppearance.h"
#include "ui/style/ThemeController.h"
#include "ui/tray/TrayMenu.h"

#include <QApplication>
#include <QDBusConnection>
#include <QEventLoop>
#include <QScopeGuard>
#include <QSettings>
#include <QSocketNotifier>
#include <QSystemTrayIcon>
#include <QTextStream>
#include <QThreadPool>
#include <csignal>
#include <cstring>
#include <sys/socket.h>
#include <unistd.h>

namespace {
const char helpText[] =
    "Usage: vespertone [--toggle-recording | --show-library]\n"
    "       vespertone --help | --version\n"
    "\n"
    "Opens the library window, or hands the request to the Vespertone already running for this user.\n"
    "\n"
    "Options:\n"
    "  --toggle-recording\n"
    "      Starts a system-audio take, or stops the one running, without opening the window.\n"
    "  --show-library\n"
    "      Brings the library window to the front.\n"
    "  --help, -h\n"
    "      Prints this help and exits.\n"
    "  --version\n"
    "      Prints the version and exits.\n";

/// Answers --help and --version, which need no display; false for any other command line.
bool answeredInformation(int argc, char *argv[])
{
    QTextStream out(stdout);
    for (int index = 1; index < argc; ++index) {
        if (std::strcmp(argv[index], "--help") == 0 || std::strcmp(argv[index], "-h") == 0) {
            out << helpText;
            return true;
        }
        if (std::strcmp(argv[index], "--version") == 0) {
            out << "vespertone " << ProgramVersion::number() << Qt::endl;
            return true;
        }
    }
    return false;
}

/// Runs \a task to its end; for the way out, when the application's own loop has ended.
void runToEnd(QCoro::Task<> task)
{
    QEventLoop loop;
    bool done = false;
    // Named: the coroutine reads its captures through the closure, which must outlive it.
    const auto body = [&]() -> QCoro::Task<> {
        co_await std::move(task);
        done = true;
        loop.quit();
    };
    auto waiting = body();
    if (!done)
        loop.exec();
}

/// X11 grabs where the session is X11, else the desktop portal.
std::unique_ptr<HotKeyGrabber> makeHotKeyGrabber()
{
    if (QGuiApplication::platformName() == QLatin1String("xcb")) {
        auto grabber = std::make_unique<XcbHotKeyGrabber>();
        if (grabber->isConnected())
            return grabber;
    }
    if (QDBusConnection::sessionBus().isConnected())
        return std::make_unique<PortalHotKeyGrabber>(QDBusConnection::sessionBus());
    return std::make_unique<UnavailableHotKeyGrabber>();
}

/// Brings \a window to the front, shown and not minimised.
void bringToFront(QWidget &window)
{
    window.show();
    window.setWindowState(window.windowState() & ~Qt::WindowMinimized);
    window.raise();
    window.activateWindow();
}

/// Quits when the library window closes and no tray keeps the program reachable.
class CloseWithoutTray : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Close && !QSystemTrayIcon::isSystemTrayAvailable())
            QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
        return QObject::eventFilter(watched, event);
    }
};

int signalPipe[2] = {-1, -1};

void onQuitSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(signalPipe[1], &byte, 1);
}

/// SIGTERM and SIGINT (a session that ends, a terminal's Ctrl+C) quit through the event loop,
/// so a running take is saved.
void quitOnSignals(QObject &context)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0)
        return;
    auto *notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &context);
    QObject::connect(notifier, &QSocketNotifier::activated, &context, [notifier] {
        char byte;
        [[maybe_unused]] const auto read = ::read(signalPipe[0], &byte, 1);
        notifier->setEnabled(false);
        QCoreApplication::quit();
    });
    struct sigaction action = {};
    action.sa_handler = onQuitSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
}
} // namespace

int main(int argc, char *argv[])
{
    if (answeredInformation(argc, argv))
        return 0;
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Vespertone"));
    QApplication::setApplicationName(QStringLiteral("Vespertone"));
    QApplication::setDesktopFileName(QStringLiteral("vespertone"));
    QApplication::setQuitOnLastWindowClosed(false);

    // A second launch hands its request to the running instance and ends.
    InstanceChannel channel;
    const auto request = InstanceChannel::requestFor(QApplication::arguments());
    if (channel.send(request))
        return 0;
    if (!channel.listen())
        qCWarning(lcPlatform) << "No other launch can reach this one: the channel" << channel.path()
                              << "is not private to this user or cannot be made.";

    configureFFmpegLogging();
    QSettings settings;
    SystemClock clock;
    FreedesktopTrash trash;
    WidgetDialogs dialogs;
    PulseSoundServer soundServer;
    XcbForegroundApplicationMonitor foregroundMonitor;
    XcbDesktopWindows windows;
    MprisMediaPlayers mediaPlayers;
    BrowserSessionFiles browserSessions;
    QtFolderWatcher folderWatcher;
    // Jobs on the thread pool may hold any of the objects above: they end before those go.
    const auto drainPool = qScopeGuard([] { QThreadPool::globalInstance()->waitForDone(); });
    StoreEnvironment environment{&settings,    &clock, &trash,       &dialogs,
                                 std::nullopt, {},     &soundServer, &foregroundMonitor};
    environment.showRememberedLibrary = true;
    environment.prepareWaveforms = true;
    environment.windows = &windows;
    environment.mediaPlayers = &mediaPlayers;
    environment.browserSessions = &browserSessions;
    environment.folderWatcher = &folderWatcher;
    RecordingLibraryStore store(environment);

    ThemeController theme(store.settings());
    ApplicationAppearance appearance(theme);
    LibraryWindow window(store, theme);
    window.setObjectName(QStringLiteral("library"));
    dialogs.setParentWindow(&window);
    CloseWithoutTray closeWatcher;
    window.installEventFilter(&closeWatcher);
    const auto grabber = makeHotKeyGrabber();
    HotKeyStore hotKeys(store.settings(), *grabber);
    SettingsView settingsView(store, hotKeys, theme);
    TrayMenu tray(store, hotKeys,
                  {[&window] { bringToFront(window); }, [&settingsView] { bringToFront(settingsView); },
                   [&store] { store.promptImportURL(); }, [] { QCoreApplication::quit(); }});
    QObject::connect(&window, &LibraryWindow::settingsRequested, &settingsView,
                     [&settingsView] { bringToFront(settingsView); });
    tray.applyTheme(theme.theme());
    QObject::connect(&theme, &ThemeController::themeChanged, &tray, &TrayMenu::applyTheme);
    if (QSystemTrayIcon::isSystemTrayAvailable())
        tray.trayIcon().show();

    const auto serve = [&](InstanceChannel::Request asked) {
        if (asked == InstanceChannel::Request::toggleRecording)
            tray.recordSystemAudio();
        else
            bringToFront(window);
    };
    QObject::connect(&channel, &InstanceChannel::requested, &tray, serve);
    if (request == InstanceChannel::Request::toggleRecording) {
        // The first take waits for the start-up scan and the recovery of left-over takes.
        QObject::connect(
            &store, &RecordingLibraryStore::recoveryFinished, &tray, [&tray] { tray.recordSystemAudio(); },
            Qt::SingleShotConnection);
    } else {
        bringToFront(window);
    }
    quitOnSignals(app);
    // A take still running is saved before the program ends.
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &store, [&store] { runToEnd(store.shutDown()); });
    return app.exec();
}
