#pragma once

#include "library/RecordingMetadata.h"

#include <QDateTime>
#include <QMetaType>
#include <QString>

/// One audio file of the library with its sidecar content and measured length.
struct RecordingItem {
    QString url;                ///< absolute path of the audio file
    RecordingMetadata metadata; ///< its sidecar content, or a fresh value
    double duration = 0;        ///< seconds, measured at the last scan
    QDateTime createdAt;        ///< equal to metadata.createdAt when built by the scanner

    /// Selection identity: the file's path text.
    [[nodiscard]] const QString &id() const { return url; }

    bool operator==(const RecordingItem &) const = default;
};

Q_DECLARE_METATYPE(RecordingItem)
