#pragma once

#include "ui/style/VespertoneTheme.h"

#include <QPainterPath>
#include <QPixmap>

/// Soft shadows of rounded shapes, rendered once per size, radius, colour and scale and then
/// taken from the pixmap cache.
namespace BlurredShadow {
/// How far a shadow of blur \a radius reaches beyond its shape.
[[nodiscard]] inline double reach(double radius)
{
    return radius;
}
/// Paints \a shadow of the rounded rectangle \a shape (corner radius \a cornerRadius).
void paint(QPainter &painter, const QRectF &shape, double cornerRadius, const VespertoneTheme::Shadow &shadow);
/// Paints \a shadow of an arbitrary \a path; \a key names the path's form for the cache.
void paint(QPainter &painter, const QPainterPath &path, const QString &key, const VespertoneTheme::Shadow &shadow);
} // namespace BlurredShadow
