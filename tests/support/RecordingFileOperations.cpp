#include "support/RecordingFileOperations.h"

#include <QDir>

QStringList RecordingFileOperations::log() const
{
    const std::lock_guard lock(m_mutex);
    return m_log;
}

void RecordingFileOperations::stopAt(int step)
{
    const std::lock_guard lock(m_mutex);
    m_stopAt = step;
}

void RecordingFileOperations::clear()
{
    const std::lock_guard lock(m_mutex);
    m_log.clear();
    m_stopAt = 0;
}

bool RecordingFileOperations::step(const QString &name, const QString &path, const QString &target)
{
    const std::lock_guard lock(m_mutex);
    const QDir root(m_root);
    auto entry = name + u' ' + root.relativeFilePath(path);
    if (!target.isEmpty())
        entry += QStringLiteral(" -> ") + root.relativeFilePath(target);
    m_log << entry;
    return m_stopAt == 0 || int(m_log.size()) < m_stopAt;
}

int RecordingFileOperations::syncFile(const QString &path)
{
    return step(QStringLiteral("syncFile"), path, {}) ? m_system.syncFile(path) : 0;
}

int RecordingFileOperations::syncFolder(const QString &path)
{
    return step(QStringLiteral("syncFolder"), path, {}) ? m_system.syncFolder(path) : 0;
}

int RecordingFileOperations::link(const QString &from, const QString &to)
{
    return step(QStringLiteral("link"), from, to) ? m_system.link(from, to) : 0;
}

int RecordingFileOperations::renameNoReplace(const QString &from, const QString &to)
{
    return step(QStringLiteral("renameNoReplace"), from, to) ? m_system.renameNoReplace(from, to) : 0;
}

int RecordingFileOperations::renameReplacing(const QString &from, const QString &to)
{
    return step(QStringLiteral("renameReplacing"), from, to) ? m_system.renameReplacing(from, to) : 0;
}

int RecordingFileOperations::remove(const QString &path)
{
    return step(QStringLiteral("remove"), path, {}) ? m_system.remove(path) : 0;
}
