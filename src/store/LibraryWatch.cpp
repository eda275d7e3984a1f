#include "store/LibraryWatch.h"

#include "library/MetadataStore.h"
#include "platform/Clock.h"
#include "platform/FolderWatcher.h"
#include "platform/Timer.h"

#include <QFileInfo>
#include <algorithm>

LibraryWatch::LibraryWatch(FolderWatcher &watcher, Clock &clock, Hooks hooks, QObject *parent)
    : QObject(parent), m_watcher(watcher), m_clock(clock), m_hooks(std::move(hooks)), m_timer(clock.createTimer(this))
{
    connect(&m_watcher, &FolderWatcher::changed, this, &LibraryWatch::noteChange);
    connect(m_timer, &Timer::timeout, this, &LibraryWatch::settle);
}

void LibraryWatch::follow(const QString &folder)
{
    m_folder = folder;
    m_watcher.watch(folders());
}

QStringList LibraryWatch::folders() const
{
    // Where every take of the folder keeps its sidecar; its parent too, so that a metadata
    // folder made later is seen.
    const auto metadata = MetadataStore::metadataFolder(m_folder + QStringLiteral("/take"));
    return {m_folder, QFileInfo(metadata).absolutePath(), metadata};
}

void LibraryWatch::noteChange()
{
    // A folder made since (the metadata folder of a first sidecar) is watched from now on.
    m_watcher.watch(folders());
    const auto now = m_clock.now();
    if (!m_firstChange)
        m_firstChange = now;
    const auto left = std::max<qint64>(0, longestWait.count() - m_firstChange->msecsTo(now));
    m_timer->start(std::chrono::milliseconds(std::min<qint64>(settleTime.count(), left)), false);
}

void LibraryWatch::settle()
{
    m_firstChange.reset();
    if (m_hooks.isWriting()) {
        m_waiting = true;
        return;
    }
    m_hooks.rescan();
}

void LibraryWatch::writingEnded()
{
    if (!m_waiting || m_hooks.isWriting())
        return;
    m_waiting = false;
    m_hooks.rescan();
}
