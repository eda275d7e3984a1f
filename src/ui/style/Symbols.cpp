#include "ui/style/Symbols.h"

#include <QPainter>
#include <QPainterPath>
#include <QTransform>

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

namespace {
/// The outline of \a glyph in a unit square (0...1, y downwards); filled parts in \a solid.
QPainterPath outline(Glyph glyph, QPainterPath &solid)
{
    QPainterPath path;
    switch (glyph) {
    case Glyph::linkPlus:
        path.addRoundedRect(QRectF(0.02, 0.36, 0.44, 0.26), 0.13, 0.13);
        path.addRoundedRect(QRectF(0.30, 0.36, 0.44, 0.26), 0.13, 0.13);
        path.moveTo(0.86, 0.58);
        path.lineTo(0.86, 0.98);
        path.moveTo(0.66, 0.78);
        path.lineTo(1.0, 0.78);
        break;
    case Glyph::folder:
        path.moveTo(0.04, 0.84);
        path.lineTo(0.04, 0.18);
        path.lineTo(0.38, 0.18);
        path.lineTo(0.48, 0.30);
        path.lineTo(0.96, 0.30);
        path.lineTo(0.96, 0.84);
        path.closeSubpath();
        path.moveTo(0.04, 0.42);
        path.lineTo(0.96, 0.42);
        break;
    case Glyph::gear:
        for (int tooth = 0; tooth < 8; ++tooth) {
            QTransform turn;
            turn.translate(0.5, 0.5).rotate(tooth * 45);
            path.moveTo(turn.map(QPointF(0, -0.30)));
            path.lineTo(turn.map(QPointF(0, -0.46)));
        }
        path.addEllipse(QPointF(0.5, 0.5), 0.30, 0.30);
        path.addEllipse(QPointF(0.5, 0.5), 0.11, 0.11);
        break;
    case Glyph::share:
        path.moveTo(0.34, 0.40);
        path.lineTo(0.18, 0.40);
        path.lineTo(0.18, 0.96);
        path.lineTo(0.82, 0.96);
        path.lineTo(0.82, 0.40);
        path.lineTo(0.66, 0.40);
        path.moveTo(0.5, 0.64);
        path.lineTo(0.5, 0.04);
        path.moveTo(0.32, 0.20);
        path.lineTo(0.5, 0.04);
        path.lineTo(0.68, 0.20);
        break;
    case Glyph::refresh:
        path.arcMoveTo(QRectF(0.1, 0.1, 0.8, 0.8), 80);
        path.arcTo(QRectF(0.1, 0.1, 0.8, 0.8), 80, 300);
        path.moveTo(0.38, 0.02);
        path.lineTo(0.58, 0.10);
        path.lineTo(0.44, 0.27);
        break;
    case Glyph::microphone:
        solid.addRoundedRect(QRectF(0.34, 0.02, 0.32, 0.60), 0.16, 0.16);
        path.arcMoveTo(QRectF(0.20, 0.22, 0.60, 0.56), 180);
        path.arcTo(QRectF(0.20, 0.22, 0.60, 0.56), 180, 180);
        path.moveTo(0.5, 0.78);
        path.lineTo(0.5, 0.96);
        break;
    case Glyph::stop: solid.addRoundedRect(QRectF(0.12, 0.12, 0.76, 0.76), 0.12, 0.12); break;
    case Glyph::trash:
        path.moveTo(0.10, 0.22);
        path.lineTo(0.90, 0.22);
        path.moveTo(0.36, 0.22);
        path.lineTo(0.40, 0.06);
        path.lineTo(0.60, 0.06);
        path.lineTo(0.64, 0.22);
        path.moveTo(0.20, 0.22);
        path.lineTo(0.26, 0.96);
        path.lineTo(0.74, 0.96);
        path.lineTo(0.80, 0.22);
        path.moveTo(0.42, 0.40);
        path.lineTo(0.42, 0.80);
        path.moveTo(0.58, 0.40);
        path.lineTo(0.58, 0.80);
        break;
    case Glyph::waveform: break;
    case Glyph::arrowLeft:
    case Glyph::arrowRight:
    case Glyph::arrowUp:
    case Glyph::arrowDown: {
        path.moveTo(0.84, 0.5);
        path.lineTo(0.16, 0.5);
        path.moveTo(0.44, 0.2);
        path.lineTo(0.14, 0.5);
        path.lineTo(0.44, 0.8);
        const double turn = glyph == Glyph::arrowRight ? 180
            : glyph == Glyph::arrowUp                  ? 90
            : glyph == Glyph::arrowDown                ? -90
                                                       : 0;
        path = QTransform().translate(0.5, 0.5).rotate(turn).translate(-0.5, -0.5).map(path);
        break;
    }
    case Glyph::folderPlus:
        path = outline(Glyph::folder, solid);
        path.moveTo(0.5, 0.52);
        path.lineTo(0.5, 0.76);
        path.moveTo(0.38, 0.64);
        path.lineTo(0.62, 0.64);
        break;
    case Glyph::listView:
        for (int line = 0; line < 3; ++line) {
            const double y = 0.2 + line * 0.3;
            solid.addEllipse(QPointF(0.1, y), 0.06, 0.06);
            path.moveTo(0.3, y);
            path.lineTo(0.94, y);
        }
        break;
    case Glyph::detailView:
        path.addRoundedRect(QRectF(0.06, 0.1, 0.88, 0.8), 0.08, 0.08);
        path.moveTo(0.06, 0.36);
        path.lineTo(0.94, 0.36);
        path.moveTo(0.06, 0.63);
        path.lineTo(0.94, 0.63);
        path.moveTo(0.4, 0.1);
        path.lineTo(0.4, 0.9);
        break;
    case Glyph::keptWindow:
        path.arcMoveTo(QRectF(0.1, 0.1, 0.8, 0.8), 100);
        path.arcTo(QRectF(0.1, 0.1, 0.8, 0.8), 100, -300);
        path.moveTo(0.62, 0.02);
        path.lineTo(0.42, 0.10);
        path.lineTo(0.56, 0.27);
        solid.addEllipse(QPointF(0.5, 0.5), 0.12, 0.12);
        break;
    case Glyph::application:
        path.addRoundedRect(QRectF(0.06, 0.14, 0.88, 0.72), 0.10, 0.10);
        path.moveTo(0.06, 0.34);
        path.lineTo(0.94, 0.34);
        break;
    case Glyph::checklist:
        for (int line = 0; line < 3; ++line) {
            const double y = 0.18 + line * 0.32;
            path.moveTo(0.04, y);
            path.lineTo(0.12, y + 0.08);
            path.lineTo(0.26, y - 0.08);
            path.moveTo(0.40, y);
            path.lineTo(0.96, y);
        }
        break;
    }
    return path;
}
} // namespace

void glyph(QPainter &painter, Glyph glyph, const QRectF &box, double size, const QColor &color)
{
    if (glyph == Glyph::waveform) {
        waveform(painter, box, size, color);
        return;
    }
    QPainterPath solid;
    const auto path = outline(glyph, solid);
    QTransform place;
    place.translate(box.center().x() - size / 2, box.center().y() - size / 2).scale(size, size);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(color, std::max(1.2, size * 0.09), Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(place.map(path));
    painter.fillPath(place.map(solid), color);
    painter.restore();
}

} // namespace Symbols
