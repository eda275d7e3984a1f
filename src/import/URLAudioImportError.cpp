#include "import/URLAudioImportError.h"

namespace {
QString describe(URLAudioImportError::Code code, const QString &text)
{
    using Code = URLAudioImportError::Code;
    switch (code) {
    case Code::streamingPage:
        return text
            + QStringLiteral(" links are web pages, not direct media files. Open the page and use Record to capture "
                             "playback.");
    case Code::webpageURL:
        return text
            + QStringLiteral(" returned a web page instead of audio/video. Use a direct media file URL or record "
                             "playback.");
    case Code::downloadFailed: return text.isEmpty() ? QStringLiteral("The URL could not be downloaded.") : text;
    case Code::transcodeFailed: return text.isEmpty() ? QStringLiteral("The URL audio could not be converted.") : text;
    case Code::unsupportedURL: return QStringLiteral("Paste a direct http or https audio/video file URL.");
    case Code::missingWebExtractor:
        return QStringLiteral("Web page extraction requires yt-dlp. Install it with “sudo apt install yt-dlp”, then "
                              "try again.");
    case Code::noAudioTrack:
        return QStringLiteral("No readable audio track was found. Web pages and protected streams are not supported.");
    case Code::cancelled: return QStringLiteral("The import was cancelled.");
    }
    return {};
}
} // namespace

URLAudioImportError::URLAudioImportError(Code code, const QString &text) : AppError(describe(code, text)), m_code(code)
{}
