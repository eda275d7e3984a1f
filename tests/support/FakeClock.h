#pragma once

#include "platform/Clock.h"

#include <QDateTime>
#include <QList>
#include <QPointer>
#include <chrono>

/// A clock that stands still until advance() moves it, firing due timers in time order.
class FakeClock final : public Clock {
public:
    explicit FakeClock(QDateTime start = QDateTime(QDate(2024, 5, 1), QTime(12, 0), Qt::UTC));

    [[nodiscard]] QDateTime now() const override { return m_now; }
    [[nodiscard]] Timer *createTimer(QObject *parent) override;

    /// Moves time forward by \a step, firing every timer that falls due on the way.
    void advance(std::chrono::milliseconds step);
    /// The number of timers now running.
    [[nodiscard]] int activeTimers() const;

private:
    class FakeTimer;
    QDateTime m_now;
    QList<QPointer<FakeTimer>> m_timers;
};
