#pragma once

#include <QMainWindow>

class AppGlassBackground;
class QAction;
class ContentView;
class MicrophoneToolbarLabel;
class QToolButton;
class RecordMenu;
class RecordToolbarLabel;
class RecordingLibraryStore;
class ShareMenu;
class ThemeController;

/// The library window: the toolbar of every top-level command over the content view.
class LibraryWindow : public QMainWindow {
    Q_OBJECT
public:
    /// \a store and \a theme outlive the window.
    LibraryWindow(RecordingLibraryStore &store, ThemeController &theme, QWidget *parent = nullptr);

    [[nodiscard]] ContentView *content() const { return m_content; }

signals:
    /// The Settings item was chosen.
    void settingsRequested();

protected:
    void resizeEvent(QResizeEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void buildToolbar();
    [[nodiscard]] QToolButton *addItem(const QString &name, int glyph, const QString &help);
    void applyTheme();
    /// Keeps the window, and its minimum size, within the available part of its screen.
    void fitToScreen();
    void showRecordingState();
    void showSelection();
    void showKeptWindow();
    void popUpRecordMenu();

    RecordingLibraryStore &m_store;
    ThemeController &m_theme;
    AppGlassBackground *m_background;
    ContentView *m_content;
    RecordToolbarLabel *m_recordSystem = nullptr;
    MicrophoneToolbarLabel *m_recordMicrophone = nullptr;
    RecordMenu *m_recordMenu = nullptr;
    QToolButton *m_saveKept = nullptr;
    QAction *m_saveKeptItem = nullptr;
    QToolButton *m_import = nullptr;
    QAction *m_importItem = nullptr;
    QAction *m_importSpinnerItem = nullptr;
    QToolButton *m_share = nullptr;
    ShareMenu *m_shareMenu = nullptr;
    bool m_refreshedOnShow = false;
};
