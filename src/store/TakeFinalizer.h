#pragma once

#include "base/AudioBitRate.h"
#include "capture/RecordingEncodingSettings.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <qcoro/qcorotask.h>

class FileOperations;
class MP3EncoderService;

/// Turns a finished capture file into a durable library file. The PCM take of an MP3 recording
/// is encoded into the library (kept as WAV when that fails); takes that a stopped process left
/// in the work folder are finished the same way, exactly once.
class TakeFinalizer : public QObject {
    Q_OBJECT
public:
    /// The library file and the status text that reports it.
    struct Result {
        QString url;
        QString status;
    };

    /// Uses the "lame" in \a encodersFolder (empty means the installed one) and publishes
    /// through \a files, which outlives it.
    TakeFinalizer(QString encodersFolder, FileOperations &files, QObject *parent = nullptr);

    /// The work-folder names of the PCM takes that recoverLeftoverTakes finishes.
    [[nodiscard]] static QString leftoverTakePattern();

    [[nodiscard]] bool canEncodeMP3() const;
    /// The library file of the take captured into \a captureURL with \a settings, synced with
    /// its folder. Throws AppError when the audio cannot be kept (an MP3 take's audio then stays
    /// in the work folder).
    QCoro::Task<Result> finalize(QString captureURL, QString folder, RecordingEncodingSettings settings);
    /// Finishes every take a stopped process left in \a folder's work folder and returns the
    /// library files made. Takes that a live process holds are left alone.
    QCoro::Task<QStringList> recoverLeftoverTakes(QString folder, AudioBitRate bitRate);
    /// Encodes the PCM WAV \a wav into the new file \a mp3 through a work file in the work
    /// folder of \a mp3's folder, published once complete. Throws MP3EncoderError or AppError.
    QCoro::Task<> encodeMP3(QString wav, QString mp3, AudioBitRate bitRate);
    /// Stops the running encodings, which then fail with the cancelled error.
    void cancelEncoding();

private:
    QCoro::Task<Result> publishPCMTake(QString wav, QString folder, AudioBitRate bitRate);

    MP3EncoderService *m_encoder;
    FileOperations &m_files;
};
