#pragma once

#include <QString>

/// A key the precise analysis considered, with how likely it is.
struct KeyCandidate {
    QString musicalKey;    ///< e.g. "F# minor"
    double confidence = 0; ///< 0...1, two decimals

    bool operator==(const KeyCandidate &) const = default;
};
