#pragma once

#include <QRectF>

/// Where the sidebar's header titles and row texts go, so the two line up: the icon column,
/// then name, date, tempo and key, 8 points apart, the name taking what is left.
struct SidebarColumns {
    static constexpr double spacing = 8;
    static constexpr double iconWidth = 18;
    static constexpr double titleMinimumWidth = 130;
    static constexpr double dateWidth = 96;
    static constexpr double bpmWidth = 54;
    static constexpr double keyWidth = 70;
    /// Space between the list's edges and the first and last column.
    static constexpr double sideInset = 12;

    QRectF icon;
    QRectF title;
    QRectF date;
    QRectF bpm;
    QRectF key;

    /// The columns within \a content (already inset); the name never gets less than its minimum.
    [[nodiscard]] static SidebarColumns within(const QRectF &content);
};
