#include "ui/library/SidebarSortOrder.h"

#include "library/RecordingItem.h"
#include "store/StoreSettings.h"

#include <QFileInfo>
#include <algorithm>
#include <numeric>
#include <vector>

namespace {
/// Present values first, in their own order; two missing values are alike.
template <typename T, typename Compare>
int compareOptional(const std::optional<T> &a, const std::optional<T> &b, Compare compare)
{
    if (a && b)
        return compare(*a, *b);
    return int(!a) - int(!b);
}

/// The user's locale for comparing names; the C locale compares plain code points and ignores
/// numbers, so it gives way to English there.
QLocale collationLocale()
{
    const QLocale locale;
    return locale.language() == QLocale::C ? QLocale(QLocale::English, QLocale::UnitedStates) : locale;
}

QString title(const RecordingItem &item)
{
    return QFileInfo(item.url).completeBaseName();
}
} // namespace

SidebarSortOrder::SidebarSortOrder(const StoreSettings &settings)
    : SidebarSortOrder(
        SidebarSortColumns::fromRawValue(settings.text(StoreSettings::sortColumnKey)).value_or(SidebarSortColumn::date),
        settings.flag(StoreSettings::sortAscendingKey, false))
{}

SidebarSortOrder::SidebarSortOrder(SidebarSortColumn column, bool ascending)
    : m_column(column), m_ascending(ascending), m_collator(collationLocale())
{
    m_collator.setNumericMode(true);
    m_collator.setCaseSensitivity(Qt::CaseInsensitive);
}

void SidebarSortOrder::choose(SidebarSortColumn column)
{
    if (column == m_column) {
        m_ascending = !m_ascending;
        return;
    }
    m_column = column;
    m_ascending = SidebarSortColumns::startsAscending(column);
}

void SidebarSortOrder::save(StoreSettings &settings) const
{
    settings.setText(StoreSettings::sortColumnKey, SidebarSortColumns::rawValue(m_column));
    settings.setFlag(StoreSettings::sortAscendingKey, m_ascending);
}

int SidebarSortOrder::compare(const RecordingItem &a, const RecordingItem &b) const
{
    switch (m_column) {
    case SidebarSortColumn::title: return m_collator.compare(title(a), title(b));
    case SidebarSortColumn::date: return a.createdAt < b.createdAt ? -1 : b.createdAt < a.createdAt ? 1 : 0;
    case SidebarSortColumn::bpm:
        return compareOptional(a.metadata.bpm, b.metadata.bpm, [](double x, double y) { return (x > y) - (x < y); });
    case SidebarSortColumn::key:
        return compareOptional(a.metadata.musicalKey, b.metadata.musicalKey,
                               [](const QString &x, const QString &y) { return QString::compare(x, y); });
    }
    return 0;
}

bool SidebarSortOrder::comesBefore(const RecordingItem &a, const RecordingItem &b) const
{
    const int order = compare(a, b);
    if (order == 0)
        return a.createdAt > b.createdAt;
    return m_ascending ? order < 0 : order > 0;
}

QVector<RecordingItem> SidebarSortOrder::sorted(QVector<RecordingItem> items) const
{
    // Each item's key is made once: collation keys and epoch times compare far faster than
    // names through the collator and date-times through their time zones.
    const auto count = std::size_t(items.size());
    std::vector<qint64> created(count);
    std::vector<QCollatorSortKey> titles;
    for (std::size_t i = 0; i < count; ++i) {
        created[i] = items[qsizetype(i)].createdAt.toMSecsSinceEpoch();
        if (m_column == SidebarSortColumn::title)
            titles.push_back(m_collator.sortKey(title(items[qsizetype(i)])));
    }
    const auto byColumn = [&](std::size_t a, std::size_t b) {
        switch (m_column) {
        case SidebarSortColumn::title: return titles[a].compare(titles[b]);
        case SidebarSortColumn::date: return (created[a] > created[b]) - (created[a] < created[b]);
        default: return compare(items[qsizetype(a)], items[qsizetype(b)]);
        }
    };
    std::vector<std::size_t> order(count);
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        const int by = byColumn(a, b);
        if (by == 0)
            return created[a] > created[b];
        return m_ascending ? by < 0 : by > 0;
    });
    QVector<RecordingItem> result;
    result.reserve(items.size());
    for (const auto index : order)
        result.append(std::move(items[qsizetype(index)]));
    return result;
}
