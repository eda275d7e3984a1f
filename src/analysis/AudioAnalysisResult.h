#pragma once

#include <QMetaType>
#include <QString>
#include <optional>

/// What analysing one recording found.
struct AudioAnalysisResult {
    double duration = 0;               ///< seconds, of the whole file
    std::optional<double> bpm;         ///< one decimal; none when no tempo was found
    std::optional<QString> musicalKey; ///< e.g. "F# minor"; none when no key was found

    bool operator==(const AudioAnalysisResult &) const = default;
};
