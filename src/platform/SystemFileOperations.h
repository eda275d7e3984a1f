#pragma once

#include "platform/FileOperations.h"

/// FileOperations done by the kernel: fsync, link, renameat2 (with a link and unlink where
/// RENAME_NOREPLACE is unsupported), unlink.
class SystemFileOperations final : public FileOperations {
public:
    int syncFile(const QString &path) override;
    int syncFolder(const QString &path) override;
    int link(const QString &from, const QString &to) override;
    int renameNoReplace(const QString &from, const QString &to) override;
    int renameReplacing(const QString &from, const QString &to) override;
    int remove(const QString &path) override;
};
