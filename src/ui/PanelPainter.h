#pragma once

#include "ui/VespertoneTheme.h"

#include <QRectF>

class QPainter;

/// Paints the two themes' panels and the gothic control button with QPainter.
namespace PanelPainter {
/// Space a panel's shadows take outside its rectangle.
inline constexpr double shadowMargin = 14;

/// The gothic or the studio-glass panel of \a parameters filling \a rect, with its shadows
/// shrunk to reach at most \a shadowRoom beyond it.
void panel(QPainter &painter, const QRectF &rect, AppThemeChoice theme,
           const VespertoneTheme::PanelParameters &parameters, double shadowRoom = shadowMargin);
/// A soft shadow of a rounded rectangle, spread over \a shadow's radius, scaled down to reach
/// at most \a room beyond it.
void shadow(QPainter &painter, const QRectF &rect, double cornerRadius, VespertoneTheme::Shadow shadow,
            double room = shadowMargin);
/// The gothic control button's body in \a rect for \a look.
void gothicButton(QPainter &painter, const QRectF &rect, const VespertoneTheme::GothicButtonLook &look);
} // namespace PanelPainter
