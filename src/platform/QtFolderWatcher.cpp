#include "platform/QtFolderWatcher.h"

#include <QFileInfo>
#include <QFileSystemWatcher>

QtFolderWatcher::QtFolderWatcher(QObject *parent) : FolderWatcher(parent), m_watcher(new QFileSystemWatcher(this))
{
    connect(m_watcher, &QFileSystemWatcher::directoryChanged, this, &FolderWatcher::changed);
}

void QtFolderWatcher::watch(const QStringList &folders)
{
    QStringList wanted;
    for (const auto &folder : folders) {
        if (QFileInfo(folder).isDir())
            wanted << QFileInfo(folder).absoluteFilePath();
    }
    QStringList gone;
    for (const auto &watched : m_watcher->directories()) {
        if (!wanted.contains(watched))
            gone << watched;
    }
    if (!gone.isEmpty())
        m_watcher->removePaths(gone);
    for (const auto &folder : wanted) {
        if (!m_watcher->directories().contains(folder))
            m_watcher->addPath(folder);
    }
}
