#include "ui/PanelFrame.h"

#include "ui/PanelPainter.h"

#include <QPainter>

namespace {
/// Room kept round the panel for its shadows, within the widget.
constexpr int margin = 6;
} // namespace

PanelFrame::PanelFrame(Style style, QWidget *parent) : QWidget(parent), m_style(std::move(style))
{
    setContentsMargins(margin, margin, margin, margin);
}

void PanelFrame::setTheme(AppThemeChoice theme)
{
    m_theme = theme;
    update();
}

QRectF PanelFrame::panelRect() const
{
    return QRectF(rect()).adjusted(margin, margin, -margin, -margin);
}

void PanelFrame::paintEvent(QPaintEvent *)
{
    const auto parameters = m_style(m_theme);
    if (!parameters)
        return;
    QPainter painter(this);
    PanelPainter::panel(painter, panelRect(), m_theme, *parameters);
}
