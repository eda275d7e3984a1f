#pragma once

#include "base/AppError.h"

/// A global hotkey that could not be registered, with the desktop's status.
class GlobalHotKeyError : public AppError {
public:
    explicit GlobalHotKeyError(qint32 status);

    [[nodiscard]] qint32 status() const { return m_status; }

private:
    qint32 m_status;
};
