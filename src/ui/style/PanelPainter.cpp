#include "ui/style/PanelPainter.h"

#include "ui/style/BlurredShadow.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <cmath>

namespace Theme = VespertoneTheme;

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

/// Strokes \a panel's outline inside its edge, \a width wide.
void strokeInside(QPainter &painter, const QRectF &panel, double radius, double width, const QBrush &brush)
{
    const double inset = width / 2;
    QPen pen(brush, width);
    pen.setJoinStyle(Qt::MiterJoin);
    pen.setMiterLimit(10);
    painter.strokePath(rounded(panel.adjusted(inset, inset, -inset, -inset), std::max(0.0, radius - inset)), pen);
}

/// \a shadow scaled down so that it reaches at most \a room beyond its shape.
Theme::Shadow within(Theme::Shadow shadow, double room)
{
    const double reach =
        BlurredShadow::reach(shadow.radius) + std::max(std::abs(shadow.offset.x()), std::abs(shadow.offset.y()));
    if (reach > room) {
        shadow.radius *= room / reach;
        shadow.offset *= room / reach;
    }
    return shadow;
}
} // namespace

namespace PanelPainter {

void paintShadows(QPainter &painter, const QRectF &panel, const Theme::PanelParameters &parameters,
                  AppThemeChoice theme)
{
    const double radius = parameters.cornerRadius;
    if (theme == AppThemeChoice::gothic) {
        BlurredShadow::paint(painter, panel, radius, Theme::gothicPanelDropShadow());
        BlurredShadow::paint(painter, panel, radius, Theme::gothicPanelGlow(parameters.shadowOpacity));
    } else {
        BlurredShadow::paint(painter, panel, radius, Theme::glassPanelDropShadow(parameters.shadowOpacity));
        BlurredShadow::paint(painter, panel, radius, Theme::glassPanelGlow(parameters.shadowOpacity));
    }
}

void paintFill(QPainter &painter, const QRectF &panel, const Theme::PanelParameters &parameters, AppThemeChoice theme)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    const auto shape = rounded(panel, parameters.cornerRadius);
    painter.fillPath(shape, Theme::material(parameters.material));
    painter.fillPath(shape,
                     diagonal(panel,
                              theme == AppThemeChoice::gothic ? Theme::gothicPanelFill(parameters.tintOpacity)
                                                              : Theme::glassPanelFill(parameters.tintOpacity)));
    painter.restore();
}

void paintBackground(QPainter &painter, const QRectF &panel, const Theme::PanelParameters &parameters,
                     AppThemeChoice theme)
{
    paintShadows(painter, panel, parameters, theme);
    paintFill(painter, panel, parameters, theme);
}

void paintBorder(QPainter &painter, const QRectF &panel, const Theme::PanelParameters &parameters, AppThemeChoice theme)
{
    const double radius = parameters.cornerRadius;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    if (theme == AppThemeChoice::gothic) {
        strokeInside(painter, panel, radius, Theme::gothicPanelBorderWidth,
                     diagonal(panel, Theme::gothicPanelBorder(parameters.borderOpacity)));
    } else {
        strokeInside(painter, panel, radius, Theme::glassPanelBorderWidth,
                     diagonal(panel, Theme::glassPanelBorder(parameters.borderOpacity)));
        painter.setCompositionMode(QPainter::CompositionMode_Screen);
        QPen highlight(diagonal(panel, Theme::glassPanelHighlight()), 1);
        highlight.setMiterLimit(10);
        painter.strokePath(rounded(panel, radius), highlight);
    }
    painter.restore();
}

void paint(QPainter &painter, const QRectF &panel, AppThemeChoice theme, const Theme::PanelParameters &parameters,
           double shadowRoom)
{
    const double radius = parameters.cornerRadius;
    const bool gothic = theme == AppThemeChoice::gothic;
    const auto drop = gothic ? Theme::gothicPanelDropShadow() : Theme::glassPanelDropShadow(parameters.shadowOpacity);
    const auto glow =
        gothic ? Theme::gothicPanelGlow(parameters.shadowOpacity) : Theme::glassPanelGlow(parameters.shadowOpacity);
    BlurredShadow::paint(painter, panel, radius, within(drop, shadowRoom));
    BlurredShadow::paint(painter, panel, radius, within(glow, shadowRoom));
    paintFill(painter, panel, parameters, theme);
    paintBorder(painter, panel, parameters, theme);
}

void gothicButton(QPainter &painter, const QRectF &rect, const Theme::GothicButtonLook &look)
{
    const double radius = Theme::gothicButtonCornerRadius;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setOpacity(painter.opacity() * look.opacity);
    BlurredShadow::paint(painter, rect, radius, within(look.shadow, 2));
    const auto shape = rounded(rect, radius);
    painter.fillPath(shape, look.fill);
    painter.fillPath(shape, diagonal(rect, look.sheen));
    strokeInside(painter, rect, radius, 1, diagonal(rect, look.border));
    painter.restore();
}

QMarginsF shadowMargins(AppThemeChoice theme)
{
    const auto drop = theme == AppThemeChoice::gothic ? Theme::gothicPanelDropShadow() : Theme::glassPanelDropShadow(0);
    const double reach = BlurredShadow::reach(drop.radius);
    return {reach, reach - drop.offset.y(), reach, reach + drop.offset.y()};
}

} // namespace PanelPainter
