#pragma once

#include "platform/Timer.h"

#include <QDateTime>
#include <memory>

/// The wall clock and timers; tests substitute a clock they advance by hand.
class Clock {
public:
    virtual ~Clock() = default;

    [[nodiscard]] virtual QDateTime now() const = 0;
    /// A new, stopped timer owned by \a parent.
    [[nodiscard]] virtual Timer *createTimer(QObject *parent) = 0;
};
