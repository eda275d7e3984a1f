#pragma once

#include "base/AppError.h"

/// A global hotkey that could not be registered; its text says why in words.
class GlobalHotKeyError : public AppError {
public:
    /// \a status is one of HotKeyGrabber's refusal statuses.
    explicit GlobalHotKeyError(qint32 status);

    [[nodiscard]] qint32 status() const { return m_status; }

private:
    qint32 m_status;
};
