#include "ui/style/ThemeController.h"

#include "store/StoreSettings.h"

ThemeController::ThemeController(StoreSettings &settings, QObject *parent)
    : QObject(parent), m_settings(settings), m_theme(AppThemeChoices::stored(settings))
{}

void ThemeController::setTheme(AppThemeChoice theme)
{
    if (theme == m_theme)
        return;
    m_theme = theme;
    emit themeChanged(theme);
    m_settings.setText(StoreSettings::themeKey, AppThemeChoices::rawValue(theme));
}
