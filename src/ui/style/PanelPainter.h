#pragma once

#include "ui/style/VespertoneTheme.h"

#include <QMarginsF>
#include <QRectF>

class QPainter;

/// Paints the two panel styles: the studio-glass panel and the gothic panel with its glow.
namespace PanelPainter {
/// The panel's glow and drop shadow, which fall outside \a panel.
void paintShadows(QPainter &painter, const QRectF &panel, const VespertoneTheme::PanelParameters &parameters,
                  AppThemeChoice theme);
/// Everything a panel draws behind its content inside its shape: material and tint.
void paintFill(QPainter &painter, const QRectF &panel, const VespertoneTheme::PanelParameters &parameters,
               AppThemeChoice theme);
/// Shadows, then fill.
void paintBackground(QPainter &painter, const QRectF &panel, const VespertoneTheme::PanelParameters &parameters,
                     AppThemeChoice theme);
/// Everything a panel draws over its content: the inner border and, in studio glass, the highlight.
void paintBorder(QPainter &painter, const QRectF &panel, const VespertoneTheme::PanelParameters &parameters,
                 AppThemeChoice theme);
/// Room a panel that draws its own shadows, inside its widget, leaves for them.
inline constexpr double shadowMargin = 14;
/// The whole panel in \a panel, its shadows shrunk to reach at most \a shadowRoom beyond it.
void paint(QPainter &painter, const QRectF &panel, AppThemeChoice theme,
           const VespertoneTheme::PanelParameters &parameters, double shadowRoom = shadowMargin);
/// The gothic control button's body in \a rect for \a look.
void gothicButton(QPainter &painter, const QRectF &rect, const VespertoneTheme::GothicButtonLook &look);
/// Room the shadows of a panel need around it.
[[nodiscard]] QMarginsF shadowMargins(AppThemeChoice theme);
} // namespace PanelPainter
