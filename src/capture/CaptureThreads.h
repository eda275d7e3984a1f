#pragma once

class QThreadPool;

namespace CaptureThreads {
/// The threads that open, flush and close captures: never shared with decoding, encoding,
/// imports or scans, so a take starts at once however busy the program is.
[[nodiscard]] QThreadPool &pool();
} // namespace CaptureThreads
