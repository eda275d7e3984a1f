#include "support/FakeClock.h"

#include <algorithm>

class FakeClock::FakeTimer final : public Timer {
public:
    FakeTimer(FakeClock &clock, QObject *parent) : Timer(parent), m_clock(clock) {}

    void start(std::chrono::milliseconds interval, bool repeating) override
    {
        m_interval = std::max<qint64>(1, interval.count()); // a repeating timer still moves time on
        m_repeating = repeating;
        m_due = m_clock.m_now.addMSecs(interval.count());
        m_active = true;
    }
    void stop() override { m_active = false; }
    [[nodiscard]] bool isActive() const override { return m_active; }

    qint64 m_interval = 1;
    bool m_repeating = false, m_active = false;
    QDateTime m_due;

private:
    FakeClock &m_clock;
};

FakeClock::FakeClock(QDateTime start) : m_now(std::move(start)) {}

Timer *FakeClock::createTimer(QObject *parent)
{
    m_timers.append(new FakeTimer(*this, parent));
    return m_timers.back();
}

void FakeClock::advance(std::chrono::milliseconds step)
{
    const auto end = m_now.addMSecs(step.count());
    for (FakeTimer *next = nullptr;; next = nullptr) {
        for (const auto &timer : std::as_const(m_timers))
            if (timer && timer->m_active && timer->m_due <= end && (!next || timer->m_due < next->m_due))
                next = timer;
        if (!next)
            break;
        m_now = next->m_due;
        next->m_active = next->m_repeating;
        next->m_due = m_now.addMSecs(next->m_interval);
        emit next->timeout();
    }
    m_now = end;
}

int FakeClock::activeTimers() const
{
    return int(
        std::count_if(m_timers.begin(), m_timers.end(), [](const auto &timer) { return timer && timer->m_active; }));
}
