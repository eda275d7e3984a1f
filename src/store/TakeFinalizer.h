#pragma once

#include "base/AudioBitRate.h"
#include "capture/RecordingEncodingSettings.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <qcoro/qcorotask.h>

class MP3EncoderService;

/// Turns a finished capture file into a library file. The PCM take of an MP3 recording is
/// encoded into the library (kept as WAV when that fails); takes that a stopped process left
/// in the work folder are finished the same way, exactly once.
class TakeFinalizer : public QObject {
    Q_OBJECT
public:
    /// The library file and the status text that reports it.
    struct Result {
        QString url;
        QString status;
    };

    /// Uses the "lame" in \a encodersFolder; empty means the installed one.
    explicit TakeFinalizer(QString encodersFolder, QObject *parent = nullptr);

    [[nodiscard]] bool canEncodeMP3() const;
    /// The library file of the take captured into \a captureURL with \a settings. Throws
    /// AppError when the audio cannot be kept (it then stays in the work folder).
    QCoro::Task<Result> finalize(QString captureURL, QString folder, RecordingEncodingSettings settings);
    /// Finishes every take a stopped process left in \a folder's work folder and returns the
    /// library files made. Takes that a live process holds are left alone.
    QCoro::Task<QStringList> recoverLeftoverTakes(QString folder, AudioBitRate bitRate);

private:
    QCoro::Task<Result> publishPCMTake(QString wav, QString folder, AudioBitRate bitRate);

    MP3EncoderService *m_encoder;
};
