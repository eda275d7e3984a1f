#pragma once

#include "library/RecordingItem.h"
#include "ui/library/SidebarSortOrder.h"

#include <QAbstractListModel>

class RecordingLibraryStore;

/// The store's recordings in the sidebar's sort order, one row each. Each store refresh and each
/// new order is applied in place: rows removed, moved, inserted and changed, never reset.
class RecordingListModel : public QAbstractListModel {
    Q_OBJECT
public:
    enum Role {
        ItemRole = Qt::UserRole + 1, ///< the RecordingItem
        IdRole,                      ///< its selection identity, the file path
        DateTextRole,                ///< its creation time as the sidebar prints it
        BpmTextRole,                 ///< its tempo as a whole number, or "-"
        KeyTextRole,                 ///< its key, or "-"
    };

    RecordingListModel(RecordingLibraryStore &store, SidebarSortOrder order, QObject *parent = nullptr);

    [[nodiscard]] const SidebarSortOrder &order() const { return m_order; }
    /// Re-sorts the rows by \a order.
    void setOrder(SidebarSortOrder order);
    /// The recording shown in \a row; the row must exist.
    [[nodiscard]] const RecordingItem &item(int row) const { return m_items.at(row); }
    /// The row showing \a id, or -1.
    [[nodiscard]] int row(const QString &id) const;
    /// True while rows are being changed to follow the store.
    [[nodiscard]] bool isUpdating() const { return m_updating; }

    [[nodiscard]] int rowCount(const QModelIndex &parent = {}) const override;
    [[nodiscard]] QVariant data(const QModelIndex &index, int role) const override;
    [[nodiscard]] Qt::ItemFlags flags(const QModelIndex &index) const override;
    [[nodiscard]] QStringList mimeTypes() const override;
    /// The files of \a indexes as file URLs (text/uri-list).
    [[nodiscard]] QMimeData *mimeData(const QModelIndexList &indexes) const override;
    [[nodiscard]] Qt::DropActions supportedDragActions() const override;

private:
    void update();
    void removeVanished(const QVector<RecordingItem> &next);
    void reorderSurvivors(const QVector<RecordingItem> &next);
    void insertArrivals(const QVector<RecordingItem> &next);

    RecordingLibraryStore &m_store;
    SidebarSortOrder m_order;
    QVector<RecordingItem> m_items;
    bool m_updating = false;
};
