#include "ui/live/LiveRecordingWaveformView.h"

#include "ui/style/VespertoneTheme.h"

#include <QPainter>
#include <QPainterPath>

namespace Theme = VespertoneTheme;

namespace {
/// How many levels a canvas \a width wide shows.
std::size_t visibleCount(double width)
{
    return std::max<std::size_t>(1, std::size_t(width * 0.5));
}

struct Colors {
    QColor background;
    QColor border;
    QColor centreLine;
};

Colors colors(AppThemeChoice theme)
{
    if (theme == AppThemeChoice::gothic)
        return {Theme::color(Theme::ink, 0.94), Theme::color(Theme::violet, 0.30),
                Theme::color(Theme::violetHot, 0.18)};
    auto centre = Theme::secondaryText();
    centre.setAlphaF(centre.alphaF() * 0.18);
    return {Theme::color(Theme::studioLiveSurface, 0.84), Theme::color(Theme::white, 0.08), centre};
}
} // namespace

LiveRecordingWaveformView::LiveRecordingWaveformView(AppThemeChoice theme, QWidget *parent)
    : QWidget(parent), m_theme(theme)
{
    setAccessibleName(QStringLiteral("Live waveform"));
    setMinimumHeight(280);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

void LiveRecordingWaveformView::setTheme(AppThemeChoice theme)
{
    m_theme = theme;
    update();
}

void LiveRecordingWaveformView::setPeaks(const std::vector<float> &peaks)
{
    const auto count = std::min(peaks.size(), visibleCount(width()));
    m_tail.assign(peaks.end() - std::ptrdiff_t(count), peaks.end());
    update();
}

QVector<QLineF> LiveRecordingWaveformView::bars(const std::vector<float> &peaks, QSizeF size)
{
    const auto count = std::min(peaks.size(), visibleCount(size.width()));
    const auto first = peaks.end() - std::ptrdiff_t(count);
    const double step = size.width() / double(std::max<std::size_t>(count, 2) - 1);
    const double scale = std::max(size.height() * 0.42, 1.0);
    const double mid = size.height() * 0.5;
    QVector<QLineF> lines;
    lines.reserve(qsizetype(count));
    for (std::size_t i = 0; i < count; ++i) {
        const double x = step * double(i);
        const double level = first[std::ptrdiff_t(i)];
        lines.append(QLineF(x, mid - scale * level, x, mid + scale * level));
    }
    return lines;
}

void LiveRecordingWaveformView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF canvas(rect());
    const double mid = canvas.height() * 0.5;
    const auto palette = colors(m_theme);
    QPainterPath frame;
    frame.addRoundedRect(canvas, Theme::liveWaveformCanvasRadius, Theme::liveWaveformCanvasRadius);
    painter.fillPath(frame, palette.background);
    if (m_tail.empty()) {
        auto line = Theme::secondaryText();
        line.setAlphaF(line.alphaF() * 0.34);
        painter.setPen(QPen(line, 1));
        painter.drawLine(QPointF(24, mid), QPointF(canvas.width() - 24, mid));
    } else {
        QPainterPath path;
        for (const auto &bar : bars(m_tail, canvas.size())) {
            path.moveTo(bar.p1());
            path.lineTo(bar.p2());
        }
        if (m_theme == AppThemeChoice::gothic) {
            painter.strokePath(path, QPen(Theme::color(Theme::violet, 0.36), 4));
            painter.strokePath(path, QPen(Theme::color(Theme::violetHot, 0.84), 1.4));
        } else {
            painter.strokePath(path, QPen(Theme::recordingRed(0.84), 1.4));
        }
        painter.setPen(QPen(palette.centreLine, 1));
        painter.drawLine(QPointF(0, mid), QPointF(canvas.width(), mid));
    }
    QPen border(palette.border, 1);
    border.setMiterLimit(10);
    painter.strokePath(
        [&] {
            QPainterPath inset;
            inset.addRoundedRect(canvas.adjusted(0.5, 0.5, -0.5, -0.5), Theme::liveWaveformCanvasRadius,
                                 Theme::liveWaveformCanvasRadius);
            return inset;
        }(),
        border);
}
