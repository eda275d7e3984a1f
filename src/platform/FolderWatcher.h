#pragma once

#include <QObject>
#include <QStringList>

/// Tells when entries of watched folders are added, renamed or removed.
class FolderWatcher : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    /// Watches exactly those of \a folders that exist; call again to pick up folders made since.
    virtual void watch(const QStringList &folders) = 0;

signals:
    /// An entry of a watched folder changed, or a watched folder itself went away.
    void changed();
};
