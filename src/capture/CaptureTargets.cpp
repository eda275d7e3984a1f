#include "capture/CaptureTargets.h"

CaptureTarget CaptureTargets::forInput(RecordingInputSource input)
{
    return input == RecordingInputSource::microphone ? CaptureTarget::defaultInput() : CaptureTarget::defaultOutput();
}

RecordingInputSource CaptureTargets::inputOf(const CaptureTarget &target)
{
    switch (target.kind) {
    case CaptureTarget::Kind::outputMonitor: return RecordingInputSource::macAudio;
    case CaptureTarget::Kind::input: return RecordingInputSource::microphone;
    case CaptureTarget::Kind::application: break;
    }
    return RecordingInputSource::application;
}
