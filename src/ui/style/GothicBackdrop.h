#pragma once

#include <QRectF>

class QPainter;

/// The gothic window's bottom-trailing decoration: a blurred violet moon over a skyline.
namespace GothicBackdrop {
/// Paints the backdrop into \a area.
void paint(QPainter &painter, const QRectF &area);
/// The skyline's rectangle in \a area: at most 420 wide, 34 % of the width on narrow windows.
[[nodiscard]] QRectF horizonRect(const QRectF &area);
} // namespace GothicBackdrop
