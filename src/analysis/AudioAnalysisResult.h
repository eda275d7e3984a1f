#pragma once

#include "analysis/KeyCandidate.h"
#include "analysis/TempoCandidate.h"

#include <QMetaType>
#include <QString>
#include <QVector>
#include <optional>

/// What analysing one recording found.
struct AudioAnalysisResult {
    double duration = 0;               ///< seconds, of the whole file
    std::optional<double> bpm;         ///< one decimal; none when no tempo was found
    std::optional<QString> musicalKey; ///< e.g. "F# minor"; none when no key was found
    // Found by the precise analysis only.
    std::optional<double> bpmConfidence;     ///< 0...1, of bpm
    QVector<TempoCandidate> bpmAlternatives; ///< at most two, likeliest first
    std::optional<double> keyConfidence;     ///< 0...1, of musicalKey
    QVector<KeyCandidate> keyAlternatives;   ///< the runner-up

    bool operator==(const AudioAnalysisResult &) const = default;
};
