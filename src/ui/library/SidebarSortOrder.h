#pragma once

#include "ui/library/SidebarSortColumn.h"

#include <QCollator>
#include <QVector>

struct RecordingItem;
class StoreSettings;

/// The sidebar's sort column and direction, kept in settings, and the order they give.
class SidebarSortOrder {
public:
    /// The order stored in \a settings: an absent or unknown column is the date, descending by default.
    explicit SidebarSortOrder(const StoreSettings &settings);
    SidebarSortOrder(SidebarSortColumn column, bool ascending);

    [[nodiscard]] SidebarSortColumn column() const { return m_column; }
    [[nodiscard]] bool isAscending() const { return m_ascending; }
    /// A header was clicked: a new column takes its starting direction, the current one flips.
    void choose(SidebarSortColumn column);
    /// Writes the column and direction to \a settings; throws AppError when they cannot be saved.
    void save(StoreSettings &settings) const;

    /// True when \a a is listed above \a b; ties on the column put the newer recording first.
    [[nodiscard]] bool comesBefore(const RecordingItem &a, const RecordingItem &b) const;
    /// \a items in this order; items that compare equal keep their order.
    [[nodiscard]] QVector<RecordingItem> sorted(QVector<RecordingItem> items) const;

private:
    /// Negative, zero or positive as \a a is smaller than, like or larger than \a b by the column.
    [[nodiscard]] int compare(const RecordingItem &a, const RecordingItem &b) const;

    SidebarSortColumn m_column = SidebarSortColumn::date;
    bool m_ascending = false;
    QCollator m_collator;
};
