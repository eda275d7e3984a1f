#pragma once

#include "ui/style/AppThemeChoice.h"

#include <QPointer>
#include <QWidget>

class EmptyLibraryView;
class MultiSelectionView;
class QSplitter;
class QStackedWidget;
class RecordingDetailView;
class RecordingEditor;
class RecordingInProgressView;
class RecordingLibraryStore;
class SidebarView;
class StatusPill;
class ThemeController;

/// The library window's content: the sidebar beside a detail pane that shows the live take, the
/// several selected takes, the one selected take or the empty library, with the status pill below.
class ContentView : public QWidget {
    Q_OBJECT
public:
    /// What the detail pane shows.
    enum class Detail { recording, multiSelection, single, empty };

    /// \a store and \a themes outlive the view.
    ContentView(RecordingLibraryStore &store, ThemeController &themes, QWidget *parent = nullptr);

    void setTheme(AppThemeChoice theme);
    [[nodiscard]] Detail detail() const { return m_detail; }
    [[nodiscard]] QWidget *detailView() const;
    [[nodiscard]] SidebarView *sidebar() const { return m_sidebar; }
    [[nodiscard]] StatusPill *statusPill() const { return m_pill; }
    /// The editor of the selected take; it lives as long as the view.
    [[nodiscard]] RecordingEditor &editor() const { return *m_editor; }
    /// Asks to move the selected recordings to the trash.
    void confirmDeleteSelection();
    /// True while the store works: importing, analysing, trimming or taking.
    [[nodiscard]] bool isBusy() const;

private:
    void showDetail();
    void showStatus();

    RecordingLibraryStore &m_store;
    AppThemeChoice m_theme;
    SidebarView *m_sidebar;
    QStackedWidget *m_details;
    EmptyLibraryView *m_empty;
    MultiSelectionView *m_multi;
    RecordingEditor *m_editor;
    RecordingDetailView *m_single;
    QPointer<RecordingInProgressView> m_live;
    StatusPill *m_pill;
    Detail m_detail = Detail::empty;
};
