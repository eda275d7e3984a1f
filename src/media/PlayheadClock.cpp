#include "media/PlayheadClock.h"

#include <algorithm>

PlayheadClock::PlayheadClock(int rate, std::chrono::milliseconds lead)
    : m_rate(std::max(1, rate)), m_lead(qint64(double(lead.count()) * m_rate / 1000))
{}

qint64 PlayheadClock::frameAt(Clock::time_point now, qint64 reported, qint64 written)
{
    // Before the stream plays, its clock stands at the start.
    if (reported <= 0 && !m_last)
        return std::max<qint64>(reported, 0);
    if (!m_last)
        m_last = Reading{now, reported, double(reported)};
    const auto elapsed = std::chrono::duration<double>(now - m_last->time).count();
    double frame = double(reported);
    if (reported == m_last->reported) {
        // The reading stands: the stream stalled, so the playhead waits too.
        frame = std::max(m_last->frame, frame);
    } else if (reported < m_last->frame + elapsed * m_rate) {
        // Run on at the stream's rate, drawn back to the reading only slowly: a reading that
        // settles runs slow for seconds, while the sound plays on.
        const auto runOn = m_last->frame + elapsed * m_rate;
        frame = runOn - (runOn - frame) * std::min(1.0, elapsed / settleSeconds);
    }
    frame = std::min({frame, double(reported + m_lead), double(std::max(written, reported))});
    m_last = Reading{now, reported, frame};
    return qint64(frame);
}
