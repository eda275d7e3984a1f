#pragma once

#include "base/Logging.h"

#include <exception>
#include <utility>

/// Runs \a work for a step whose failure must not stop what surrounds it (a sidecar that
/// cannot follow its audio file, a legacy file that stays for the next scan). Say why at the
/// call. A failure is logged as a warning of \a category. Returns whether the step succeeded.
template <typename Work>
bool ignoreFailure(const QLoggingCategory &category, Work &&work)
{
    try {
        std::forward<Work>(work)();
        return true;
    } catch (const std::exception &error) {
        logIgnoredFailure(category, error);
        return false;
    }
}
