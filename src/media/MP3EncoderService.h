#pragma once

#include "base/AudioBitRate.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>
#include <qcoro/qcorotask.h>

/// Converts PCM files to MP3 with the external "lame" program from the Encoders folder.
class MP3EncoderService : public QObject {
    Q_OBJECT
public:
    /// Uses the "lame" in \a encodersFolder; empty means the installed or build-tree folder.
    explicit MP3EncoderService(QString encodersFolder = {}, QObject *parent = nullptr);

    /// share/vespertone/Encoders beside the executable's bin/ folder.
    [[nodiscard]] static QString defaultEncodersFolder();
    /// The encoder's path when a file exists there; looked up afresh on every call.
    [[nodiscard]] std::optional<QString> encoderLocation() const;
    /// True when the encoder exists and is executable.
    [[nodiscard]] bool isAvailable() const;
    /// The encoder's command line after the program: constant bit rate, no progress output.
    [[nodiscard]] static QStringList arguments(const QString &wavURL, const QString &destinationURL,
                                               AudioBitRate bitRate);
    /// Encodes \a wavURL into \a destinationURL off the calling thread; returns the destination.
    /// Throws MP3EncoderError (notPcmWav before the encoder runs when the input is no PCM WAV,
    /// encodingFailed when the encoder wrote no audio, cancelled after cancel()), or AppError
    /// when the encoder cannot be launched; a failed run leaves no new file.
    QCoro::Task<QString> encode(QString wavURL, QString destinationURL, AudioBitRate bitRate);
    /// Stops the encodings running now: their encoders are killed and they fail as cancelled.
    void cancel();

private:
    struct Runs;

    QString m_encodersFolder;
    std::shared_ptr<Runs> m_runs;
};
