#include "platform/CaptureTarget.h"

bool CaptureTarget::plays(const PlaybackStream &stream) const
{
    if (kind != Kind::application)
        return false;
    if (processId)
        return stream.processId == processId;
    const auto name = stream.appName ? stream.appName : stream.processBinary;
    return name && !applicationName.isEmpty() && name->compare(applicationName, Qt::CaseInsensitive) == 0;
}
