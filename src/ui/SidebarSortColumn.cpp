#include "ui/SidebarSortColumn.h"

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
    for (auto column : all) {
        if (rawValue(column) == raw)
            return column;
    }
    return std::nullopt;
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
