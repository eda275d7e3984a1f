#pragma once

#include <QObject>
#include <QString>
#include <atomic>
#include <memory>
#include <qcoro/qcorotask.h>

/// Cuts a time range of a recording into an AAC file in an M4A container.
class AudioTrimmer : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    /// Writes start...end seconds of \a url into the work file \a destinationURL (created or
    /// truncated) and returns it once complete. Throws AudioTrimmerError (exportFailed when no
    /// audio could be encoded, cancelled after cancel()) or the decoder's error, removing
    /// \a destinationURL then. The source is never modified.
    QCoro::Task<QString> trim(QString url, double start, double end, QString destinationURL);
    /// Stops the trims running now, which then fail as cancelled.
    void cancel();

private:
    std::shared_ptr<std::atomic<bool>> m_cancelled = std::make_shared<std::atomic<bool>>(false);
};
