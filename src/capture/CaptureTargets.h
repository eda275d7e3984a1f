#pragma once

#include "library/RecordingInputSource.h"
#include "platform/CaptureTarget.h"

/// How the inputs a user picks map to what the sound server captures.
namespace CaptureTargets {
/// The default output's monitor for system audio, the default input for the microphone; the
/// application input has no target of its own (it names one application).
[[nodiscard]] CaptureTarget forInput(RecordingInputSource input);
/// The input \a target is recorded as.
[[nodiscard]] RecordingInputSource inputOf(const CaptureTarget &target);
} // namespace CaptureTargets
