#include "ui/library/SidebarSortColumn.h"

#include "base/RawValues.h"

namespace SidebarSortColumns {

QString rawValue(SidebarSortColumn column)
{
    switch (column) {
    case SidebarSortColumn::title: return QStringLiteral("title");
    case SidebarSortColumn::date: return QStringLiteral("date");
    case SidebarSortColumn::bpm: return QStringLiteral("bpm");
    case SidebarSortColumn::key: return QStringLiteral("key");
    }
    return QStringLiteral("date");
}

std::optional<SidebarSortColumn> fromRawValue(const QString &raw)
{
    return caseForRawValue(all, raw, [](auto value) { return rawValue(value); });
}

QString headerTitle(SidebarSortColumn column)
{
    switch (column) {
    case SidebarSortColumn::title: return QStringLiteral("Name");
    case SidebarSortColumn::date: return QStringLiteral("Date");
    case SidebarSortColumn::bpm: return QStringLiteral("BPM");
    case SidebarSortColumn::key: return QStringLiteral("Key");
    }
    return QStringLiteral("Date");
}

bool startsAscending(SidebarSortColumn column)
{
    return column != SidebarSortColumn::date;
}

} // namespace SidebarSortColumns
