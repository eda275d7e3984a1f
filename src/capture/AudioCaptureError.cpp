#include "capture/AudioCaptureError.h"

#include <cerrno>
#include <cstring>

namespace {
QString message(AudioCaptureError::Code code)
{
    using Code = AudioCaptureError::Code;
    switch (code) {
    case Code::writerFailed: return AudioCaptureError::notSavedMessage();
    case Code::alreadyRecording: return QStringLiteral("A recording is already running.");
    case Code::noActiveRecording: return QStringLiteral("No recording is active.");
    case Code::missingScreenCapturePermission:
        return QStringLiteral("Permission to capture the desktop's sound is required to record system audio.");
    case Code::missingMicrophonePermission:
        return QStringLiteral("Microphone permission is required to record the mic.");
    case Code::noDisplayAvailable: return QStringLiteral("No display was available for system audio capture.");
    case Code::noMicrophoneAvailable: return QStringLiteral("No microphone input was available.");
    case Code::writerSetupFailed: return QStringLiteral("The audio writer could not be prepared.");
    case Code::soundServerUnavailable: return QStringLiteral("The sound server could not be reached.");
    case Code::noAudioOutputAvailable: return QStringLiteral("No audio output was available for system audio capture.");
    case Code::applicationUnavailable: return QStringLiteral("The application's sound could not be recorded.");
    case Code::notKeeping:
        return QStringLiteral("Nothing is being kept: choose “Keep the last … seconds” in Settings.");
    case Code::nothingKept: return QStringLiteral("Nothing has been heard yet.");
    case Code::captureInterrupted: break;
    }
    return QStringLiteral("The audio source stopped during the recording.");
}
} // namespace

AudioCaptureError::AudioCaptureError(Code code) : AppError(message(code)), m_code(code) {}

AudioCaptureError::AudioCaptureError(Code code, const QString &text) : AppError(text), m_code(code) {}

AudioCaptureError AudioCaptureError::writerFailed(const QString &message)
{
    return AudioCaptureError(Code::writerFailed, message);
}

AudioCaptureError AudioCaptureError::writeFailed(int errnum)
{
    if (errnum == ENOSPC || errnum == EFBIG)
        return writerFailed(QStringLiteral("The disk is full."));
    if (errnum == 0)
        return writerFailed(notSavedMessage());
    return writerFailed(QString::fromLocal8Bit(std::strerror(errnum)) + u'.');
}
