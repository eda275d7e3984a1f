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

void RecordingFileOperations::failAt(int step, int error)
{
    const std::lock_guard lock(m_mutex);
    m_failAt = step;
    m_failure = error;
}

void RecordingFileOperations::clear()
{
    const std::lock_guard lock(m_mutex);
    m_log.clear();
    m_stopAt = m_failAt = m_failure = 0;
}

bool RecordingFileOperations::step(const QString &name, const QString &path, const QString &target, int &result)
{
    const std::lock_guard lock(m_mutex);
    const QDir root(m_root);
    auto entry = name + u' ' + root.relativeFilePath(path);
    if (!target.isEmpty())
        entry += QStringLiteral(" -> ") + root.relativeFilePath(target);
    m_log << entry;
    const int number = int(m_log.size());
    result = 0;
    if (m_failAt == number) {
        result = m_failure;
        return false;
    }
    return m_stopAt == 0 || number < m_stopAt;
}

int RecordingFileOperations::syncFile(const QString &path)
{
    int result = 0;
    return step(QStringLiteral("syncFile"), path, {}, result) ? m_system.syncFile(path) : result;
}

int RecordingFileOperations::syncFolder(const QString &path)
{
    int result = 0;
    return step(QStringLiteral("syncFolder"), path, {}, result) ? m_system.syncFolder(path) : result;
}

int RecordingFileOperations::link(const QString &from, const QString &to)
{
    int result = 0;
    return step(QStringLiteral("link"), from, to, result) ? m_system.link(from, to) : result;
}

int RecordingFileOperations::renameNoReplace(const QString &from, const QString &to)
{
    int result = 0;
    return step(QStringLiteral("renameNoReplace"), from, to, result) ? m_system.renameNoReplace(from, to) : result;
}

int RecordingFileOperations::renameReplacing(const QString &from, const QString &to)
{
    int result = 0;
    return step(QStringLiteral("renameReplacing"), from, to, result) ? m_system.renameReplacing(from, to) : result;
}

int RecordingFileOperations::remove(const QString &path)
{
    int result = 0;
    return step(QStringLiteral("remove"), path, {}, result) ? m_system.remove(path) : result;
}
