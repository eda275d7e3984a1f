#pragma once

#include <QHashFunctions>
#include <QMetaType>

/// A proposed loop region of a recording, in seconds, with how well it repeats (0...1).
struct LoopSuggestion {
    double start = 0;
    double end = 0;
    double confidence = 0;

    bool operator==(const LoopSuggestion &) const = default;
};

inline size_t qHash(const LoopSuggestion &suggestion, size_t seed = 0) noexcept
{
    return qHashMulti(seed, suggestion.start, suggestion.end, suggestion.confidence);
}
