#include "ui/style/GothicBackdrop.h"

#include "ui/style/BlurredShadow.h"
#include "ui/style/VespertoneTheme.h"

#include <QPainter>
#include <QPainterPath>

namespace Theme = VespertoneTheme;

namespace GothicBackdrop {

QRectF horizonRect(const QRectF &area)
{
    const double width = std::min(area.width() * 0.34, 420.0);
    const double height = 130;
    return {area.right() - width - 24, area.bottom() - height + 8, width, height};
}

void paint(QPainter &painter, const QRectF &area)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    // The moon: a 260-point circle blurred by 28, drawn as its own soft shadow.
    const double moon = 260;
    QPainterPath circle;
    circle.addEllipse(QRectF(area.right() - moon - 120, area.bottom() - moon - 120, moon, moon));
    BlurredShadow::paint(painter, circle, QStringLiteral("moon"), {Theme::color(Theme::violet, 0.12), 28, {}});

    const auto box = horizonRect(area);
    QPainterPath skyline;
    skyline.addPolygon(Theme::gothicHorizon(box.size()));
    skyline.translate(box.topLeft());
    BlurredShadow::paint(painter, skyline, QStringLiteral("horizon"), {Theme::color(Theme::violet, 0.28), 24, {}});
    painter.fillPath(skyline, Theme::color(Theme::black, 0.42));
    painter.restore();
}

} // namespace GothicBackdrop
