#pragma once

#include "ui/VespertoneTheme.h"

#include <QWidget>

/// A container drawn as a themed panel: glass or gothic by theme, with the numbers of its use.
/// Its shadows fall inside its own bounds, so the layout margins leave room for them.
class ThemedPanel : public QWidget {
    Q_OBJECT
public:
    /// \a padding is the room between the panel's edge and its content.
    ThemedPanel(VespertoneTheme::PanelUse use, AppThemeChoice theme, int padding, QWidget *parent = nullptr);

    [[nodiscard]] AppThemeChoice theme() const { return m_theme; }
    void setTheme(AppThemeChoice theme);
    /// Replaces the corner radius of the use (the control rail takes its radius from its user).
    void setCornerRadius(double radius);
    [[nodiscard]] VespertoneTheme::PanelParameters parameters() const;
    /// The panel's own rectangle, inside the room left for its shadows.
    [[nodiscard]] QRectF panelRect() const;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void updateMargins();

    VespertoneTheme::PanelUse m_use;
    AppThemeChoice m_theme;
    int m_padding;
    double m_cornerRadius = -1;
};
