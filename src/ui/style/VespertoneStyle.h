#pragma once

#include "ui/style/AppThemeChoice.h"

#include <QProxyStyle>

/// The application's style: Fusion in the theme's dark palette, with the frames, dividers and
/// glyphs that Fusion draws too faintly on a dark surface (menus, popups, tooltips, text
/// fields, the file dialog's buttons) drawn in the theme's own colours.
class VespertoneStyle : public QProxyStyle {
    Q_OBJECT
public:
    explicit VespertoneStyle(AppThemeChoice theme);

    [[nodiscard]] AppThemeChoice theme() const { return m_theme; }
    /// Takes \a theme for what is drawn from now on; the caller repaints.
    void setTheme(AppThemeChoice theme);

    [[nodiscard]] QPalette standardPalette() const override;
    void drawPrimitive(PrimitiveElement element, const QStyleOption *option, QPainter *painter,
                       const QWidget *widget = nullptr) const override;
    void drawControl(ControlElement element, const QStyleOption *option, QPainter *painter,
                     const QWidget *widget = nullptr) const override;
    [[nodiscard]] int pixelMetric(PixelMetric metric, const QStyleOption *option = nullptr,
                                  const QWidget *widget = nullptr) const override;
    [[nodiscard]] int styleHint(StyleHint hint, const QStyleOption *option = nullptr, const QWidget *widget = nullptr,
                                QStyleHintReturn *returnData = nullptr) const override;
    [[nodiscard]] QIcon standardIcon(StandardPixmap icon, const QStyleOption *option = nullptr,
                                     const QWidget *widget = nullptr) const override;

private:
    AppThemeChoice m_theme;
};
