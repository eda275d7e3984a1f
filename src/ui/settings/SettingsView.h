#pragma once

#include <QWidget>

class HotKeyStore;
class QButtonGroup;
class QComboBox;
class QLabel;
class QVBoxLayout;
class RecordingLibraryStore;
class ShortcutRow;
class ThemeController;

/// The settings window: theme, save folder, format and bit rate, the analysis, the two
/// hotkeys, and the version with the web site. Every change applies at once.
class SettingsView : public QWidget {
    Q_OBJECT
public:
    /// \a store, \a hotKeys and \a theme outlive the window.
    SettingsView(RecordingLibraryStore &store, HotKeyStore &hotKeys, ThemeController &theme, QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    QVBoxLayout *addSection(QVBoxLayout &form, const QString &title);
    QLabel *caption(const QString &text);
    void applyTheme();
    void showFolder();
    void showFormat();
    void showAnalysisMode();
    void showHotKeyMessage();

    RecordingLibraryStore &m_store;
    HotKeyStore &m_hotKeys;
    ThemeController &m_theme;
    QButtonGroup *m_themes = nullptr;
    QLabel *m_themeCaption = nullptr;
    QLabel *m_folder = nullptr;
    QComboBox *m_format = nullptr;
    QComboBox *m_bitRate = nullptr;
    QComboBox *m_analysisMode = nullptr;
    ShortcutRow *m_toggleRow = nullptr;
    ShortcutRow *m_libraryRow = nullptr;
    QLabel *m_hotKeyMessage = nullptr;
    QLabel *m_hotKeyFallback = nullptr;
    QLabel *m_website = nullptr;
};
