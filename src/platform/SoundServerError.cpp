#include "platform/SoundServerError.h"

namespace {
QString message(SoundServerError::Code code)
{
    switch (code) {
    case SoundServerError::Code::unreachable: return QStringLiteral("The sound server could not be reached.");
    case SoundServerError::Code::noDefaultSink: return QStringLiteral("The sound server has no default output.");
    case SoundServerError::Code::noDefaultSource: return QStringLiteral("The sound server has no default input.");
    case SoundServerError::Code::streamFailed: break;
    }
    return QStringLiteral("The sound server refused the audio stream.");
}
} // namespace

SoundServerError::SoundServerError(Code code) : AppError(message(code)), m_code(code) {}
