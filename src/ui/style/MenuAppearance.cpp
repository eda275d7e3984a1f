#include "ui/style/MenuAppearance.h"

#include "ui/style/VespertoneTheme.h"

#include <QMenu>

void MenuAppearance::apply(QMenu &menu, AppThemeChoice theme)
{
    menu.setPalette(VespertoneTheme::darkAppearance(theme));
    // Dividers drawn from the palette vanish on the dark appearance; they get a faint line.
    menu.setStyleSheet(QStringLiteral("QMenu::separator { height: 1px; margin: 4px 10px;"
                                      " background: rgba(255, 255, 255, 0.14); }"));
}
