#include "ui/style/AppThemeChoice.h"

#include "store/StoreSettings.h"

namespace AppThemeChoices {

QString rawValue(AppThemeChoice theme)
{
    return theme == AppThemeChoice::studioGlass ? QStringLiteral("studioGlass") : QStringLiteral("gothic");
}

AppThemeChoice fromRawValue(const QString &raw)
{
    return raw == QLatin1String("studioGlass") ? AppThemeChoice::studioGlass : AppThemeChoice::gothic;
}

QString title(AppThemeChoice theme)
{
    return theme == AppThemeChoice::studioGlass ? QStringLiteral("Studio Glass") : QStringLiteral("Gothic");
}

AppThemeChoice stored(const StoreSettings &settings)
{
    return fromRawValue(settings.text(StoreSettings::themeKey));
}

} // namespace AppThemeChoices
