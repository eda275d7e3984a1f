#include "ui/Symbols.h"

#include <QPainter>
#include <QPainterPath>

namespace Symbols {

void waveform(QPainter &painter, const QRectF &box, double height, const QColor &color)
{
    static constexpr double bars[] = {0.36, 0.72, 1.0, 0.58, 0.30};
    const double pitch = height * 0.26;
    const double width = height * 0.13;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(color, width, Qt::SolidLine, Qt::RoundCap));
    const auto centre = box.center();
    for (int bar = 0; bar < 5; ++bar) {
        const double x = centre.x() + (bar - 2) * pitch;
        const double half = std::max(0.0, bars[bar] * height - width) / 2;
        painter.drawLine(QPointF(x, centre.y() - half), QPointF(x, centre.y() + half));
    }
    painter.restore();
}

void chevron(QPainter &painter, const QRectF &box, double size, bool up, const QColor &color)
{
    const auto centre = box.center();
    const double half = size / 2;
    const double rise = size / 4 * (up ? 1 : -1);
    QPainterPath path;
    path.moveTo(centre.x() - half, centre.y() + rise);
    path.lineTo(centre.x(), centre.y() - rise);
    path.lineTo(centre.x() + half, centre.y() + rise);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(color, size * 0.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.drawPath(path);
    painter.restore();
}

} // namespace Symbols
