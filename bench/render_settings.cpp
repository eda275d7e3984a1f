// render_settings: draws the settings window and the tray menu to PNG files, in both themes at
// 1x and 2x, for looking at the layout without a display.

#include "hotkeys/HotKeyStore.h"
#include "platform/FreedesktopTrash.h"
#include "platform/HotKeyGrabber.h"
#include "platform/SystemClock.h"
#include "store/RecordingLibraryStore.h"
#include "support/BenchSupport.h"
#include "ui/common/WidgetDialogs.h"
#include "ui/settings/SettingsView.h"
#include "ui/style/ThemeController.h"
#include "ui/tray/TrayMenu.h"

#include <QApplication>
#include <QDir>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QSettings>
#include <QTemporaryDir>
#include <cstdio>

namespace {
void save(QWidget &widget, const QDir &out, const QString &name)
{
    for (const int scale : {1, 2}) {
        QPixmap pixmap(widget.size() * scale);
        pixmap.setDevicePixelRatio(scale);
        pixmap.fill(Qt::transparent);
        widget.render(&pixmap);
        const auto file = out.filePath(QStringLiteral("%1-%2x.png").arg(name).arg(scale));
        if (!pixmap.save(file))
            qFatal("cannot save %s", qPrintable(file));
        std::printf("%s\n", qPrintable(file));
    }
}
} // namespace

int main(int argc, char *argv[])
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: render_settings OUTDIR\n");
        return 2;
    }
    BenchSupport::preferOffscreen();
    QApplication app(argc, argv);
    const QDir out(QString::fromLocal8Bit(argv[1]));
    QDir().mkpath(out.path());

    QTemporaryDir root;
    QSettings settings(root.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat);
    SystemClock clock;
    FreedesktopTrash trash;
    WidgetDialogs dialogs;
    const auto folder = root.filePath(QStringLiteral("Music/Vespertone"));
    RecordingLibraryStore store({&settings, &clock, &trash, &dialogs, folder, {}});
    UnavailableHotKeyGrabber grabber;
    HotKeyStore hotKeys(store.settings(), grabber);
    TrayMenu tray(store, hotKeys, {[] {}, [] {}, {}, [] {}});
    store.setStatusMessage(QStringLiteral("Saved Vespertone 2024-05-01 21.14.09_bpm_124.m4a"));
    for (auto choice : AppThemeChoices::all) {
        ThemeController theme(store.settings());
        theme.setTheme(choice);
        SettingsView view(store, hotKeys, theme);
        view.show();
        for (int turn = 0; turn < 4; ++turn)
            QCoreApplication::processEvents();
        save(view, out, QStringLiteral("settings-%1").arg(AppThemeChoices::rawValue(choice)));
        tray.applyTheme(choice);
        emit tray.menu().aboutToShow();
        tray.menu().popup(QPoint(0, 0));
        for (int turn = 0; turn < 4; ++turn)
            QCoreApplication::processEvents();
        save(tray.menu(), out, QStringLiteral("tray-%1").arg(AppThemeChoices::rawValue(choice)));
        tray.menu().hide();
        const auto iconFile = out.filePath(QStringLiteral("tray-icons-%1.png").arg(AppThemeChoices::rawValue(choice)));
        QPixmap icons(112, 48);
        icons.fill(QColor(40, 40, 44));
        QPainter painter(&icons);
        painter.drawPixmap(8, 8, TrayMenu::icon(false).pixmap(32, 32));
        painter.drawPixmap(56, 8, TrayMenu::icon(true).pixmap(32, 32));
        painter.end();
        icons.save(iconFile);
    }
    return 0;
}
