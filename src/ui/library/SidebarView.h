#pragma once

#include "ui/library/SidebarSortColumn.h"
#include "ui/style/AppThemeChoice.h"

#include <QWidget>
#include <array>

class GothicMasthead;
class QLabel;
class QListView;
class QMenu;
class QVBoxLayout;
class RecordingLibraryStore;
class RecordingListModel;
class RecordingRowDelegate;
class SidebarSortOrder;
class SortHeader;
struct RecordingItem;

/// The library window's left column: every recording of the save folder in a sortable,
/// multi-selectable list whose selection is the store's, with a context menu per row and
/// rows that drag out as files.
class SidebarView : public QWidget {
    Q_OBJECT
public:
    explicit SidebarView(RecordingLibraryStore &store, QWidget *parent = nullptr);

    [[nodiscard]] AppThemeChoice theme() const { return m_theme; }
    /// Restyles the column for \a theme.
    void applyTheme(AppThemeChoice theme);
    [[nodiscard]] const SidebarSortOrder &sortOrder() const;
    /// A header's action: sorts by \a column, or flips the direction when it already does,
    /// and keeps the choice in the settings.
    void setSort(SidebarSortColumn column);
    /// The row menu of \a item, owned by this view and deleted once closed.
    [[nodiscard]] QMenu *contextMenu(const RecordingItem &item);

protected:
    void paintEvent(QPaintEvent *event) override;
    /// A window that comes to the front takes the sort another window may have chosen meanwhile.
    void changeEvent(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void showSelection();
    void takeSelection();
    void showSort();
    void followStoredSort();
    void scheduleHeaderAlignment();
    void alignHeader();
    void openContextMenu(const QPoint &position);

    RecordingLibraryStore &m_store;
    AppThemeChoice m_theme;
    RecordingListModel *m_model = nullptr;
    RecordingRowDelegate *m_delegate = nullptr;
    QListView *m_list = nullptr;
    GothicMasthead *m_masthead = nullptr;
    QLabel *m_title = nullptr;
    QWidget *m_gap = nullptr;
    QWidget *m_header = nullptr;
    std::array<SortHeader *, 4> m_sortHeaders{};
    bool m_applyingSelection = false;
    bool m_takingSelection = false;
    bool m_headerAlignmentPending = false;
};
