#pragma once

#include <QByteArray>

#include <sys/resource.h>

/// While it lives, this process's writes past \a bytes in a file fail with EFBIG (SIGXFSZ is
/// ignored), as on a full disk.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes);
    ~FileSizeLimit();
    FileSizeLimit(const FileSizeLimit &) = delete;
    FileSizeLimit &operator=(const FileSizeLimit &) = delete;

private:
    rlimit m_original{};
};

/// Threads of this process whose name starts with \a prefix (names hold 15 bytes at most).
int runningThreads(const QByteArray &prefix);
