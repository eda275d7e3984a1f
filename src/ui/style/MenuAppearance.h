#pragma once

#include "ui/style/AppThemeChoice.h"

class QMenu;

namespace MenuAppearance {
/// Gives \a menu (and the menus inside it) the dark appearance of \a theme, with visible dividers.
void apply(QMenu &menu, AppThemeChoice theme);
} // namespace MenuAppearance
