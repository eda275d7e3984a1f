#pragma once

#include <QFont>

/// The text sizes the views use, in points of the layout (device-independent pixels).
namespace TextStyles {
/// 12 points: row titles and control labels.
[[nodiscard]] QFont callout(QFont::Weight weight = QFont::Normal);
/// 10 points: column headers and row details.
[[nodiscard]] QFont caption(QFont::Weight weight = QFont::Normal);
/// \a pixels points in \a weight, for larger display texts.
[[nodiscard]] QFont sized(int pixels, QFont::Weight weight);
} // namespace TextStyles
