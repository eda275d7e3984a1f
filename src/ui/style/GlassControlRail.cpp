#include "ui/style/GlassControlRail.h"

#include <QHBoxLayout>

GlassControlRail::GlassControlRail(double cornerRadius, AppThemeChoice theme, QWidget *parent)
    : ThemedPanel(VespertoneTheme::PanelUse::controlRail, theme, int(VespertoneTheme::controlRailPadding), parent),
      m_row(new QHBoxLayout(this))
{
    setCornerRadius(cornerRadius);
    m_row->setContentsMargins(0, 0, 0, 0);
    m_row->setSpacing(10);
}
