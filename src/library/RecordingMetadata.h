#pragma once

#include "library/RecordingSourceContext.h"

#include <QDateTime>
#include <QString>
#include <optional>

/// The content of one metadata sidecar. Times and durations are in seconds.
struct RecordingMetadata {
    QDateTime createdAt;
    std::optional<double> duration;
    std::optional<double> bpm;
    std::optional<QString> musicalKey;
    std::optional<QDateTime> analyzedAt;
    std::optional<double> trimStart;
    std::optional<double> trimEnd;
    std::optional<RecordingSourceContext> source;

    /// A value with only \a createdAt set, used wherever a recording has no sidecar.
    [[nodiscard]] static RecordingMetadata fresh(const QDateTime &createdAt);

    bool operator==(const RecordingMetadata &) const = default;
};
