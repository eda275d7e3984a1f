#include "ui/ThemedPanel.h"

#include "ui/PanelPainter.h"

#include <QPainter>

ThemedPanel::ThemedPanel(VespertoneTheme::PanelUse use, AppThemeChoice theme, int padding, QWidget *parent)
    : QWidget(parent), m_use(use), m_theme(theme), m_padding(padding)
{
    updateMargins();
}

void ThemedPanel::setTheme(AppThemeChoice theme)
{
    m_theme = theme;
    updateMargins();
    update();
}

void ThemedPanel::setCornerRadius(double radius)
{
    m_cornerRadius = radius;
    update();
}

VespertoneTheme::PanelParameters ThemedPanel::parameters() const
{
    auto parameters = VespertoneTheme::panel(m_use, m_theme);
    if (m_cornerRadius >= 0)
        parameters.cornerRadius = m_cornerRadius;
    return parameters;
}

QRectF ThemedPanel::panelRect() const
{
    return QRectF(rect()) - PanelPainter::shadowMargins(m_theme);
}

void ThemedPanel::updateMargins()
{
    const auto room = PanelPainter::shadowMargins(m_theme).toMargins();
    setContentsMargins(room + QMargins(m_padding, m_padding, m_padding, m_padding));
}

void ThemedPanel::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const auto panel = panelRect();
    PanelPainter::paintBackground(painter, panel, parameters(), m_theme);
    PanelPainter::paintBorder(painter, panel, parameters(), m_theme);
}
