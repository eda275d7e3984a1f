#pragma once

#include "library/RecordingItem.h"

#include <QStringList>
#include <QVector>

/// What a scan of the save folder found. The scan itself never writes: whatever it found
/// to mend is left to the caller on the GUI thread.
struct RecordingScanResult {
    QVector<RecordingItem> items; ///< newest first
    /// Audio files whose metadata came from a legacy sidecar, to migrate on the GUI thread.
    QStringList legacyAudioURLs;
    /// Audio entries skipped because their names are not valid UTF-8 and Qt cannot open them,
    /// for the terminal tool to report once on stderr (undecodable bytes shown as U+FFFD).
    QStringList unlistedNames;
};
