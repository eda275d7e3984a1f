#include "store/TrimUndo.h"

#include <QFileInfo>

void TrimUndo::set(const std::optional<SavedTrimUndo> &undo)
{
    if (undo == m_value)
        return;
    m_value = undo;
    emit changed();
}

bool TrimUndo::canUndo(const RecordingItem &item) const
{
    return m_value && m_value->trimmedURL == item.url && QFileInfo::exists(item.url);
}

void TrimUndo::forgetIfAmong(const QStringList &urls)
{
    if (m_value && (urls.contains(m_value->originalURL) || urls.contains(m_value->trimmedURL)))
        set(std::nullopt);
}

void TrimUndo::followRename(const QString &from, const QString &to)
{
    if (!m_value)
        return;
    auto undo = *m_value;
    if (undo.originalURL == from)
        undo.originalURL = to;
    if (undo.trimmedURL == from)
        undo.trimmedURL = to;
    set(undo);
}
