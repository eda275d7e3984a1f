#pragma once

#include "base/AppError.h"

/// Failures of the capture service; writerFailed carries its own sentence.
class AudioCaptureError : public AppError {
public:
    enum class Code {
        writerFailed,
        alreadyRecording,
        noActiveRecording,
        missingScreenCapturePermission,
        missingMicrophonePermission,
        noDisplayAvailable,
        noMicrophoneAvailable,
        writerSetupFailed,
        soundServerUnavailable, ///< no sound server answered
        noAudioOutputAvailable, ///< the server has no default output to record
        captureInterrupted,     ///< the source ended during a take
        applicationUnavailable, ///< the application's streams could not be recorded
        notKeeping,             ///< no window of the last seconds is kept
        nothingKept,            ///< the window holds nothing yet
    };

    explicit AudioCaptureError(Code code);
    /// writerFailed with \a message.
    [[nodiscard]] static AudioCaptureError writerFailed(const QString &message);
    /// writerFailed for the system error \a errnum: "The disk is full." for ENOSPC and EFBIG,
    /// else the system's own text; notSavedMessage() when \a errnum is 0.
    [[nodiscard]] static AudioCaptureError writeFailed(int errnum);

    [[nodiscard]] Code code() const { return m_code; }

    /// The only writerFailed sentence the service produces itself.
    [[nodiscard]] static QString notSavedMessage() { return QStringLiteral("The recording could not be saved."); }

private:
    AudioCaptureError(Code code, const QString &message);

    Code m_code;
};
