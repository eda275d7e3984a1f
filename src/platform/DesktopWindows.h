#pragma once

#include "platform/RunningApplication.h"

#include <QString>
#include <optional>
#include <vector>

/// One top-level window of the desktop.
struct DesktopWindow {
    std::optional<qint64> processIdentifier;
    QString title;
};

/// The desktop's top-level windows and its front application.
class DesktopWindows {
public:
    virtual ~DesktopWindows() = default;

    /// The managed windows, front to back; empty when no window system answers.
    [[nodiscard]] virtual std::vector<DesktopWindow> windows() = 0;
    /// The application of the active window, if any.
    [[nodiscard]] virtual std::optional<RunningApplication> frontmostApplication() = 0;
};
