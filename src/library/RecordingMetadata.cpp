#include "library/RecordingMetadata.h"

RecordingMetadata RecordingMetadata::fresh(const QDateTime &createdAt)
{
    RecordingMetadata metadata;
    metadata.createdAt = createdAt;
    return metadata;
}
