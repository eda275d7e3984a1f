#include "base/Logging.h"

#include "base/AppError.h"

// Debug messages only when enabled through the logging rules.
Q_LOGGING_CATEGORY(lcCapture, "vespertone.capture", QtInfoMsg)
Q_LOGGING_CATEGORY(lcImport, "vespertone.import", QtInfoMsg)
Q_LOGGING_CATEGORY(lcLibrary, "vespertone.library", QtInfoMsg)
Q_LOGGING_CATEGORY(lcStore, "vespertone.store", QtInfoMsg)
Q_LOGGING_CATEGORY(lcMedia, "vespertone.media", QtInfoMsg)
Q_LOGGING_CATEGORY(lcAnalysis, "vespertone.analysis", QtInfoMsg)
Q_LOGGING_CATEGORY(lcHotkeys, "vespertone.hotkeys", QtInfoMsg)
Q_LOGGING_CATEGORY(lcPlatform, "vespertone.platform", QtInfoMsg)
Q_LOGGING_CATEGORY(lcUi, "vespertone.ui", QtInfoMsg)

void logIgnoredFailure(const QLoggingCategory &category, const std::exception &error)
{
    qCWarning(category).noquote() << "ignored:" << errorText(error);
}

void logShownFailure(const QLoggingCategory &category, const std::exception &error)
{
    qCWarning(category).noquote() << "failed:" << errorText(error);
}
