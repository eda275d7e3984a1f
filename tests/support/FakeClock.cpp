#include "support/FakeClock.h"

class FakeClock::FakeTimer final : public Timer {
public:
    FakeTimer(FakeClock &clock, QObject *parent) : Timer(parent), m_clock(clock) {}

    void start(std::chrono::milliseconds interval, bool repeating) override
    {
        m_interval = interval;
        m_repeating = repeating;
        m_due = m_clock.m_now.addMSecs(interval.count());
        m_active = true;
    }
    void stop() override { m_active = false; }
    [[nodiscard]] bool isActive() const override { return m_active; }

    std::chrono::milliseconds m_interval{0};
    bool m_repeating = false;
    bool m_active = false;
    QDateTime m_due;

private:
    FakeClock &m_clock;
};

FakeClock::FakeClock(QDateTime start) : m_now(std::move(start)) {}

Timer *FakeClock::createTimer(QObject *parent)
{
    auto *timer = new FakeTimer(*this, parent);
    m_timers.append(timer);
    return timer;
}

void FakeClock::advance(std::chrono::milliseconds step)
{
    const auto end = m_now.addMSecs(step.count());
    while (true) {
        FakeTimer *next = nullptr;
        for (const auto &timer : std::as_const(m_timers)) {
            if (timer && timer->m_active && timer->m_due <= end && (!next || timer->m_due < next->m_due))
                next = timer;
        }
        if (!next)
            break;
        m_now = next->m_due;
        if (next->m_repeating)
            next->m_due = m_now.addMSecs(std::max<qint64>(1, next->m_interval.count()));
        else
            next->m_active = false;
        emit next->timeout();
    }
    m_now = end;
}

int FakeClock::activeTimers() const
{
    int count = 0;
    for (const auto &timer : m_timers)
        count += timer && timer->m_active;
    return count;
}
