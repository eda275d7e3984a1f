#include "ui/library/RecordingListModel.h"

#include "library/Formatters.h"
#include "store/RecordingLibraryStore.h"

#include <QFileInfo>
#include <QHash>
#include <QMimeData>
#include <QUrl>
#include <cmath>
#include <limits>

namespace {
QString bpmText(const std::optional<double> &bpm)
{
    if (!bpm || !std::isfinite(*bpm) || std::abs(*bpm) > double(std::numeric_limits<int>::max()))
        return QStringLiteral("-");
    return QString::number(std::llround(*bpm));
}

QSet<QString> idsOf(const QVector<RecordingItem> &items)
{
    QSet<QString> ids;
    for (const auto &item : items)
        ids.insert(item.id());
    return ids;
}
} // namespace

RecordingListModel::RecordingListModel(RecordingLibraryStore &store, SidebarSortOrder order, QObject *parent)
    : QAbstractListModel(parent), m_store(store), m_order(std::move(order))
{
    m_items = m_order.sorted(m_store.recordings());
    connect(&m_store, &RecordingLibraryStore::recordingsChanged, this, &RecordingListModel::update);
}

void RecordingListModel::setOrder(SidebarSortOrder order)
{
    m_order = std::move(order);
    update();
}

int RecordingListModel::row(const QString &id) const
{
    for (int row = 0; row < m_items.size(); ++row) {
        if (m_items[row].id() == id)
            return row;
    }
    return -1;
}

void RecordingListModel::update()
{
    const auto next = m_order.sorted(m_store.recordings());
    m_updating = true;
    removeVanished(next);
    reorderSurvivors(next);
    insertArrivals(next);
    for (int row = 0; row < next.size(); ++row) {
        if (m_items[row] != next[row]) {
            m_items[row] = next[row];
            emit dataChanged(index(row), index(row));
        }
    }
    m_updating = false;
}

void RecordingListModel::removeVanished(const QVector<RecordingItem> &next)
{
    const auto kept = idsOf(next);
    for (int last = int(m_items.size()) - 1; last >= 0; --last) {
        if (kept.contains(m_items[last].id()))
            continue;
        int first = last;
        while (first > 0 && !kept.contains(m_items[first - 1].id()))
            --first;
        beginRemoveRows({}, first, last);
        m_items.remove(first, last - first + 1);
        endRemoveRows();
        last = first;
    }
}

void RecordingListModel::reorderSurvivors(const QVector<RecordingItem> &next)
{
    // Every row left is in next, so next filtered to them is their new order.
    QHash<QString, int> oldRow;
    oldRow.reserve(m_items.size());
    for (int row = 0; row < m_items.size(); ++row)
        oldRow.insert(m_items[row].id(), row);
    QVector<int> sources;
    sources.reserve(m_items.size());
    for (const auto &item : next) {
        if (const auto found = oldRow.constFind(item.id()); found != oldRow.cend())
            sources.append(*found);
    }
    if (std::is_sorted(sources.begin(), sources.end()))
        return;
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    QVector<RecordingItem> reordered;
    reordered.reserve(m_items.size());
    QVector<int> newRow(m_items.size());
    for (int row = 0; row < sources.size(); ++row) {
        reordered.append(std::move(m_items[sources[row]]));
        newRow[sources[row]] = row;
    }
    m_items = std::move(reordered);
    const auto before = persistentIndexList();
    QModelIndexList after;
    for (const auto &index : before)
        after << (index.isValid() ? this->index(newRow.value(index.row())) : index);
    changePersistentIndexList(before, after);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void RecordingListModel::insertArrivals(const QVector<RecordingItem> &next)
{
    // The survivors now stand in their final order, so any mismatch is a run of new rows.
    for (int row = 0; row < next.size(); ++row) {
        if (row < m_items.size() && m_items[row].id() == next[row].id())
            continue;
        int end = row + 1;
        while (end < next.size() && (row >= m_items.size() || next[end].id() != m_items[row].id()))
            ++end;
        beginInsertRows({}, row, end - 1);
        m_items.insert(row, end - row, RecordingItem{});
        std::copy(next.begin() + row, next.begin() + end, m_items.begin() + row);
        endInsertRows();
        row = end - 1;
    }
}

int RecordingListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_items.size());
}

QVariant RecordingListModel::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const auto &item = m_items[index.row()];
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole: return QFileInfo(item.url).completeBaseName();
    case ItemRole: return QVariant::fromValue(item);
    case IdRole: return item.id();
    case DateTextRole: return AppDateFormatters::sidebarDate(item.createdAt);
    case BpmTextRole: return bpmText(item.metadata.bpm);
    case KeyTextRole: return item.metadata.musicalKey.value_or(QStringLiteral("-"));
    default: return {};
    }
}

Qt::ItemFlags RecordingListModel::flags(const QModelIndex &index) const
{
    return QAbstractListModel::flags(index) | (index.isValid() ? Qt::ItemIsDragEnabled : Qt::NoItemFlags);
}

QStringList RecordingListModel::mimeTypes() const
{
    return {QStringLiteral("text/uri-list")};
}

QMimeData *RecordingListModel::mimeData(const QModelIndexList &indexes) const
{
    QList<QUrl> urls;
    for (const auto &index : indexes) {
        if (index.isValid())
            urls << QUrl::fromLocalFile(m_items[index.row()].url);
    }
    if (urls.isEmpty())
        return nullptr;
    auto *data = new QMimeData; // handed to the caller, as Qt's drag machinery expects
    data->setUrls(urls);
    return data;
}

Qt::DropActions RecordingListModel::supportedDragActions() const
{
    return Qt::CopyAction;
}
