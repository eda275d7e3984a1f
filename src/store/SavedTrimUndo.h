#pragma once

#include <QString>

/// The one undoable saved trim.
struct SavedTrimUndo {
    QString originalURL; ///< the recording that was trimmed
    QString trimmedURL;  ///< the file the trim produced

    bool operator==(const SavedTrimUndo &) const = default;
};
