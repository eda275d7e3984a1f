#include "library/RecordingSourceContext.h"

QString RecordingSourceContext::displayTitle() const
{
    if (windowTitle && !windowTitle->isEmpty())
        return *windowTitle;
    if (appName)
        return *appName;
    return QStringLiteral("Unknown source");
}

RecordingSourceContext RecordingSourceContext::microphone(const QDateTime &capturedAt)
{
    RecordingSourceContext context;
    context.appName = QStringLiteral("Microphone");
    context.windowTitle = QStringLiteral("Default microphone");
    context.capturedAt = capturedAt;
    return context;
}
