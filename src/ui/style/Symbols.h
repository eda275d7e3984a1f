#pragma once

#include <QColor>
#include <QRectF>

class QPainter;

/// The small line symbols the views draw: the waveform, the sort chevrons and the toolbar's glyphs.
namespace Symbols {
/// Five rounded bars of varied height, centred in \a box, \a height points tall.
void waveform(QPainter &painter, const QRectF &box, double height, const QColor &color);
/// A bold chevron pointing up or down, \a size points wide, centred in \a box.
void chevron(QPainter &painter, const QRectF &box, double size, bool up, const QColor &color);

/// The glyphs of toolbar items and panels, each drawn to fill a square.
enum class Glyph {
    linkPlus,
    folder,
    gear,
    share,
    refresh,
    microphone,
    stop,
    trash,
    checklist,
    waveform,
    arrowLeft,
    arrowRight,
    arrowUp,
    arrowDown,
    folderPlus,
    listView,
    detailView,
    keptWindow,  ///< an arrow turning back around a dot: the last seconds kept
    application, ///< a window: an application without an icon of its own
};
/// Draws \a glyph centred in \a box, \a size points square, in \a color.
void glyph(QPainter &painter, Glyph glyph, const QRectF &box, double size, const QColor &color);
} // namespace Symbols
