#pragma once

#include "hotkeys/HotKeyStore.h"
#include "platform/ForegroundApplicationMonitor.h"
#include "platform/FreedesktopTrash.h"
#include "platform/PulseSoundServer.h"
#include "platform/QtFolderWatcher.h"
#include "platform/SystemClock.h"
#include "store/RecordingLibraryStore.h"
#include "support/ScriptedHotKeyGrabber.h"
#include "ui/common/WidgetDialogs.h"
#include "ui/library/LibraryWindow.h"
#include "ui/settings/SettingsView.h"
#include "ui/style/ThemeController.h"
#include "ui/tray/TrayMenu.h"

#include <QAbstractButton>
#include <QSettings>
#include <QTemporaryDir>
#include <memory>

class QListView;
class QMenu;

/// The program as a person meets it, in one process: the real store over a private library
/// folder and settings file, the real Qt dialogs, Trash and sound server, the library window,
/// settings window and tray menu wired as the program wires them. Closing and opening again
/// is a restart that keeps the folder, the settings and the Trash.
class Journey {
public:
    /// \a grabber takes the global hotkeys; none means a scripted one.
    explicit Journey(HotKeyGrabber *grabber = nullptr);
    ~Journey();

    /// Starts the program and waits until its library is listed; false when it did not start.
    [[nodiscard]] bool open();
    /// Ends the program as quitting does: a running take is saved first.
    void close();

    [[nodiscard]] QString library() const { return m_root.filePath(QStringLiteral("Library")); }
    [[nodiscard]] QString path(const QString &name) const { return library() + u'/' + name; }
    [[nodiscard]] QString scratch(const QString &name) const { return m_root.filePath(name); }
    [[nodiscard]] QSettings &settings() const { return *m_settings; }
    /// The folder holding lame and, once added, an extractor.
    [[nodiscard]] QString encoders() const { return m_root.filePath(QStringLiteral("Encoders")); }

    [[nodiscard]] RecordingLibraryStore &store() const { return *m_store; }
    [[nodiscard]] LibraryWindow &window() const { return *m_window; }
    [[nodiscard]] SettingsView &settingsWindow() const { return *m_settingsView; }
    [[nodiscard]] TrayMenu &tray() const { return *m_tray; }
    [[nodiscard]] ThemeController &theme() const { return *m_theme; }
    [[nodiscard]] HotKeyStore &hotKeys() const { return *m_hotKeys; }

    /// The names shown in the sidebar, top to bottom.
    [[nodiscard]] QStringList rows() const;
    /// The names of the selected rows.
    [[nodiscard]] QStringList selectedRows() const;
    /// The text of the status pill, empty when it shows none.
    [[nodiscard]] QString pill() const;
    /// True when a visible label or button in \a widget reads \a text.
    [[nodiscard]] static bool shows(const QWidget &widget, const QString &text);

    /// Clicks the visible button of \a window whose text, accessible name or tip is \a name.
    static bool click(QWidget &window, const QString &name);
    /// Clicks the row named \a name, with \a modifiers held; false when no row has that name.
    bool clickRow(const QString &name, Qt::KeyboardModifiers modifiers = {});
    /// Right-clicks the row named \a name and chooses \a item from its context menu.
    bool chooseFromRowMenu(const QString &name, const QString &item);
    /// Chooses \a item from the tray menu, opened as a click on the icon opens it.
    bool chooseFromTray(const QString &item);

private:
    [[nodiscard]] QListView &list() const;

    QTemporaryDir m_root;
    std::unique_ptr<QSettings> m_settings;
    SystemClock m_clock;
    FreedesktopTrash m_trash;
    WidgetDialogs m_dialogs;
    PulseSoundServer m_soundServer;
    ForegroundApplicationMonitor m_monitor;
    QtFolderWatcher m_folderWatcher;
    ScriptedHotKeyGrabber m_scriptedGrabber;
    HotKeyGrabber *m_grabber;
    std::unique_ptr<RecordingLibraryStore> m_store;
    std::unique_ptr<ThemeController> m_theme;
    std::unique_ptr<LibraryWindow> m_window;
    std::unique_ptr<HotKeyStore> m_hotKeys;
    std::unique_ptr<SettingsView> m_settingsView;
    std::unique_ptr<TrayMenu> m_tray;
};

/// Answers to the dialog that is open now, typed and clicked as a person does; each waits for
/// the dialog to appear and fails the check when it does not.
namespace Answer {
/// Types \a text into the text dialog and presses Enter.
bool text(const QString &text);
/// Presses Escape in the dialog that is open.
bool cancel();
/// Pastes \a folder into the folder dialog's name field and clicks its accept button.
bool folder(const QString &folder);
/// Clicks \a button of the message box; its message is returned in \a message.
bool button(const QString &button, QString *message = nullptr);
} // namespace Answer

/// Files in the freedesktop Trash of the test's home: the original paths their info files
/// name, for those whose trashed file is there too.
QStringList trashedPaths();
