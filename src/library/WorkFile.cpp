#include "library/WorkFile.h"

#include "base/AppError.h"
#include "base/SystemErrorText.h"
#include "library/UniqueFileNamer.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QUuid>

#include <algorithm>

WorkFile WorkFile::create(const QString &libraryFolder, const QString &extension)
{
    const auto folder = UniqueFileNamer::workFolder(libraryFolder);
    if (!QDir().mkpath(folder))
        throw AppError(QStringLiteral("The folder “%1” couldn’t be created.").arg(folder));
    int error = 0;
    for (int attempt = 0; attempt < 8 && error == 0; ++attempt) {
        const auto stem = folder + u'/' + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
        // The lock comes first: a sweep leaves every file it covers alone from then on.
        if (auto lock = WorkLock::acquire(stem, &error))
            return WorkFile(extension.isEmpty() ? stem : stem + u'.' + extension, stem, std::move(*lock));
    }
    throw AppError(error ? systemErrorText(error)
                         : QStringLiteral("No work file can be made in “%1”.").arg(QDir(folder).dirName()));
}

WorkFile::WorkFile(QString path, QString stem, WorkLock lock)
    : m_path(std::move(path)), m_stem(std::move(stem)), m_lock(std::move(lock))
{}

WorkFile::~WorkFile()
{
    removeFiles();
}

WorkFile::WorkFile(WorkFile &&other) noexcept
    : m_path(std::exchange(other.m_path, {})), m_stem(std::exchange(other.m_stem, {})),
      m_siblings(std::exchange(other.m_siblings, {})), m_lock(std::exchange(other.m_lock, std::nullopt))
{}

WorkFile &WorkFile::operator=(WorkFile &&other) noexcept
{
    if (this != &other) {
        removeFiles();
        m_path = std::exchange(other.m_path, {});
        m_stem = std::exchange(other.m_stem, {});
        m_siblings = std::exchange(other.m_siblings, {});
        m_lock = std::exchange(other.m_lock, std::nullopt);
    }
    return *this;
}

QString WorkFile::sibling(const QString &suffix)
{
    auto path = m_stem + suffix;
    if (!m_siblings.contains(path))
        m_siblings << path;
    return path;
}

QStringList WorkFile::sweep(const QString &libraryFolder, const QStringList &kept)
{
    const QDir folder(UniqueFileNamer::workFolder(libraryFolder));
    // Listed once: a file made after this was made under a lock that is listed too.
    const auto names = folder.entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
    QStringList liveLocks;
    for (const auto &name : names) {
        if (name.endsWith(QStringLiteral(".lock")) && WorkLock::isHeld(folder.filePath(name.chopped(5))))
            liveLocks << name;
    }
    QList<QRegularExpression> keptPatterns;
    for (const auto &pattern : kept)
        keptPatterns << QRegularExpression::fromWildcard(pattern, Qt::CaseSensitive);
    QStringList removed;
    for (const auto &name : names) {
        const auto covered = [&](const QString &lock) { return WorkLock::covers(lock, name); };
        const auto matches = [&](const QRegularExpression &pattern) { return pattern.match(name).hasMatch(); };
        if (WorkLock::isLockFileName(name) || std::any_of(liveLocks.begin(), liveLocks.end(), covered)
            || std::any_of(keptPatterns.begin(), keptPatterns.end(), matches))
            continue;
        if (QFile::remove(folder.filePath(name)))
            removed << name;
    }
    return removed;
}

void WorkFile::removeFiles()
{
    // A file that cannot go is swept at the next start, once the lock is gone.
    if (!m_path.isEmpty())
        QFile::remove(m_path);
    for (const auto &sibling : std::as_const(m_siblings))
        QFile::remove(sibling);
    m_path.clear();
    m_siblings.clear();
    m_lock.reset();
}
