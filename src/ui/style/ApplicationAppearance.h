#pragma once

#include "ui/style/AppThemeChoice.h"

#include <QObject>

class ThemeController;
class VespertoneStyle;

/// Gives the whole application the theme's dark palette and style, whatever the desktop's
/// colour scheme, so every dialog, menu, tooltip and popup matches the windows; follows each
/// theme change at once, open dialogs included.
class ApplicationAppearance : public QObject {
    Q_OBJECT
public:
    /// Call once the QApplication exists; \a theme outlives this object.
    explicit ApplicationAppearance(ThemeController &theme, QObject *parent = nullptr);

    /// Takes \a theme application-wide.
    void apply(AppThemeChoice theme);

private:
    VespertoneStyle *m_style; ///< owned by the application
};
