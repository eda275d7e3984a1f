#pragma once

class QThreadPool;

/// The threads that decode audio for envelopes: one per core, apart from the shared pool so
/// that capture's start and stop never queue behind decoding, and at a lower priority (nice 10)
/// so that a take being written never waits for them either.
namespace DecodePool {

[[nodiscard]] QThreadPool &instance();
/// Lowers the calling thread's priority once; every task on the pool calls it first.
void lowerPriority();

} // namespace DecodePool
