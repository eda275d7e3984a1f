#pragma once

#include "capture/RecordingEncodingSettings.h"
#include "library/RecordingInputSource.h"
#include "library/RecordingSourceContext.h"
#include "store/TakeLock.h"

#include <QDateTime>
#include <optional>

/// What the running take keeps to itself until it is saved: how it is recorded, from which
/// input, where its sound comes from, the lock on its file and when its capture started.
struct ActiveTake {
    RecordingEncodingSettings settings;
    RecordingInputSource input;
    std::optional<RecordingSourceContext> source;
    std::optional<TakeLock> lock;
    std::optional<QDateTime> startedAt;
};
