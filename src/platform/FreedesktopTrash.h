#pragma once

#include "platform/Trash.h"

/// The freedesktop.org Trash through GIO: the home Trash (created when missing) for files on
/// the home's file system, $topdir/.Trash-$uid on others; info records percent-encoded.
class FreedesktopTrash final : public Trash {
public:
    /// False, with GIO's message in \a error, when no Trash can take the file; then it stays.
    bool moveToTrash(const QString &path, QString *error = nullptr) override;
};
