#pragma once

#include "ui/style/AppThemeChoice.h"

#include <QObject>
#include <functional>
#include <memory>
#include <optional>

class HotKeyStore;
class QAction;
class QIcon;
class QMenu;
class QSystemTrayIcon;
class RecordingLibraryStore;
struct CaptureTarget;

/// The tray icon and its menu: record toggles (an application's among them), saving the kept
/// window, the status, library and folder commands. Each time the menu appears, and once at
/// start, it wires the global hotkeys to its own actions.
class TrayMenu : public QObject {
    Q_OBJECT
public:
    /// What the menu asks of the program around it.
    struct Commands {
        std::function<void()> openLibrary;  ///< shows the library window in front
        std::function<void()> openSettings; ///< shows the settings window in front
        std::function<void()> importURL;    ///< asks for an address to import; none hides nothing, disables the item
        std::function<void()> quit;
    };

    /// \a store and \a hotKeys outlive the menu.
    TrayMenu(RecordingLibraryStore &store, HotKeyStore &hotKeys, Commands commands, QObject *parent = nullptr);
    ~TrayMenu() override;

    [[nodiscard]] QMenu &menu() const { return *m_menu; }
    [[nodiscard]] QSystemTrayIcon &trayIcon() const { return *m_tray; }
    /// Points the hotkeys at the system-audio record action, the library and saving the kept
    /// window, and registers them.
    void wireHotKeys();
    /// Starts a system-audio take (showing the library first) or stops the running one.
    void recordSystemAudio();
    /// The same for the microphone.
    void recordMicrophone();
    /// The same for the application \a target names.
    void recordApplication(const CaptureTarget &target);
    /// Saves what the kept window holds as a take.
    void saveKeptWindow();
    /// Gives the menus the dark appearance of \a theme and the icon its accent.
    void applyTheme(AppThemeChoice theme);
    /// What the tray icon shows.
    enum class Activity { idle, listening, recording };
    /// The tray icon, a filled disc that reads on light and dark panels: red with a white dot
    /// while recording, else the theme's accent with a white waveform, ringed while listening.
    [[nodiscard]] static QIcon icon(Activity activity, AppThemeChoice theme = AppThemeChoice::gothic);

private:
    void refresh();
    void rebuildApplications();
    void record(const CaptureTarget &target);

    RecordingLibraryStore &m_store;
    HotKeyStore &m_hotKeys;
    Commands m_commands;
    std::unique_ptr<QMenu> m_menu;
    QSystemTrayIcon *m_tray = nullptr;
    QAction *m_elapsed = nullptr;
    QAction *m_status = nullptr;
    QAction *m_recordSystem = nullptr;
    QAction *m_recordMicrophone = nullptr;
    QMenu *m_applications = nullptr;
    QAction *m_saveKept = nullptr;
    QAction *m_import = nullptr;
    std::optional<Activity> m_shownActivity;
    AppThemeChoice m_theme = AppThemeChoice::gothic;
};
