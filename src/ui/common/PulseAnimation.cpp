#include "ui/common/PulseAnimation.h"

#include <QEasingCurve>

PulseAnimation::PulseAnimation(int halfPeriodMs, QObject *parent) : QObject(parent)
{
    // One loop runs 0 → 2: up to 1 and back down, each half eased in and out.
    m_animation.setStartValue(0.0);
    m_animation.setEndValue(2.0);
    m_animation.setDuration(2 * halfPeriodMs);
    m_animation.setLoopCount(-1);
    connect(&m_animation, &QVariantAnimation::valueChanged, this, [this](const QVariant &value) {
        const double phase = value.toDouble();
        m_value = QEasingCurve(QEasingCurve::InOutSine).valueForProgress(phase <= 1 ? phase : 2 - phase);
        emit valueChanged();
    });
}

bool PulseAnimation::isRunning() const
{
    return m_animation.state() == QAbstractAnimation::Running;
}

void PulseAnimation::start()
{
    m_animation.stop();
    m_value = 0;
    m_animation.start();
}

void PulseAnimation::stop()
{
    m_animation.stop();
    m_value = 0;
    emit valueChanged();
}
