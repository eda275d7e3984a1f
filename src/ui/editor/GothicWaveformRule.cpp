#include "ui/editor/GothicWaveformRule.h"

#include "ui/style/VespertoneTheme.h"

#include <QLinearGradient>
#include <QPainter>

GothicWaveformRule::GothicWaveformRule(QWidget *parent) : QWidget(parent)
{
    setFixedHeight(2);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void GothicWaveformRule::paintEvent(QPaintEvent *)
{
    using namespace VespertoneTheme;
    QLinearGradient gradient(0, 0, width(), 0);
    gradient.setStops({{0, color(lavender, 0)},
                       {0.25, color(lavender, 0.74)},
                       {0.5, color(violet, 0.5)},
                       {0.75, color(lavender, 0.74)},
                       {1, color(lavender, 0)}});
    QPainter painter(this);
    painter.fillRect(QRectF(0, 0.5, width(), 1), gradient);
}
