#pragma once

#include <QString>
#include <optional>

/// A desktop application as the window system reports it; any field may be unknown.
struct RunningApplication {
    std::optional<qint64> processIdentifier;
    std::optional<QString> localizedName;
    std::optional<QString> bundleIdentifier; ///< desktop-entry name, else WM_CLASS
};
