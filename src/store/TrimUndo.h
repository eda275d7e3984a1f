#pragma once

#include "library/RecordingItem.h"
#include "store/SavedTrimUndo.h"

#include <QObject>
#include <QStringList>
#include <optional>

/// The one undoable saved trim, kept in step with renames and deletions of its files.
class TrimUndo : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    [[nodiscard]] const std::optional<SavedTrimUndo> &value() const { return m_value; }
    void set(const std::optional<SavedTrimUndo> &undo);
    /// True when \a item is the existing result of the last saved trim.
    [[nodiscard]] bool canUndo(const RecordingItem &item) const;
    /// Forgets the undo when either of its files is among \a urls.
    void forgetIfAmong(const QStringList &urls);
    /// Follows a rename of either of its files.
    void followRename(const QString &from, const QString &to);

signals:
    void changed();

private:
    std::optional<SavedTrimUndo> m_value;
};
