#pragma once

#include "ui/style/AppThemeChoice.h"

#include <QObject>

class StoreSettings;

/// The theme every window shows: read from the settings, written back when chosen, and
/// announced so each open window restyles at once.
class ThemeController : public QObject {
    Q_OBJECT
public:
    /// \a settings outlives this object.
    explicit ThemeController(StoreSettings &settings, QObject *parent = nullptr);

    [[nodiscard]] AppThemeChoice theme() const { return m_theme; }
    /// Stores \a theme and announces it; a failed write is thrown as AppError, the theme still applies.
    void setTheme(AppThemeChoice theme);

signals:
    void themeChanged(AppThemeChoice theme);

private:
    StoreSettings &m_settings;
    AppThemeChoice m_theme;
};
