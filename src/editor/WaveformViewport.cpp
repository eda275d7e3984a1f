#include "editor/WaveformViewport.h"

#include <algorithm>
#include <cmath>

double WaveformViewport::clampZoom(double zoom)
{
    return std::isfinite(zoom) ? std::clamp(zoom, minimumZoom, maximumZoom) : minimumZoom;
}

double WaveformViewport::spanAt(double zoom) const
{
    return duration > 0 ? duration / clampZoom(zoom) : 0;
}

double WaveformViewport::clampedStart() const
{
    if (!(duration > 0))
        return 0;
    const auto value = std::isfinite(start) ? start : 0;
    return std::min(std::max(value, 0.0), std::max(duration - span(), 0.0));
}

double WaveformViewport::visibleEnd() const
{
    return std::min(clampedStart() + span(), std::max(duration, 0.0));
}

void WaveformViewport::clamp()
{
    zoom = clampedZoom();
    start = clampedStart();
}

void WaveformViewport::applyZoom(double newZoom, double anchorTime, double anchorRatio)
{
    zoom = clampZoom(newZoom);
    const auto newSpan = span();
    const auto ratio = std::isfinite(anchorRatio) ? std::clamp(anchorRatio, 0.0, 1.0) : 0.5;
    start = std::min(std::max(duration - newSpan, 0.0), std::max(anchorTime - ratio * newSpan, 0.0));
}

void WaveformViewport::zoomAround(double newZoom, double anchorTime)
{
    const auto oldSpan = span();
    const auto oldStart = clampedStart();
    auto ratio = 0.5;
    if (oldSpan > 0 && anchorTime >= oldStart && anchorTime <= oldStart + oldSpan)
        ratio = (anchorTime - oldStart) / oldSpan;
    applyZoom(newZoom, anchorTime, ratio);
}

void WaveformViewport::keepVisible(double time)
{
    if (clampedZoom() <= 1 || !(duration > 0))
        return;
    const auto visible = span();
    const auto from = clampedStart();
    const auto margin = visible * 0.12;
    if (time < from + margin)
        start = std::max(time - margin, 0.0);
    else if (time > from + visible - margin)
        start = std::min(time - visible + margin, std::max(duration - visible, 0.0));
}

double WaveformViewport::pannedStart(double baseStart, double translation, double trackWidth) const
{
    const auto visible = span();
    const auto moved = baseStart - visible / std::max(trackWidth, 1.0) * translation;
    return std::min(std::max(duration - visible, 0.0), std::max(moved, 0.0));
}

double WaveformViewport::minimumHandleGap() const
{
    return std::min(std::max(duration, 0.0), 0.02);
}

double WaveformViewport::startHandleTime(double time, double trimEnd) const
{
    return std::min(time, std::max(trimEnd - minimumHandleGap(), 0.0));
}

double WaveformViewport::endHandleTime(double time, double trimStart) const
{
    return std::max(std::min(time, duration), std::min(trimStart + minimumHandleGap(), duration));
}

std::span<const float> WaveformViewport::peaksForVisibleRange(const QVector<float> &peaks, double from, double to) const
{
    if (peaks.isEmpty() || !(duration > 0))
        return {};
    const auto count = peaks.size();
    const auto low = std::clamp(from / duration, 0.0, 1.0);
    const auto high = std::min(std::max(to / duration, low), 1.0);
    const auto first = std::clamp<qsizetype>(qsizetype(low * double(count - 1)), 0, count - 1);
    const auto last = std::clamp<qsizetype>(qsizetype(std::ceil(high * double(count - 1))), first, count - 1);
    return std::span<const float>(peaks.constData() + first, std::size_t(last - first + 1));
}

TimelineTrack TimelineTrack::of(double width, double inset)
{
    const auto total = std::max(width, 1.0);
    const auto right = std::max(total - inset, inset);
    return {inset, right, std::max(right - inset, 1.0)};
}

double TimelineTrack::x(double time, const WaveformViewport &viewport) const
{
    const auto span = viewport.span();
    if (!(span > 0))
        return left;
    return left + width * (time - viewport.clampedStart()) / span;
}

double TimelineTrack::time(double x, const WaveformViewport &viewport) const
{
    if (!(viewport.duration > 0))
        return 0;
    const auto fraction = std::clamp((x - left) / width, 0.0, 1.0);
    return std::clamp(viewport.clampedStart() + viewport.span() * fraction, 0.0, viewport.duration);
}
