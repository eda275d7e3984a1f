#include "ui/editor/WaveformTrimView.h"

#include "library/Formatters.h"
#include "ui/editor/WaveformBars.h"
#include "ui/style/TextStyles.h"
#include "ui/style/VespertoneTheme.h"

#include <QLinearGradient>
#include <QMouseEvent>
#include <QNativeGestureEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPainterPath>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

using namespace VespertoneTheme;

namespace {
/// The canvas's distance from the surface's top and bottom.
constexpr double canvasInset = 14;
/// The row of times under the surface.
constexpr double labelRowHeight = 18;
constexpr double surfaceRadius = waveformSurfaceRadius;
/// The least drag that pans the window.
constexpr double panThreshold = 3;
constexpr double knobSize = 8;
/// How far a handle's glow reaches beyond it.
constexpr double handleGlow = 4;

bool isGothic(AppThemeChoice theme)
{
    return theme != AppThemeChoice::studioGlass;
}

QColor selectedControlText()
{
    return color(white);
}
} // namespace

WaveformTrimView::WaveformTrimView(QWidget *parent) : QWidget(parent)
{
    setMouseTracking(false);
    setAttribute(Qt::WA_AcceptTouchEvents, false);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    setAccessibleName(QStringLiteral("Waveform"));
}

double WaveformTrimView::handleWidth(AppThemeChoice theme)
{
    return isGothic(theme) ? 20 : 16;
}

double WaveformTrimView::timelineInset(AppThemeChoice theme)
{
    return handleWidth(theme) + (isGothic(theme) ? 4 : 3);
}

void WaveformTrimView::setTheme(AppThemeChoice theme)
{
    if (m_theme == theme)
        return;
    m_theme = theme;
    invalidate();
}

void WaveformTrimView::setPeaks(QVector<float> peaks, double duration)
{
    m_peaks = std::move(peaks);
    m_viewport.duration = duration;
    m_viewport.clamp();
    invalidate();
}

void WaveformTrimView::setTrimRange(TrimRange range)
{
    if (m_trim == range)
        return;
    m_trim = range;
    update();
}

void WaveformTrimView::setViewport(double zoom, double start)
{
    WaveformViewport next = m_viewport;
    next.zoom = zoom;
    next.start = start;
    next.clamp();
    if (next.zoom == m_viewport.zoom && next.start == m_viewport.start)
        return;
    if (next.zoom != m_viewport.zoom)
        m_strip = QPixmap();
    m_viewport = next;
    m_playheadPixel = -1;
    update();
}

void WaveformTrimView::setLoading(bool loading)
{
    if (m_loading == loading)
        return;
    m_loading = loading;
    update();
}

void WaveformTrimView::setPlayheadTime(std::optional<double> time)
{
    if (m_playhead == time)
        return;
    const auto before = playheadStrip(m_playhead);
    m_playhead = time;
    const auto after = playheadStrip(m_playhead);
    // A long take moves the playhead less than a device pixel a tick: nothing to draw then.
    const auto ratio = devicePixelRatioF();
    if (before.isEmpty() == after.isEmpty() && !before.isEmpty()
        && std::lround(track().x(*m_playhead, m_viewport) * ratio) == m_playheadPixel)
        return;
    m_playheadPixel = time ? std::lround(track().x(*time, m_viewport) * ratio) : -1;
    if (!before.isEmpty())
        update(before);
    if (!after.isEmpty())
        update(after);
}

TimelineTrack WaveformTrimView::track() const
{
    return TimelineTrack::of(width(), timelineInset(m_theme));
}

QRectF WaveformTrimView::surfaceRect() const
{
    return QRectF(0, 0, width(), std::max(height() - labelRowHeight, 1.0));
}

QRectF WaveformTrimView::canvasRect() const
{
    const auto surface = surfaceRect();
    const auto inset = timelineInset(m_theme);
    return QRectF(inset, canvasInset, track().width, std::max(surface.height() - 2 * canvasInset, 1.0));
}

QRectF WaveformTrimView::handleRect(double x) const
{
    const auto canvas = canvasRect();
    const auto width = handleWidth(m_theme);
    return QRectF(x - width / 2, canvas.top() - 6, width, canvas.height() + 12);
}

QRect WaveformTrimView::playheadStrip(std::optional<double> time) const
{
    if (!time)
        return {};
    const auto line = track();
    const auto x = line.x(*time, m_viewport);
    if (x < line.left || x > line.right)
        return {};
    const auto canvas = canvasRect();
    return QRectF(x - knobSize / 2 - 2, canvas.top() - knobSize - 2, knobSize + 4, canvas.height() + knobSize + 4)
        .toAlignedRect();
}

void WaveformTrimView::invalidate()
{
    m_handles[0] = m_handles[1] = QPixmap();
    m_surface = QPixmap();
    m_strip = QPixmap();
    m_playheadPixel = -1;
    update();
}

void WaveformTrimView::resizeEvent(QResizeEvent *event)
{
    m_surface = QPixmap();
    m_strip = QPixmap();
    m_playheadPixel = -1;
    QWidget::resizeEvent(event);
}

void WaveformTrimView::renderSurface(double ratio)
{
    m_surface = QPixmap((QSizeF(size()) * ratio).toSize());
    m_surface.setDevicePixelRatio(ratio);
    m_surface.fill(Qt::transparent);
    QPainter painter(&m_surface);
    painter.setRenderHint(QPainter::Antialiasing);
    const auto surface = surfaceRect().adjusted(0.5, 0.5, -0.5, -0.5);
    QLinearGradient fill(surface.topLeft(), surface.bottomLeft());
    if (isGothic(m_theme))
        fill.setStops({{0, color(black, 0.90)}, {0.5, color(midnight, 0.86)}, {1, color(plum, 0.48)}});
    else
        fill.setStops({{0, color(studioSlate, 0.88)}, {1, color(studioSlateLight, 0.78)}});
    painter.setPen(QPen(isGothic(m_theme) ? color(violet, 0.36) : color(white, 0.08), 1));
    painter.setBrush(fill);
    painter.drawRoundedRect(surface, surfaceRadius, surfaceRadius);
}

bool WaveformTrimView::stripCovers(double ratio) const
{
    const auto span = m_viewport.span();
    const auto start = m_viewport.clampedStart();
    return !m_strip.isNull() && m_strip.devicePixelRatio() == ratio && m_stripSpan == span && start >= m_stripStart
        && start + span <= m_stripStart + stripWindows * span;
}

void WaveformTrimView::renderStrip(double ratio)
{
    const auto canvas = canvasRect();
    const auto span = m_viewport.span();
    m_stripSpan = span;
    m_stripStart = m_viewport.clampedStart() - span * (stripWindows - 1) / 2;
    const QSizeF size(canvas.width() * stripWindows, canvas.height());
    QImage strip((size * ratio).toSize(), QImage::Format_ARGB32_Premultiplied);
    strip.fill(Qt::transparent);
    if (span > 0) {
        // Every value sits at its own time, so the strip scrolls without redrawing.
        const auto mid = size.height() / 2;
        const auto amplitude = std::max(size.height() * 0.42, 1.0);
        const auto count = m_peaks.size();
        const auto step = count > 1 ? m_viewport.duration / double(count - 1) : 0;
        std::vector<QLineF> lines;
        for (qsizetype i = 0; i < count; ++i) {
            const auto x = (step * double(i) - m_stripStart) / span * canvas.width();
            if (x < -4 || x > size.width() + 4)
                continue;
            const auto level = std::clamp(double(m_peaks[i]), 0.0, 1.0);
            lines.emplace_back(x * ratio, (mid - amplitude * level) * ratio, x * ratio,
                               (mid + amplitude * level) * ratio);
        }
        const auto stroke = [&](const QColor &color, double width) {
            WaveformBars::fill(strip, lines, width * ratio, color);
        };
        if (isGothic(m_theme)) {
            stroke(color(violetHot, 0.22), 1.0);
            stroke(color(violet, 0.34), 3.4);
            stroke(color(violetHot, 0.72), 1.1);
        } else {
            auto label = primaryText();
            label.setAlphaF(0.48f);
            stroke(label, 1);
        }
    }
    m_strip = QPixmap::fromImage(std::move(strip));
    m_strip.setDevicePixelRatio(ratio);
}

void WaveformTrimView::paintWaveform(QPainter &painter, double ratio)
{
    const auto canvas = canvasRect();
    if (m_peaks.isEmpty()) {
        auto lineColor = secondaryText();
        lineColor.setAlphaF(0.35f);
        painter.setPen(QPen(lineColor, 1));
        const auto mid = canvas.center().y();
        painter.drawLine(QPointF(canvas.left() + 18, mid), QPointF(canvas.right() - 18, mid));
        return;
    }
    if (!stripCovers(ratio))
        renderStrip(ratio);
    if (!(m_stripSpan > 0))
        return;
    // Whole device pixels keep the bars crisp while the window scrolls.
    const auto offset = std::round((m_viewport.clampedStart() - m_stripStart) / m_stripSpan * canvas.width() * ratio);
    const QRectF source(offset, 0, std::round(canvas.width() * ratio), m_strip.height());
    // Drawn one to one (no scaling), from a whole device pixel of the widget.
    const QPointF origin(std::round(canvas.left() * ratio) / ratio, std::round(canvas.top() * ratio) / ratio);
    painter.drawPixmap(origin, m_strip, source);
}

void WaveformTrimView::paintHandle(QPainter &painter, const QRectF &rect, bool start) const
{
    const bool gothic = isGothic(m_theme);
    QPainterPath shape;
    shape.addRoundedRect(rect, 5, 5);
    if (gothic) {
        for (int ring = 3; ring >= 1; --ring) {
            auto glow = color(violetHot, 0.72 * 0.18);
            painter.setPen(QPen(glow, ring * 2.0));
            painter.setBrush(Qt::NoBrush);
            painter.drawPath(shape);
        }
        QLinearGradient fill(rect.topLeft(), rect.bottomLeft());
        fill.setStops({{0, color(white, 0.96)}, {0.5, color(lavender, 0.92)}, {1, color(violetHot, 0.82)}});
        painter.setPen(QPen(color(white, 0.86), 1));
        painter.setBrush(fill);
    } else {
        painter.setPen(Qt::NoPen);
        painter.setBrush(accent(m_theme));
    }
    painter.drawPath(shape);

    // The chevron points out of the selection.
    auto mark = gothic ? color(ink, 0.88) : selectedControlText();
    if (!gothic)
        mark.setAlphaF(0.72f);
    const auto size = gothic ? 14.0 : 12.0;
    const auto c = rect.center();
    const auto half = size / 2;
    const auto dx = half * 0.42 * (start ? -1 : 1);
    QPainterPath chevron;
    chevron.moveTo(c.x() - dx, c.y() - half * 0.62);
    chevron.lineTo(c.x() + dx, c.y());
    chevron.lineTo(c.x() - dx, c.y() + half * 0.62);
    if (gothic)
        painter.strokePath(chevron.translated(0, 1),
                           QPen(color(white, 0.22), 3.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.strokePath(chevron, QPen(mark, gothic ? 2.8 : 2.4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
}

void WaveformTrimView::paintEvent(QPaintEvent *event)
{
    QPainter painter(this);
    const auto ratio = painter.device()->devicePixelRatioF();
    if (m_surface.isNull() || m_surface.devicePixelRatio() != ratio)
        renderSurface(ratio);
    painter.drawPixmap(0, 0, m_surface);
    paintWaveform(painter, ratio);

    const auto line = track();
    const auto canvas = canvasRect();
    const auto startX = std::clamp(line.x(m_trim.start, m_viewport), line.left, line.right);
    const auto endX = std::clamp(line.x(m_trim.end, m_viewport), line.left, line.right);
    painter.fillRect(
        QRectF(QPointF(startX, canvas.top()), QPointF(endX, canvas.bottom())),
        isGothic(m_theme) ? color(violet, 0.18) : [this] {
            auto fill = accent(m_theme);
            fill.setAlphaF(0.14f);
            return fill;
        }());

    if (m_playhead) {
        const auto x = line.x(*m_playhead, m_viewport);
        if (x >= line.left && x <= line.right) {
            const auto left = std::clamp(x - 1, line.left, line.right - 1);
            const auto knob = selectedControlText();
            painter.fillRect(QRectF(left, canvas.top(), 2, canvas.height()), knob);
            painter.setPen(Qt::NoPen);
            painter.setBrush(knob);
            painter.setRenderHint(QPainter::Antialiasing);
            painter.drawEllipse(QRectF(left + 1 - knobSize / 2, canvas.top() - knobSize, knobSize, knobSize));
        }
    }

    // A playhead strip leaves the handles and times alone unless it touches them.
    const QRectF dirty = event->rect().adjusted(-8, -8, 8, 8);
    for (const bool start : {true, false}) {
        const auto handle = handleRect(line.x(start ? m_trim.start : m_trim.end, m_viewport));
        if (!handle.intersects(dirty))
            continue;
        // Handles look the same wherever they are: drawn once, then copied.
        auto &cached = m_handles[start ? 0 : 1];
        const auto box =
            QRectF(QPointF(0, 0), handle.size()).adjusted(-handleGlow, -handleGlow, handleGlow, handleGlow);
        if (cached.isNull() || cached.devicePixelRatio() != ratio || cached.deviceIndependentSize() != box.size()) {
            cached = QPixmap((box.size() * ratio).toSize());
            cached.setDevicePixelRatio(ratio);
            cached.fill(Qt::transparent);
            QPainter handlePainter(&cached);
            handlePainter.setRenderHint(QPainter::Antialiasing);
            handlePainter.translate(handleGlow, handleGlow);
            paintHandle(handlePainter, QRectF(QPointF(0, 0), handle.size()), start);
        }
        // Copied from a whole device pixel: a fractional place would resample it.
        const auto at = handle.topLeft() + box.topLeft();
        painter.drawPixmap(QPointF(std::round(at.x() * ratio) / ratio, std::round(at.y() * ratio) / ratio), cached);
    }

    const QRectF labels(line.left, height() - labelRowHeight, line.width, labelRowHeight);
    if (!labels.intersects(dirty) && !m_loading)
        return;
    painter.setFont(TextStyles::caption());
    painter.setPen(secondaryText());
    painter.drawText(labels, Qt::AlignLeft | Qt::AlignVCenter, TimeText::editorClock(m_viewport.clampedStart()));
    painter.drawText(labels, Qt::AlignRight | Qt::AlignVCenter, TimeText::editorClock(m_viewport.visibleEnd()));

    // A coarse envelope shows while it refines; the text only stands in for none.
    if (m_loading && m_peaks.isEmpty()) {
        painter.setFont(TextStyles::callout(QFont::Medium));
        painter.setPen(primaryText());
        painter.drawText(canvas, Qt::AlignCenter, QStringLiteral("Loading waveform…"));
    }
}

void WaveformTrimView::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return QWidget::mousePressEvent(event);
    const auto point = event->position();
    const auto line = track();
    // The end handle wins when both overlap at the far left; the start one at the far right.
    const auto startRect = handleRect(line.x(m_trim.start, m_viewport)).adjusted(-4, 0, 4, 0);
    const auto endRect = handleRect(line.x(m_trim.end, m_viewport)).adjusted(-4, 0, 4, 0);
    const bool onStart = startRect.contains(point);
    const bool onEnd = endRect.contains(point);
    if (onStart && onEnd)
        m_drag = point.x() < line.left + line.width / 2 ? Drag::endHandle : Drag::startHandle;
    else if (onStart)
        m_drag = Drag::startHandle;
    else if (onEnd)
        m_drag = Drag::endHandle;
    else
        m_drag = Drag::surface;
    m_pressPoint = point;
    if (m_drag != Drag::surface)
        mouseMoveEvent(event);
}

void WaveformTrimView::mouseMoveEvent(QMouseEvent *event)
{
    const auto point = event->position();
    const auto line = track();
    switch (m_drag) {
    case Drag::none: return;
    case Drag::startHandle: {
        const auto start = m_viewport.startHandleTime(line.time(point.x(), m_viewport), m_trim.end);
        if (start != m_trim.start)
            emit trimEdited({start, m_trim.end});
        return;
    }
    case Drag::endHandle: {
        const auto end = m_viewport.endHandleTime(line.time(point.x(), m_viewport), m_trim.start);
        if (end != m_trim.end)
            emit trimEdited({m_trim.start, end});
        return;
    }
    case Drag::surface: {
        const auto translation = point.x() - m_pressPoint.x();
        if (m_viewport.clampedZoom() <= 1 || !(m_viewport.duration > 0) || !(m_viewport.span() > 0))
            return;
        if (!m_panBaseStart) {
            if (std::hypot(translation, point.y() - m_pressPoint.y()) < panThreshold)
                return;
            m_panBaseStart = m_viewport.clampedStart();
        }
        auto next = m_viewport;
        next.start = m_viewport.pannedStart(*m_panBaseStart, translation, line.width);
        emitViewport(next);
        return;
    }
    }
}

void WaveformTrimView::mouseReleaseEvent(QMouseEvent *)
{
    if (m_drag == Drag::surface && m_panBaseStart) {
        auto next = m_viewport;
        next.clamp();
        emitViewport(next);
    }
    m_drag = Drag::none;
    m_panBaseStart.reset();
}

void WaveformTrimView::wheelEvent(QWheelEvent *event)
{
    const auto line = track();
    if (event->modifiers() & Qt::ControlModifier) {
        const auto steps = event->angleDelta().y() / 120.0;
        if (steps == 0)
            return;
        const auto ratio = std::clamp((event->position().x() - line.left) / line.width, 0.0, 1.0);
        auto next = m_viewport;
        next.applyZoom(m_viewport.clampedZoom() * std::pow(1.25, steps), line.time(event->position().x(), m_viewport),
                       ratio);
        emitViewport(next);
        event->accept();
        return;
    }
    const auto dx = event->pixelDelta().isNull() ? event->angleDelta().x() / 4.0 : double(event->pixelDelta().x());
    if (dx != 0 && m_viewport.clampedZoom() > 1) {
        auto next = m_viewport;
        next.start = m_viewport.pannedStart(m_viewport.clampedStart(), dx, line.width);
        emitViewport(next);
        event->accept();
        return;
    }
    QWidget::wheelEvent(event);
}

bool WaveformTrimView::event(QEvent *event)
{
    if (event->type() != QEvent::NativeGesture)
        return QWidget::event(event);
    auto *gesture = static_cast<QNativeGestureEvent *>(event);
    switch (gesture->gestureType()) {
    case Qt::BeginNativeGesture:
        m_pinchBaseZoom.reset();
        m_pinchScale = 1;
        return true;
    case Qt::ZoomNativeGesture: {
        m_pinchScale *= 1 + gesture->value();
        if (!m_pinchBaseZoom) {
            m_pinchBaseZoom = m_viewport.zoom;
            m_pinchBaseStart = m_viewport.start;
        }
        const auto base = *m_pinchBaseZoom;
        const auto halfWindow = m_viewport.spanAt(base) * 0.5;
        auto next = m_viewport;
        next.applyZoom(WaveformViewport::clampZoom(m_pinchScale * base), m_pinchBaseStart + halfWindow, 0.5);
        emitViewport(next);
        return true;
    }
    case Qt::EndNativeGesture: m_pinchBaseZoom.reset(); return true;
    default: return QWidget::event(event);
    }
}

void WaveformTrimView::emitViewport(const WaveformViewport &viewport)
{
    if (viewport.zoom == m_viewport.zoom && viewport.start == m_viewport.start)
        return;
    emit viewportEdited(viewport.zoom, viewport.start);
}
