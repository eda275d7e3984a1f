#include "media/AudioFileError.h"

#include <QFileInfo>

namespace {
QString describe(AudioFileError::Code code, const QString &path)
{
    const auto name = QFileInfo(path).fileName();
    switch (code) {
    case AudioFileError::Code::cannotOpen: return QStringLiteral("The file “%1” couldn’t be opened.").arg(name);
    case AudioFileError::Code::noAudioStream: return QStringLiteral("The file “%1” contains no audio.").arg(name);
    case AudioFileError::Code::decodeFailed: break;
    }
    return QStringLiteral("The file “%1” could not be decoded.").arg(name);
}
} // namespace

AudioFileError::AudioFileError(Code code, const QString &path) : AppError(describe(code, path)), m_code(code) {}
