#pragma once

#include "platform/CaptureBuffer.h"

#include <functional>

/// A running record stream of the sound server; destroying it ends the stream, and no
/// handler runs after the destructor returns.
class CaptureSource {
public:
    /// Called on the sound server's thread; they must return quickly and never wait.
    struct Handlers {
        std::function<void(CaptureBuffer &&)> audio;
        /// The stream ended on its own (the server went away or dropped it); called once.
        std::function<void()> failed;
    };

    virtual ~CaptureSource() = default;
};
