#pragma once

#include "analysis/LoopSuggestion.h"

#include <QString>
#include <QVector>
#include <optional>

/// The loop candidates of the last search and the one applied; each press of "Find Loop"
/// after a search moves on to the next, wrapping after the last.
class LoopSuggestionCycle {
public:
    [[nodiscard]] bool isEmpty() const { return m_suggestions.isEmpty(); }
    [[nodiscard]] int index() const { return m_index; }
    [[nodiscard]] int count() const { return int(m_suggestions.size()); }

    /// Takes a new search result; the first candidate is current.
    void reset(QVector<LoopSuggestion> suggestions = {});
    /// Moves to the next candidate and returns it; none when there are none.
    std::optional<LoopSuggestion> advance();
    /// The current candidate; none when there are none.
    [[nodiscard]] std::optional<LoopSuggestion> current() const;

    /// "Loop candidate 2/6 00:04 - 00:06" for the current candidate spanning \a start...\a end,
    /// without the count when the list is empty.
    [[nodiscard]] QString message(double start, double end) const;
    /// The zoom that shows a loop of \a length seconds in a \a duration recording: at least
    /// \a zoom, the loop taking about four fifths of the window, at most 16.
    [[nodiscard]] static double zoomFor(double length, double duration, double zoom);

private:
    QVector<LoopSuggestion> m_suggestions;
    int m_index = 0;
};
