#pragma once

#include "library/RecordingItem.h"

#include <QList>
#include <QPair>
#include <QStringList>
#include <QVector>

/// What a scan of the save folder found. The scan itself never writes: whatever it found
/// to mend is left to the caller on the GUI thread.
struct RecordingScanResult {
    QVector<RecordingItem> items; ///< newest first
    /// Audio files whose metadata came from a legacy sidecar, to migrate on the GUI thread.
    QStringList legacyAudioURLs;
    /// Sidecars left behind by a move that stopped before the sidecar followed its audio, each
    /// with the audio file it belongs to: the items already carry their metadata, and the store
    /// gives each sidecar its audio's name.
    QList<QPair<QString, QString>> reunitedSidecars;
    /// Old names of sidecars that a stopped move had already given their new names, to drop.
    QStringList staleSidecarNames;
    /// Audio entries skipped because their names are not valid UTF-8 and Qt cannot open them,
    /// for the terminal tool to report once on stderr (undecodable bytes shown as U+FFFD).
    QStringList unlistedNames;
};
