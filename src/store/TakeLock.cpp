#include "store/TakeLock.h"

#include "library/UniqueFileNamer.h"

#include <QDir>
#include <QFileInfo>
#include <QLockFile>

namespace {
std::unique_ptr<QLockFile> lockFile(const QString &url)
{
    auto lock = std::make_unique<QLockFile>(TakeLock::lockPath(url));
    // Only a dead owner makes a lock stale; a long take must keep its lock.
    lock->setStaleLockTime(0);
    return lock;
}
} // namespace

QString TakeLock::lockPath(const QString &url)
{
    return UniqueFileNamer::workFolder(UniqueFileNamer::libraryFolderOf(url)) + u'/' + QFileInfo(url).fileName()
        + QStringLiteral(".lock");
}

std::optional<TakeLock> TakeLock::acquire(const QString &url)
{
    QDir().mkpath(QFileInfo(lockPath(url)).absolutePath());
    auto lock = lockFile(url);
    if (!lock->tryLock(0))
        return std::nullopt;
    return TakeLock(std::move(lock));
}

bool TakeLock::isHeld(const QString &url)
{
    if (!QFileInfo::exists(lockPath(url)))
        return false;
    // A lock whose owner died is stale: taking it (and letting it go) clears it.
    return !lockFile(url)->tryLock(0);
}

TakeLock::TakeLock(std::unique_ptr<QLockFile> lock) : m_lock(std::move(lock)) {}

TakeLock::~TakeLock() = default;
TakeLock::TakeLock(TakeLock &&) noexcept = default;
TakeLock &TakeLock::operator=(TakeLock &&) noexcept = default;
