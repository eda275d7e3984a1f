#include "editor/LoopSuggestionCycle.h"

#include "editor/WaveformViewport.h"
#include "library/Formatters.h"

#include <algorithm>

void LoopSuggestionCycle::reset(QVector<LoopSuggestion> suggestions)
{
    m_suggestions = std::move(suggestions);
    m_index = 0;
}

std::optional<LoopSuggestion> LoopSuggestionCycle::advance()
{
    if (m_suggestions.isEmpty())
        return std::nullopt;
    m_index = (m_index + 1) % int(m_suggestions.size());
    return m_suggestions[m_index];
}

std::optional<LoopSuggestion> LoopSuggestionCycle::current() const
{
    if (m_suggestions.isEmpty())
        return std::nullopt;
    return m_suggestions[std::clamp(m_index, 0, int(m_suggestions.size()) - 1)];
}

QString LoopSuggestionCycle::message(double start, double end) const
{
    auto text = QStringLiteral("Loop candidate");
    if (!m_suggestions.isEmpty())
        text += u' ' + QString::number(m_index + 1) + u'/' + QString::number(m_suggestions.size());
    return text + u' ' + TimeText::clock(start) + QStringLiteral(" - ") + TimeText::clock(end);
}

double LoopSuggestionCycle::zoomFor(double length, double duration, double zoom)
{
    if (!(length > 0) || !(length < duration))
        return zoom;
    return std::max(zoom, std::min(duration / length * 1.25, WaveformViewport::maximumZoom));
}
