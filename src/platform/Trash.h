#pragma once

#include <QString>

/// Moves files to the desktop's Trash.
class Trash {
public:
    virtual ~Trash() = default;

    /// Moves the file or folder at \a path to the Trash; false (with \a error set) on failure.
    virtual bool moveToTrash(const QString &path, QString *error = nullptr) = 0;
};
