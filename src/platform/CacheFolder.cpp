#include "platform/CacheFolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr char magic[8] = {'V', 'T', 'C', 'A', 'C', 'H', 'E', '1'};
constexpr qsizetype headerSize = 32; // magic, kind, reserved, payload size, checksum
constexpr qint64 staleWorkFileSeconds = 3600;
constexpr qint64 touchAfterSeconds = 600;

/// A 64-bit FNV-style hash over whole words: it tells a damaged or torn entry from a whole one.
quint64 checksum(QByteArrayView bytes, quint64 seed)
{
    quint64 hash = 0xcbf29ce484222325ULL ^ (seed * 0x9e3779b97f4a7c15ULL);
    const char *at = bytes.data();
    qsizetype left = bytes.size();
    for (; left >= 8; left -= 8, at += 8) {
        quint64 word;
        std::memcpy(&word, at, 8);
        hash = (hash ^ word) * 0x100000001b3ULL;
        hash ^= hash >> 29;
    }
    for (; left > 0; --left, ++at)
        hash = (hash ^ quint8(*at)) * 0x100000001b3ULL;
    return hash ^ hash >> 32;
}

void putLittleEndian(char *at, quint64 value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        at[i] = char(value >> (8 * i));
}

quint64 getLittleEndian(const char *at, int bytes)
{
    quint64 value = 0;
    for (int i = 0; i < bytes; ++i)
        value |= quint64(quint8(at[i])) << (8 * i);
    return value;
}

struct FileDescriptor {
    int fd = -1;
    explicit FileDescriptor(int descriptor) : fd(descriptor) {}
    ~FileDescriptor()
    {
        if (fd >= 0)
            ::close(fd);
    }
    FileDescriptor(const FileDescriptor &) = delete;
    FileDescriptor &operator=(const FileDescriptor &) = delete;
};

bool writeAll(int fd, const char *data, qsizetype size)
{
    while (size > 0) {
        const auto written = ::write(fd, data, std::size_t(size));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        data += written;
        size -= written;
    }
    return true;
}

bool readAll(int fd, char *data, qsizetype size)
{
    while (size > 0) {
        const auto got = ::read(fd, data, std::size_t(size));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        data += got;
        size -= got;
    }
    return true;
}

/// Entry names are ours; anything that could leave the folder or hide as a work file is refused.
bool isEntryName(const QString &name)
{
    return !name.isEmpty() && !name.startsWith(u'.') && !name.contains(u'/');
}

} // namespace

QString CacheFolder::pathOf(const QString &libraryFolder)
{
    return QDir(libraryFolder).filePath(QStringLiteral(".vespertone/cache"));
}

std::optional<CacheFolder> CacheFolder::ofLibrary(const QString &folder, bool create, qint64 capacity)
{
    const auto work = QDir(folder).filePath(QStringLiteral(".vespertone"));
    if (!QFileInfo(work).isDir() && !(create && QFileInfo(folder).isDir() && QDir().mkpath(work)))
        return std::nullopt;
    return CacheFolder(pathOf(folder), capacity);
}

CacheFolder::CacheFolder(QString path, qint64 capacity) : m_path(std::move(path)), m_capacity(capacity) {}

std::optional<QByteArray> CacheFolder::read(const QString &name, quint32 kind, qint64 maximumSize) const
{
    if (!isEntryName(name))
        return std::nullopt;
    const FileDescriptor file(::open(QFile::encodeName(m_path + u'/' + name).constData(), O_RDONLY | O_CLOEXEC));
    struct stat status {};
    if (file.fd < 0 || ::fstat(file.fd, &status) != 0 || !S_ISREG(status.st_mode) || status.st_size < headerSize
        || status.st_size - headerSize > maximumSize)
        return std::nullopt;
    char header[headerSize];
    if (!readAll(file.fd, header, headerSize) || std::memcmp(header, magic, sizeof magic) != 0
        || getLittleEndian(header + 8, 4) != kind
        || qint64(getLittleEndian(header + 16, 8)) != status.st_size - headerSize)
        return std::nullopt;
    QByteArray payload(qsizetype(status.st_size - headerSize), Qt::Uninitialized);
    if (!readAll(file.fd, payload.data(), payload.size()) || checksum(payload, kind) != getLittleEndian(header + 24, 8))
        return std::nullopt;
    // Marks the entry used, for eviction; not on every read, which would write all the time.
    if (::time(nullptr) - status.st_mtim.tv_sec > touchAfterSeconds) {
        const struct timespec times[2] = {{0, UTIME_OMIT}, {0, UTIME_NOW}};
        ::futimens(file.fd, times);
    }
    return payload;
}

bool CacheFolder::write(const QString &name, quint32 kind, QByteArrayView payload) const
{
    if (!isEntryName(name))
        return false;
    const auto folder = QFile::encodeName(m_path);
    if (::mkdir(folder.constData(), 0755) != 0 && errno != EEXIST)
        return false;
    const auto encodedName = QFile::encodeName(name);
    const auto target = folder + '/' + encodedName;
    const auto work =
        folder + "/." + encodedName + '.' + QByteArray::number(QRandomGenerator::global()->generate64(), 16) + ".part";
    char header[headerSize] = {};
    std::memcpy(header, magic, sizeof magic);
    putLittleEndian(header + 8, kind, 4);
    putLittleEndian(header + 16, quint64(payload.size()), 8);
    putLittleEndian(header + 24, checksum(payload, kind), 8);
    bool stored = false;
    {
        const FileDescriptor file(::open(work.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
        stored = file.fd >= 0 && writeAll(file.fd, header, headerSize)
            && writeAll(file.fd, payload.data(), payload.size()) && ::fsync(file.fd) == 0;
    }
    if (!stored || ::rename(work.constData(), target.constData()) != 0) {
        ::unlink(work.constData());
        return false;
    }
    const FileDescriptor directory(::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (directory.fd >= 0)
        ::fsync(directory.fd);
    evictBeyondCapacity(encodedName);
    return true;
}

void CacheFolder::remove(const QString &name) const
{
    if (isEntryName(name))
        ::unlink(QFile::encodeName(m_path + u'/' + name).constData());
}

void CacheFolder::evictBeyondCapacity(const QByteArray &kept) const
{
    const auto folder = QFile::encodeName(m_path);
    const std::unique_ptr<DIR, int (*)(DIR *)> listing(::opendir(folder.constData()), ::closedir);
    if (!listing)
        return;
    struct Entry {
        qint64 used;
        qint64 size;
        QByteArray name;
    };
    std::vector<Entry> entries;
    qint64 total = 0;
    const auto now = qint64(::time(nullptr));
    while (const auto *item = ::readdir(listing.get())) {
        const QByteArray name(item->d_name);
        struct stat status {};
        if (name == "." || name == ".." || ::fstatat(::dirfd(listing.get()), item->d_name, &status, 0) != 0
            || !S_ISREG(status.st_mode))
            continue;
        if (name.startsWith('.')) {
            // A work file that a stopped process left behind.
            if (name.endsWith(".part") && now - status.st_mtim.tv_sec > staleWorkFileSeconds)
                ::unlinkat(::dirfd(listing.get()), item->d_name, 0);
            continue;
        }
        total += status.st_size;
        if (name != kept)
            entries.push_back({qint64(status.st_mtim.tv_sec), qint64(status.st_size), name});
    }
    if (total <= m_capacity)
        return;
    std::sort(entries.begin(), entries.end(), [](const Entry &a, const Entry &b) { return a.used < b.used; });
    // Down to nine tenths, so the next writes do not evict one entry each.
    const qint64 goal = m_capacity / 10 * 9;
    for (const auto &entry : entries) {
        if (total <= goal)
            break;
        if (::unlinkat(::dirfd(listing.get()), entry.name.constData(), 0) == 0)
            total -= entry.size;
    }
}
