#include "media/MP3EncoderError.h"

namespace {
QString describe(MP3EncoderError::Code code, const QString &diagnostics)
{
    switch (code) {
    case MP3EncoderError::Code::missingEncoder: return QStringLiteral("The LAME MP3 encoder is missing. Install it with “sudo apt install lame”.");
    case MP3EncoderError::Code::notPcmWav: return QStringLiteral("“%1” is not a PCM WAV file.").arg(diagnostics);
    case MP3EncoderError::Code::cancelled: return QStringLiteral("The MP3 encoding was cancelled.");
    case MP3EncoderError::Code::encodingFailed: break;
    }
    return diagnostics.isEmpty() ? QStringLiteral("MP3 encoding failed.") : diagnostics;
}
} // namespace

MP3EncoderError::MP3EncoderError(Code code, const QString &diagnostics)
    : AppError(describe(code, diagnostics)), m_code(code)
{}
