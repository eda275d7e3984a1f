// vespertone: the desktop program.

#include "media/FFmpegLogging.h"
#include "platform/BrowserSessionFiles.h"
#include "platform/FreedesktopTrash.h"
#include "platform/MprisMediaPlayers.h"
#include "platform/PulseSoundServer.h"
#include "platform/SystemClock.h"
#include "platform/XcbDesktopWindows.h"
#include "platform/XcbForegroundApplicationMonitor.h"
#include "store/RecordingLibraryStore.h"
#include "ui/LibraryWindow.h"
#include "ui/ThemeController.h"
#include "ui/WidgetDialogs.h"

#include <QApplication>
#include <QEventLoop>
#include <QSettings>

namespace {
/// Runs \a task to its end; for the way out, when the application's own loop has ended.
void runToEnd(QCoro::Task<> task)
{
    QEventLoop loop;
    bool done = false;
    auto waiting = [&]() -> QCoro::Task<> {
        co_await std::move(task);
        done = true;
        loop.quit();
    }();
    if (!done)
        loop.exec();
}
} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    configureFFmpegLogging();
    QApplication::setOrganizationName(QStringLiteral("Vespertone"));
    QApplication::setApplicationName(QStringLiteral("Vespertone"));
    QApplication::setDesktopFileName(QStringLiteral("vespertone"));

    QSettings settings;
    SystemClock clock;
    FreedesktopTrash trash;
    WidgetDialogs dialogs;
    PulseSoundServer soundServer;
    XcbForegroundApplicationMonitor foregroundMonitor;
    XcbDesktopWindows windows;
    MprisMediaPlayers mediaPlayers;
    BrowserSessionFiles browserSessions;
    StoreEnvironment environment{&settings,    &clock, &trash,       &dialogs,
                                 std::nullopt, {},     &soundServer, &foregroundMonitor};
    environment.windows = &windows;
    environment.mediaPlayers = &mediaPlayers;
    environment.browserSessions = &browserSessions;
    RecordingLibraryStore store(environment);

    ThemeController theme(store.settings());
    LibraryWindow window(store, theme);
    dialogs.setParentWindow(&window);
    window.show();
    window.raise();
    window.activateWindow();
    // A take still running is saved before the program ends.
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &store, [&store] { runToEnd(store.shutDown()); });
    return app.exec();
}
