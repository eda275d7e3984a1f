// vespertone: the desktop program.

#include "media/FFmpegLogging.h"
#include "platform/FreedesktopTrash.h"
#include "platform/PulseSoundServer.h"
#include "platform/SystemClock.h"
#include "platform/XcbForegroundApplicationMonitor.h"
#include "store/RecordingLibraryStore.h"
#include "ui/LibraryWindow.h"
#include "ui/WidgetDialogs.h"

#include <QApplication>
#include <QSettings>

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
    RecordingLibraryStore store(
        {&settings, &clock, &trash, &dialogs, std::nullopt, {}, &soundServer, &foregroundMonitor});

    LibraryWindow window(store);
    dialogs.setParentWindow(&window);
    window.show();
    window.raise();
    window.activateWindow();
    return app.exec();
}
