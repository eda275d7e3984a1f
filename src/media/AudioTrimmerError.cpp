#include "media/AudioTrimmerError.h"

namespace {
QString describe(AudioTrimmerError::Code code)
{
    switch (code) {
    case AudioTrimmerError::Code::invalidRange: return QStringLiteral("The trim range is too short.");
    case AudioTrimmerError::Code::exportUnavailable:
        return QStringLiteral("This file cannot be exported as an M4A trim.");
    case AudioTrimmerError::Code::cancelled: return QStringLiteral("The trim was cancelled.");
    case AudioTrimmerError::Code::exportFailed: break;
    }
    return QStringLiteral("The trim could not be saved.");
}
} // namespace

AudioTrimmerError::AudioTrimmerError(Code code, const QString &cause)
    : AppError(cause.isEmpty() ? describe(code) : describe(code) + u' ' + cause), m_code(code)
{}
