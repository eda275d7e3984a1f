#pragma once

#include <QByteArray>
#include <QString>
#include <functional>
#include <memory>

/// Random access to the bytes of a file or of memory, for the readers of container headers (so
/// they can be run on bytes without a file, as fuzzers do).
class ByteSource {
public:
    /// The file at \a path; an empty source when it cannot be opened.
    [[nodiscard]] static ByteSource ofFile(const QString &path);
    /// The regular file open as \a fd, read through a duplicate of it; empty when it is none.
    [[nodiscard]] static ByteSource ofDescriptor(int fd);
    [[nodiscard]] static ByteSource ofBytes(QByteArray bytes);

    [[nodiscard]] qint64 size() const { return m_size; }
    /// Up to \a count bytes from \a offset: fewer at the end, none outside the source.
    [[nodiscard]] QByteArray read(qint64 offset, qint64 count) const;

private:
    ByteSource(qint64 size, std::function<QByteArray(qint64, qint64)> read);
    /// A source of \a fd, which it closes; empty when \a fd is not a regular file.
    static ByteSource ofOwned(int fd);

    qint64 m_size = 0;
    std::function<QByteArray(qint64, qint64)> m_read;
};
