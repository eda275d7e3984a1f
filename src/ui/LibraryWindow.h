#pragma once

#include <QMainWindow>

class QAction;
class QLabel;
class RecordingLibraryStore;
class SidebarView;
class ThemeController;

/// The library window: record toggles, the recording sidebar and the status line.
class LibraryWindow : public QMainWindow {
    Q_OBJECT
public:
    /// \a store and \a theme outlive the window.
    LibraryWindow(RecordingLibraryStore &store, ThemeController &theme, QWidget *parent = nullptr);

private:
    void applyTheme();
    void showStatus();
    void showRecordingState();

    RecordingLibraryStore &m_store;
    ThemeController &m_theme;
    SidebarView *m_sidebar = nullptr;
    QLabel *m_status = nullptr;
    QLabel *m_elapsed = nullptr;
    QAction *m_recordMac = nullptr;
    QAction *m_recordMic = nullptr;
};
