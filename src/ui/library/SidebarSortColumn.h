#pragma once

#include <QString>
#include <array>
#include <optional>

/// What the recording sidebar sorts by.
enum class SidebarSortColumn { title, date, bpm, key };

namespace SidebarSortColumns {
/// Every column, in header order.
inline constexpr std::array all{SidebarSortColumn::title, SidebarSortColumn::date, SidebarSortColumn::bpm,
                                SidebarSortColumn::key};

/// The case name, as stored in settings.
[[nodiscard]] QString rawValue(SidebarSortColumn column);
/// Exactly the four raw names, case-sensitive.
[[nodiscard]] std::optional<SidebarSortColumn> fromRawValue(const QString &raw);
/// The header text, e.g. "Name".
[[nodiscard]] QString headerTitle(SidebarSortColumn column);
/// The direction a column starts with when it is chosen: descending for the date, else ascending.
[[nodiscard]] bool startsAscending(SidebarSortColumn column);
} // namespace SidebarSortColumns
