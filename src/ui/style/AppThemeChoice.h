#pragma once

#include <QString>
#include <array>

class StoreSettings;

/// The two visual themes of the program.
enum class AppThemeChoice { studioGlass, gothic };

namespace AppThemeChoices {
/// Every theme, in picker order.
inline constexpr std::array all{AppThemeChoice::studioGlass, AppThemeChoice::gothic};

/// The case name, as stored in settings.
[[nodiscard]] QString rawValue(AppThemeChoice theme);
/// "studioGlass" is the studio-glass theme; any other text, empty included, is gothic.
[[nodiscard]] AppThemeChoice fromRawValue(const QString &raw);
/// The picker text, e.g. "Studio Glass".
[[nodiscard]] QString title(AppThemeChoice theme);
/// The theme stored in \a settings; gothic when absent or unknown.
[[nodiscard]] AppThemeChoice stored(const StoreSettings &settings);
} // namespace AppThemeChoices
