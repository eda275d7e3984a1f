#include "ui/PanelPainter.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <cmath>

namespace PanelPainter {
namespace {
QLinearGradient diagonal(const QRectF &rect, const QGradientStops &stops)
{
    QLinearGradient gradient(rect.topLeft(), rect.bottomRight());
    gradient.setStops(stops);
    return gradient;
}

QPainterPath rounded(const QRectF &rect, double radius)
{
    QPainterPath path;
    path.addRoundedRect(rect, radius, radius);
    return path;
}

void strokeInside(QPainter &painter, const QRectF &rect, double radius, double width, const QBrush &brush)
{
    const auto half = width / 2;
    painter.setPen(QPen(brush, width));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(rect.adjusted(half, half, -half, -half), std::max(radius - half, 0.0),
                            std::max(radius - half, 0.0));
}
} // namespace

void shadow(QPainter &painter, const QRectF &rect, double cornerRadius, VespertoneTheme::Shadow shadow, double room)
{
    if (shadow.color.alphaF() <= 0)
        return;
    const auto reach = shadow.radius + std::max(std::abs(shadow.offset.x()), std::abs(shadow.offset.y()));
    if (reach > room) {
        shadow.radius *= room / reach;
        shadow.offset *= room / reach;
    }
    // Rings of falling opacity outside the shape stand in for a blur.
    constexpr int rings = 6;
    const auto outline = rounded(rect, cornerRadius);
    painter.save();
    painter.setPen(Qt::NoPen);
    QPainterPath outside;
    outside.addRect(
        rect.translated(shadow.offset).adjusted(-shadow.radius, -shadow.radius, shadow.radius, shadow.radius));
    painter.setClipPath(outside.subtracted(outline));
    for (int ring = rings; ring >= 1; --ring) {
        const auto spread = shadow.radius * ring / rings;
        auto color = shadow.color;
        color.setAlphaF(shadow.color.alphaF() * (1.0 - double(ring - 1) / rings) / rings * 1.6);
        painter.setBrush(color);
        painter.drawPath(
            rounded(rect.translated(shadow.offset).adjusted(-spread / 2, -spread / 2, spread / 2, spread / 2),
                    cornerRadius + spread / 2));
    }
    painter.restore();
}

void panel(QPainter &painter, const QRectF &rect, AppThemeChoice theme,
           const VespertoneTheme::PanelParameters &parameters, double shadowRoom)
{
    using namespace VespertoneTheme;
    const auto radius = parameters.cornerRadius;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    const auto shape = rounded(rect, radius);
    if (theme == AppThemeChoice::gothic) {
        PanelPainter::shadow(painter, rect, radius, gothicPanelDropShadow(), shadowRoom);
        PanelPainter::shadow(painter, rect, radius, gothicPanelGlow(parameters.shadowOpacity), shadowRoom);
        painter.fillPath(shape, material(parameters.material));
        painter.fillPath(shape, diagonal(rect, gothicPanelFill(parameters.tintOpacity)));
        strokeInside(painter, rect, radius, gothicPanelBorderWidth,
                     diagonal(rect, gothicPanelBorder(parameters.borderOpacity)));
    } else {
        PanelPainter::shadow(painter, rect, radius, glassPanelDropShadow(parameters.shadowOpacity), shadowRoom);
        PanelPainter::shadow(painter, rect, radius, glassPanelGlow(parameters.shadowOpacity), shadowRoom);
        painter.fillPath(shape, material(parameters.material));
        painter.fillPath(shape, diagonal(rect, glassPanelFill(parameters.tintOpacity)));
        strokeInside(painter, rect, radius, glassPanelBorderWidth,
                     diagonal(rect, glassPanelBorder(parameters.borderOpacity)));
        painter.setCompositionMode(QPainter::CompositionMode_Screen);
        strokeInside(painter, rect, radius, 1, diagonal(rect, glassPanelHighlight()));
    }
    painter.restore();
}

void gothicButton(QPainter &painter, const QRectF &rect, const VespertoneTheme::GothicButtonLook &look)
{
    using namespace VespertoneTheme;
    const auto radius = gothicButtonCornerRadius;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setOpacity(look.opacity);
    PanelPainter::shadow(painter, rect, radius, look.shadow, 2);
    const auto shape = rounded(rect, radius);
    painter.fillPath(shape, look.fill);
    painter.fillPath(shape, diagonal(rect, look.sheen));
    strokeInside(painter, rect, radius, 1, diagonal(rect, look.border));
    painter.restore();
}
} // namespace PanelPainter
