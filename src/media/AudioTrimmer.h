#pragma once

#include <QObject>
#include <QString>
#include <qcoro/qcorotask.h>

/// Cuts a time range of a recording into a new AAC file in an M4A container beside it.
class AudioTrimmer : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    /// Writes start...end seconds of \a url to a new "NAME Trim.m4a" and returns its path;
    /// throws AudioTrimmerError (or the decoder's error). The source is never modified.
    QCoro::Task<QString> trim(QString url, double start, double end, QString destinationURL);
};
