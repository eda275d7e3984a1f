#pragma once

#include "ui/library/SidebarSortColumn.h"
#include "ui/style/AppThemeChoice.h"

#include <QAbstractButton>

/// One sort button of the sidebar's header row: its title and, on the active column, a chevron
/// pointing up when ascending and down when descending.
class SortHeader : public QAbstractButton {
    Q_OBJECT
public:
    explicit SortHeader(SidebarSortColumn column, QWidget *parent = nullptr);

    [[nodiscard]] SidebarSortColumn column() const { return m_column; }
    /// Shows the sort in force: \a active is the column sorted by.
    void showSort(SidebarSortColumn active, bool ascending);
    void setTheme(AppThemeChoice theme);
    /// True when this column is the one sorted by.
    [[nodiscard]] bool isActive() const { return m_active; }
    /// True when the chevron points up; meaningful only while active.
    [[nodiscard]] bool isAscending() const { return m_ascending; }

    [[nodiscard]] QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    SidebarSortColumn m_column;
    AppThemeChoice m_theme = AppThemeChoice::gothic;
    bool m_active = false;
    bool m_ascending = false;
};
