#include "capture/CaptureState.h"

CaptureState CaptureState::recording(const QDateTime &startedAt)
{
    CaptureState state(Kind::recording);
    state.m_startedAt = startedAt;
    return state;
}

CaptureState CaptureState::failed(const QString &message)
{
    CaptureState state(Kind::failed);
    state.m_message = message;
    return state;
}
