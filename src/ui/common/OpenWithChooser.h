#pragma once

#include <QString>

/// The desktop's "open with" chooser for a file.
namespace OpenWithChooser {
/// Offers \a path to the applications that open it, through the desktop portal's chooser; opens
/// it with its default application where no portal answers. Returns at once.
void open(const QString &path);
} // namespace OpenWithChooser
