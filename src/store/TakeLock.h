#pragma once

#include "library/WorkLock.h"

/// The lock on a take's file while it is written or encoded.
using TakeLock = WorkLock;
