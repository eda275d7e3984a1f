#pragma once

#include "ui/style/AppThemeChoice.h"
#include "ui/style/VespertoneTheme.h"

#include <QPixmap>
#include <QWidget>
#include <functional>
#include <optional>

/// A widget that draws a themed panel behind its layout, leaving room for the panel's shadow.
class PanelFrame : public QWidget {
    Q_OBJECT
public:
    /// The panel numbers for a theme; none draws no panel.
    using Style = std::function<std::optional<VespertoneTheme::PanelParameters>(AppThemeChoice)>;

    PanelFrame(Style style, QWidget *parent = nullptr);

    void setTheme(AppThemeChoice theme);
    /// The panel's rectangle inside the widget.
    [[nodiscard]] QRectF panelRect() const;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    Style m_style;
    QPixmap m_cache; ///< the panel at the current size and theme; null when stale
    AppThemeChoice m_theme = AppThemeChoice::gothic;
};
