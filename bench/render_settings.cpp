// render_settings: draws the settings window (also with its format popup open), the tray menu and
// the tray icons on a dark and a light panel to PNG files, in both themes at 1x and 2x, for looking
// at the layout without a display.

#include "hotkeys/HotKeyStore.h"
#include "platform/FreedesktopTrash.h"
#include "platform/HotKeyGrabber.h"
#include "platform/SystemClock.h"
#include "store/RecordingLibraryStore.h"
#include "support/BenchSupport.h"
#include "ui/common/WidgetDialogs.h"
#include "ui/settings/SettingsView.h"
#include "ui/style/ApplicationAppearance.h"
#include "ui/style/ThemeController.h"
#include "ui/tray/TrayMenu.h"

#include <QApplication>
#include <QComboBox>
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
    for (int turn = 0; turn < 4; ++turn)
        QCoreApplication::processEvents();
    for (const int scale : {1, 2}) {
        const auto file = out.filePath(QStringLiteral("%1-%2x.png").arg(name).arg(scale));
        if (!BenchSupport::composite(widget, scale).save(file))
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
        ApplicationAppearance appearance(theme);
        SettingsView view(store, hotKeys, theme);
        view.show();
        save(view, out, QStringLiteral("settings-%1").arg(AppThemeChoices::rawValue(choice)));
        auto *format = view.findChild<QComboBox *>();
        format->showPopup();
        save(view, out, QStringLiteral("settings-popup-%1").arg(AppThemeChoices::rawValue(choice)));
        format->hidePopup();
        tray.applyTheme(choice);
        emit tray.menu().aboutToShow();
        tray.menu().popup(QPoint(0, 0));
        save(tray.menu(), out, QStringLiteral("tray-%1").arg(AppThemeChoices::rawValue(choice)));
        tray.menu().hide();
        const auto iconFile = out.filePath(QStringLiteral("tray-icons-%1.png").arg(AppThemeChoices::rawValue(choice)));
        // Each icon at the panel sizes, on a dark panel above and a light one below.
        QPixmap icons(380, 96);
        QPainter painter(&icons);
        painter.fillRect(0, 0, 380, 48, QColor(40, 40, 44));
        painter.fillRect(0, 48, 380, 48, QColor(236, 236, 238));
        for (const int panel : {0, 48}) {
            int x = 8;
            for (const auto activity :
                 {TrayMenu::Activity::idle, TrayMenu::Activity::listening, TrayMenu::Activity::recording}) {
                for (const int size : {16, 22, 32}) {
                    painter.drawPixmap(x, panel + (48 - size) / 2, TrayMenu::icon(activity, choice).pixmap(size, size));
                    x += size + 12;
                }
                x += 16;
            }
        }
        painter.end();
        icons.save(iconFile);
    }
    return 0;
}
