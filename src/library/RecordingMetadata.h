#pragma once

#include "analysis/KeyCandidate.h"
#include "analysis/TempoCandidate.h"
#include "library/RecordingSourceContext.h"

#include <QDateTime>
#include <QString>
#include <QVector>
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
    // Left by the precise analysis, or by choosing one of its alternatives.
    std::optional<double> bpmConfidence;     ///< 0...1, of bpm
    QVector<TempoCandidate> bpmAlternatives; ///< other tempi it could be, likeliest first
    std::optional<double> keyConfidence;     ///< 0...1, of musicalKey
    QVector<KeyCandidate> keyAlternatives;   ///< other keys it could be, likeliest first

    /// A value with only \a createdAt set, used wherever a recording has no sidecar.
    [[nodiscard]] static RecordingMetadata fresh(const QDateTime &createdAt);

    bool operator==(const RecordingMetadata &) const = default;
};
