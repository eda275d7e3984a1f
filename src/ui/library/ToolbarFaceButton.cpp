#include "ui/library/ToolbarFaceButton.h"

#include "ui/common/BusySpinner.h"
#include "ui/common/PulseAnimation.h"
#include "ui/style/VespertoneTheme.h"

#include <QPainter>
#include <QPainterPath>

ToolbarFaceButton::ToolbarFaceButton(QList<RecordingInputSource> sources, QWidget *parent)
    : QAbstractButton(parent), m_sources(std::move(sources)), m_spinner(new BusySpinner(14, this)),
      m_pulse(new PulseAnimation(820, this))
{
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
    m_spinner->hide();
    connect(m_pulse, &PulseAnimation::valueChanged, this, qOverload<>(&QWidget::update));
}

void ToolbarFaceButton::setCaptureState(const CaptureState &state, std::optional<RecordingInputSource> activeSource)
{
    const bool wasActive = isActive();
    m_state = state;
    m_activeSource = activeSource;
    setFixedSize(faceWidth(), 24);
    m_spinner->move((faceWidth() - m_spinner->width()) / 2, (24 - m_spinner->height()) / 2);
    m_spinner->setVisible(isWorking());
    if (wasActive != isActive())
        followActivity();
    describe();
    update();
}

bool ToolbarFaceButton::isActive() const
{
    return m_state.is(CaptureState::Kind::recording) && m_activeSource && m_sources.contains(*m_activeSource);
}

bool ToolbarFaceButton::isWorking() const
{
    return (m_state.is(CaptureState::Kind::preparing) || m_state.is(CaptureState::Kind::finishing)) && m_activeSource
        && m_sources.contains(*m_activeSource);
}

double ToolbarFaceButton::pulse() const
{
    return m_pulse->value();
}

bool ToolbarFaceButton::isPulsing() const
{
    return m_pulse->isRunning();
}

QSize ToolbarFaceButton::sizeHint() const
{
    return {faceWidth(), 24};
}

void ToolbarFaceButton::followActivity()
{
    if (isActive() && isVisible())
        m_pulse->start();
    else
        m_pulse->stop();
}

void ToolbarFaceButton::showEvent(QShowEvent *)
{
    followActivity();
}

void ToolbarFaceButton::hideEvent(QHideEvent *)
{
    m_pulse->stop();
}

void ToolbarFaceButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (isEnabled() && (isDown() || underMouse() || hasFocus())) {
        QPainterPath hit;
        hit.addRoundedRect(QRectF(rect()), VespertoneTheme::toolbarButtonCornerRadius,
                           VespertoneTheme::toolbarButtonCornerRadius);
        painter.fillPath(hit, VespertoneTheme::toolbarHover(isDown()));
    }
    if (!isEnabled())
        painter.setOpacity(0.45);
    if (!isWorking())
        paintFace(painter);
}
