#include "ui/style/PanelMessageView.h"

#include "ui/style/ThemedPanel.h"

#include <QGridLayout>
#include <QVBoxLayout>

PanelMessageView::PanelMessageView(AppThemeChoice theme, QWidget *parent)
    : QWidget(parent), m_panel(new ThemedPanel(VespertoneTheme::PanelUse::emptyAndMultiSelection, theme, 22, this)),
      m_column(new QVBoxLayout(m_panel))
{
    auto *centre = new QGridLayout(this);
    centre->addWidget(m_panel, 0, 0, Qt::AlignCenter);
    m_column->setContentsMargins(0, 0, 0, 0);
    m_column->setSpacing(12);
    m_column->setAlignment(Qt::AlignHCenter);
}

void PanelMessageView::setTheme(AppThemeChoice theme)
{
    m_panel->setTheme(theme);
}

AppThemeChoice PanelMessageView::theme() const
{
    return m_panel->theme();
}
