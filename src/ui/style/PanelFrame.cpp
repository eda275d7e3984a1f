#include "ui/style/PanelFrame.h"

#include "ui/style/PanelPainter.h"

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
    m_cache = QPixmap();
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
    // Children repaint small strips over the panel (the playhead): those blit the cached panel.
    const auto ratio = painter.device()->devicePixelRatioF();
    if (m_cache.isNull() || m_cache.deviceIndependentSize() != QSizeF(size()) || m_cache.devicePixelRatio() != ratio) {
        m_cache = QPixmap((QSizeF(size()) * ratio).toSize());
        m_cache.setDevicePixelRatio(ratio);
        m_cache.fill(Qt::transparent);
        QPainter cache(&m_cache);
        PanelPainter::paint(cache, panelRect(), m_theme, *parameters, margin);
    }
    painter.drawPixmap(0, 0, m_cache);
}
