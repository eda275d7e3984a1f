#include "ui/editor/WaveformBars.h"

#include <algorithm>
#include <cmath>

namespace {

/// \a pixel scaled by \a alpha / 255, the four channels at once in two lanes.
quint32 scaled(quint32 pixel, quint32 alpha)
{
    quint32 even = (pixel & 0x00ff00ffU) * alpha;
    quint32 odd = ((pixel >> 8) & 0x00ff00ffU) * alpha;
    even = ((even + ((even >> 8) & 0x00ff00ffU) + 0x00800080U) >> 8) & 0x00ff00ffU;
    odd = ((odd + ((odd >> 8) & 0x00ff00ffU) + 0x00800080U)) & 0xff00ff00U;
    return even | odd;
}

/// \a source over \a target, both premultiplied.
quint32 over(quint32 source, quint32 target)
{
    return source + scaled(target, 255 - (source >> 24));
}

/// How much of the pixel row or column [cell, cell + 1) lies inside [from, to).
double overlap(double from, double to, int cell)
{
    return std::max(0.0, std::min(to, double(cell) + 1) - std::max(from, double(cell)));
}

} // namespace

void WaveformBars::fill(QImage &image, std::span<const QLineF> lines, double width, const QColor &color)
{
    Q_ASSERT(image.format() == QImage::Format_ARGB32_Premultiplied);
    const int columns = image.width(), rows = image.height();
    const auto premultiplied = qPremultiply(color.rgba());
    auto *bits = image.bits();
    const auto stride = image.bytesPerLine();
    for (const auto &line : lines) {
        const double left = line.x1() - width / 2, right = left + width;
        const double top = std::clamp(std::min(line.y1(), line.y2()), 0.0, double(rows));
        const double bottom = std::clamp(std::max(line.y1(), line.y2()), 0.0, double(rows));
        if (!(bottom > top))
            continue;
        const int firstColumn = std::max(0, int(std::floor(left)));
        const int lastColumn = std::min(columns - 1, int(std::ceil(right)) - 1);
        const int firstRow = int(std::floor(top));
        const int lastRow = std::min(rows - 1, int(std::ceil(bottom)) - 1);
        for (int x = firstColumn; x <= lastColumn; ++x) {
            const double across = overlap(left, right, x);
            if (!(across > 0))
                continue;
            const auto inner = scaled(premultiplied, quint32(std::lround(across * 255)));
            for (int y = firstRow; y <= lastRow; ++y) {
                auto *pixel = reinterpret_cast<quint32 *>(bits + y * stride) + x;
                const double down = overlap(top, bottom, y);
                const auto source =
                    down >= 1 ? inner : scaled(premultiplied, quint32(std::lround(across * down * 255)));
                *pixel = over(source, *pixel);
            }
        }
    }
}
