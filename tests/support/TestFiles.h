#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <sys/resource.h>

/// The bytes of \a path, empty when it cannot be read.
QByteArray readFile(const QString &path);
/// Writes \a bytes to \a path, creating its folder; returns \a path. Aborts on failure.
QString writeFile(const QString &path, const QByteArray &bytes);
/// The names in \a folder, hidden ones included, sorted.
QStringList entriesOf(const QString &folder);

/// While alive, no file this process writes may grow past \a bytes and SIGXFSZ is ignored,
/// so a write past it fails with EFBIG, as on a full disk.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes);
    ~FileSizeLimit();
    FileSizeLimit(const FileSizeLimit &) = delete;
    FileSizeLimit &operator=(const FileSizeLimit &) = delete;

private:
    rlimit m_previous{};
    void (*m_previousHandler)(int) = nullptr;
};
