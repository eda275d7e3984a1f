#include "media/ByteSource.h"

#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
struct Descriptor {
    explicit Descriptor(int descriptor) : fd(descriptor) {}
    ~Descriptor() { ::close(fd); }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    int fd;
};
QByteArray readAt(int fd, qint64 offset, qint64 count)
{
    QByteArray bytes(count, Qt::Uninitialized);
    qint64 got = 0;
    while (got < count) {
        const auto read = ::pread(fd, bytes.data() + got, std::size_t(count - got), offset + got);
        if (read <= 0)
            break;
        got += read;
    }
    bytes.truncate(got);
    return bytes;
}
} // namespace

ByteSource::ByteSource(qint64 size, std::function<QByteArray(qint64, qint64)> read)
    : m_size(size), m_read(std::move(read))
{}

ByteSource ByteSource::ofFile(const QString &path)
{
    return ofOwned(::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC));
}

ByteSource ByteSource::ofDescriptor(int fd)
{
    return ofOwned(fd < 0 ? -1 : ::fcntl(fd, F_DUPFD_CLOEXEC, 0));
}

ByteSource ByteSource::ofOwned(int fd)
{
    struct stat status {};
    if (fd < 0 || ::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        if (fd >= 0)
            ::close(fd);
        return ByteSource(0, {});
    }
    auto descriptor = std::make_shared<Descriptor>(fd);
    // Header readers ask for a few bytes at a time, mostly close together: a small window
    // read at once saves a system call for most of them.
    auto window = std::make_shared<std::pair<qint64, QByteArray>>(-1, QByteArray());
    return ByteSource(status.st_size, [descriptor, window](qint64 offset, qint64 count) {
        constexpr qint64 windowSize = 4096;
        auto &[start, bytes] = *window;
        if (start < 0 || offset < start || offset + count > start + bytes.size()) {
            start = offset;
            bytes = readAt(descriptor->fd, offset, std::max(count, windowSize));
        }
        return bytes.mid(offset - start, count);
    });
}

ByteSource ByteSource::ofBytes(QByteArray bytes)
{
    const auto size = bytes.size();
    return ByteSource(size,
                      [bytes = std::move(bytes)](qint64 offset, qint64 count) { return bytes.mid(offset, count); });
}

QByteArray ByteSource::read(qint64 offset, qint64 count) const
{
    if (offset < 0 || count <= 0 || offset >= m_size || !m_read)
        return {};
    return m_read(offset, std::min(count, m_size - offset));
}
