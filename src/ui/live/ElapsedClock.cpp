#include "ui/live/ElapsedClock.h"

#include <QFontDatabase>
#include <QPainter>

ElapsedClock::ElapsedClock(QWidget *parent) : QWidget(parent), m_color(Qt::white)
{
    auto font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPixelSize(34);
    font.setWeight(QFont::DemiBold);
    setFont(font);
    m_animation.setStartValue(0.0);
    m_animation.setEndValue(1.0);
    m_animation.setDuration(280);
    m_animation.setEasingCurve(QEasingCurve::OutCubic);
    connect(&m_animation, &QVariantAnimation::valueChanged, this, [this](const QVariant &value) {
        m_roll = value.toDouble();
        update();
    });
}

void ElapsedClock::setText(const QString &text)
{
    if (text == m_text)
        return;
    m_previous = m_text;
    m_text = text;
    setAccessibleName(text);
    updateGeometry();
    if (isVisible() && m_previous.size() == m_text.size()) {
        m_animation.stop();
        m_animation.start();
    } else {
        m_roll = 1;
    }
    update();
}

void ElapsedClock::setColor(const QColor &color)
{
    m_color = color;
    update();
}

QSize ElapsedClock::sizeHint() const
{
    return {fontMetrics().horizontalAdvance(m_text.isEmpty() ? QStringLiteral("0:00") : m_text),
            fontMetrics().height()};
}

void ElapsedClock::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setClipRect(rect());
    const auto metrics = fontMetrics();
    const double advance = metrics.horizontalAdvance(QLatin1Char('0'));
    const double left = width() - advance * m_text.size();
    const double baseline = (height() + metrics.ascent() - metrics.descent()) / 2.0;
    const double travel = metrics.height() * 0.6;
    for (qsizetype i = 0; i < m_text.size(); ++i) {
        const double x = left + advance * double(i);
        const bool rolling = m_roll < 1 && i < m_previous.size() && m_previous[i] != m_text[i];
        if (!rolling) {
            painter.setPen(m_color);
            painter.drawText(QPointF(x, baseline), QString(m_text[i]));
            continue;
        }
        // Counting up: the old digit leaves upwards as the new one rises from below.
        QColor leaving = m_color;
        leaving.setAlphaF(m_color.alphaF() * (1 - m_roll));
        painter.setPen(leaving);
        painter.drawText(QPointF(x, baseline - travel * m_roll), QString(m_previous[i]));
        QColor arriving = m_color;
        arriving.setAlphaF(m_color.alphaF() * m_roll);
        painter.setPen(arriving);
        painter.drawText(QPointF(x, baseline + travel * (1 - m_roll)), QString(m_text[i]));
    }
}
