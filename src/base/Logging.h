#pragma once

#include <QLoggingCategory>

#include <exception>

/// The program's logging categories, one per area ("vespertone.capture", ...). Failures the user
/// is shown and failures deliberately ignored are warnings with their cause; debug output is off
/// unless enabled, e.g. QT_LOGGING_RULES="vespertone.*.debug=true".
Q_DECLARE_LOGGING_CATEGORY(lcCapture)
Q_DECLARE_LOGGING_CATEGORY(lcImport)
Q_DECLARE_LOGGING_CATEGORY(lcLibrary)
Q_DECLARE_LOGGING_CATEGORY(lcStore)
Q_DECLARE_LOGGING_CATEGORY(lcMedia)
Q_DECLARE_LOGGING_CATEGORY(lcAnalysis)
Q_DECLARE_LOGGING_CATEGORY(lcHotkeys)
Q_DECLARE_LOGGING_CATEGORY(lcPlatform)
Q_DECLARE_LOGGING_CATEGORY(lcUi)

/// Logs \a error, a failure the program goes on without, as a warning of \a category.
void logIgnoredFailure(const QLoggingCategory &category, const std::exception &error);
/// Logs \a error, a failure shown to the user as the status, as a warning of \a category.
void logShownFailure(const QLoggingCategory &category, const std::exception &error);
