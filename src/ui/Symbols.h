#pragma once

#include <QColor>
#include <QRectF>

class QPainter;

/// The small line symbols the views draw: the waveform and the sort chevrons.
namespace Symbols {
/// Five rounded bars of varied height, centred in \a box, \a height points tall.
void waveform(QPainter &painter, const QRectF &box, double height, const QColor &color);
/// A bold chevron pointing up or down, \a size points wide, centred in \a box.
void chevron(QPainter &painter, const QRectF &box, double size, bool up, const QColor &color);
} // namespace Symbols
