#pragma once

#include "platform/Trash.h"

/// The freedesktop.org Trash of the user's home (files/ and info/ with .trashinfo records).
class FreedesktopTrash final : public Trash {
public:
    bool moveToTrash(const QString &path, QString *error = nullptr) override;
};
