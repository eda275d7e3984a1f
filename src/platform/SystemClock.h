#pragma once

#include "platform/Clock.h"

/// The real clock, with QTimer-backed timers.
class SystemClock final : public Clock {
public:
    [[nodiscard]] QDateTime now() const override;
    [[nodiscard]] Timer *createTimer(QObject *parent) override;
};
