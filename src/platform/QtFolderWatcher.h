#pragma once

#include "platform/FolderWatcher.h"

class QFileSystemWatcher;

/// A FolderWatcher on QFileSystemWatcher (inotify on Linux).
class QtFolderWatcher final : public FolderWatcher {
    Q_OBJECT
public:
    explicit QtFolderWatcher(QObject *parent = nullptr);

    void watch(const QStringList &folders) override;

private:
    QFileSystemWatcher *m_watcher;
};
