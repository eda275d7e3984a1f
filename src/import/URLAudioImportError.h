#pragma once

#include "base/AppError.h"

/// Failures of a URL import.
class URLAudioImportError : public AppError {
public:
    enum class Code {
        streamingPage,
        webpageURL,
        downloadFailed,
        transcodeFailed,
        unsupportedURL,
        missingWebExtractor,
        noAudioTrack,
        cancelled,
    };

    /// \a text is the host for streamingPage and webpageURL, the detail (empty gives the fixed
    /// sentence) for downloadFailed and transcodeFailed, and unused otherwise.
    explicit URLAudioImportError(Code code, const QString &text = {});

    [[nodiscard]] Code code() const { return m_code; }

private:
    Code m_code;
};
