#pragma once

#include <QColor>
#include <QImage>
#include <QLineF>
#include <span>

/// Fills vertical bars into an image with exact area coverage, as an antialiased painter fills
/// the same rectangles, at a small part of the cost.
class WaveformBars {
public:
    /// Blends each of \a lines (vertical, in device pixels) as a bar \a width device pixels wide
    /// in \a color over \a image, which must be premultiplied ARGB32.
    static void fill(QImage &image, std::span<const QLineF> lines, double width, const QColor &color);
};
