#pragma once

#include "platform/CaptureBuffer.h"

#include <functional>

/// A running capture on the sound server; destroying it ends it, and no handler runs after the
/// destructor returns.
class CaptureSource {
public:
    /// Called on the sound server's thread; they must return quickly and never wait.
    struct Handlers {
        std::function<void(SharedCaptureBuffer)> audio;
        /// The capture ended on its own (the server went away or dropped it); called once.
        std::function<void()> failed;
    };

    virtual ~CaptureSource() = default;

    /// Blocks until what was captured before the call has reached the audio handler. Not from a
    /// handler.
    virtual void flush() = 0;
};
