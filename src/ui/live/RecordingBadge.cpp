#include "ui/live/RecordingBadge.h"

#include "ui/common/PulseAnimation.h"
#include "ui/style/VespertoneTheme.h"

#include <QPainter>

RecordingBadge::RecordingBadge(AppThemeChoice theme, QWidget *parent)
    : QWidget(parent), m_theme(theme), m_pulse(new PulseAnimation(750, this))
{
    setFixedSize(54, 54);
    setAccessibleName(QStringLiteral("Recording"));
    connect(m_pulse, &PulseAnimation::valueChanged, this, qOverload<>(&QWidget::update));
}

void RecordingBadge::setTheme(AppThemeChoice theme)
{
    m_theme = theme;
    update();
}

bool RecordingBadge::isBreathing() const
{
    return m_pulse->isRunning();
}

void RecordingBadge::showEvent(QShowEvent *)
{
    // Set once when first shown, never reset: the badge breathes from then on.
    if (!m_pulse->isRunning())
        m_pulse->start();
}

void RecordingBadge::paintEvent(QPaintEvent *)
{
    namespace Theme = VespertoneTheme;
    const double p = m_pulse->value();
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    const auto centre = QRectF(rect()).center();
    const auto glow = m_theme == AppThemeChoice::gothic ? Theme::color(Theme::violetHot, 0.06 + 0.18 * p)
                                                        : Theme::recordingRed(0.04 + 0.18 * p);
    painter.setBrush(glow);
    painter.drawEllipse(centre, 27, 27);
    painter.setBrush(Theme::recordingRed(0.42 + 0.58 * p));
    painter.drawEllipse(centre, 9, 9);
}
