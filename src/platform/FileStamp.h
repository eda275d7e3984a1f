#pragma once

#include <QString>
#include <QtGlobal>
#include <optional>

struct stat;

/// What tells a file's content apart without reading it: its identity (device and inode, which
/// a rename keeps) and its content stamp (size and modification time, which an edit changes).
struct FileStamp {
    quint64 device = 0;
    quint64 inode = 0;
    qint64 size = 0;
    qint64 modifiedNs = 0; ///< nanoseconds since the epoch

    /// The stamp of the file at \a path, following links; none when it cannot be read.
    [[nodiscard]] static std::optional<FileStamp> of(const QString &path);
    [[nodiscard]] static FileStamp from(const struct stat &status);
    /// The stamp of the open file \a descriptor, whatever its name is by now.
    [[nodiscard]] static std::optional<FileStamp> ofDescriptor(int descriptor);

    bool operator==(const FileStamp &) const = default;
};
