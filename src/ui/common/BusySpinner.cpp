#include "ui/common/BusySpinner.h"

#include <QPainter>
#include <cmath>

BusySpinner::BusySpinner(int diameter, QWidget *parent) : QWidget(parent)
{
    setFixedSize(diameter, diameter);
    setAccessibleName(QStringLiteral("In progress"));
    m_timer.setInterval(100);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        m_step = (m_step + 1) % 8;
        update();
    });
}

void BusySpinner::paint(QPainter &painter, const QRectF &box, double diameter, int step, const QColor &color)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(box.center());
    const double outer = diameter / 2;
    for (int spoke = 0; spoke < 8; ++spoke) {
        QColor shade = color;
        shade.setAlphaF(color.alphaF() * (0.25 + 0.75 * ((spoke - step + 8) % 8) / 7.0));
        painter.setPen(QPen(shade, std::max(1.5, diameter * 0.12), Qt::SolidLine, Qt::RoundCap));
        const double angle = spoke * M_PI / 4;
        const QPointF direction(std::sin(angle), -std::cos(angle));
        painter.drawLine(direction * outer * 0.45, direction * (outer - 1));
    }
    painter.restore();
}

void BusySpinner::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    paint(painter, rect(), width(), m_step, palette().color(QPalette::WindowText));
}

void BusySpinner::showEvent(QShowEvent *)
{
    m_timer.start();
}

void BusySpinner::hideEvent(QHideEvent *)
{
    m_timer.stop();
}
