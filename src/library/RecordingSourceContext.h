#pragma once

#include <QDateTime>
#include <QString>
#include <optional>

/// Where a recording's sound came from.
struct RecordingSourceContext {
    std::optional<QString> appName;          ///< the application that produced the sound
    std::optional<QString> bundleIdentifier; ///< that application's identifier
    std::optional<QString> windowTitle;      ///< its front window or browser tab title
    std::optional<QString> urlString;        ///< the page or media address, when known
    QDateTime capturedAt;

    /// The window title if not empty, else the app name (even empty), else "Unknown source".
    [[nodiscard]] QString displayTitle() const;

    /// The fixed context of a microphone take, captured at \a capturedAt.
    [[nodiscard]] static RecordingSourceContext microphone(const QDateTime &capturedAt);

    bool operator==(const RecordingSourceContext &) const = default;
};
