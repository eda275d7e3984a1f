#pragma once

#include <QObject>
#include <QString>
#include <qcoro/qcorotask.h>

/// Cuts a time range of a recording into an AAC file in an M4A container.
class AudioTrimmer : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    /// Writes start...end seconds of \a url to \a destinationURL and returns it. The audio is
    /// written to a temporary file beside it that replaces it only when complete, so a file
    /// already there (such as a reserved empty one) is left as it was on failure. Throws
    /// AudioTrimmerError (or the decoder's error). The source is never modified.
    QCoro::Task<QString> trim(QString url, double start, double end, QString destinationURL);
};
