#pragma once

#include "ui/style/VespertoneTheme.h"

#include <QWidget>

/// A container drawn as a themed panel: glass or gothic by theme, with the numbers of its use.
/// Its shadows fall outside it, so they are painted on its parent, under the parent's children.
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

protected:
    void paintEvent(QPaintEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

    VespertoneTheme::PanelUse m_use;
    AppThemeChoice m_theme;
    double m_cornerRadius = -1;
};
