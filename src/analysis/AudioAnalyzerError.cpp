#include "analysis/AudioAnalyzerError.h"

AudioAnalyzerError::AudioAnalyzerError(Code code)
    : AppError(QStringLiteral("The audio file could not be analyzed.")), m_code(code)
{}
