#pragma once

#include <QtGlobal>

#include <chrono>
#include <optional>

/// The frame a stream plays now, for the playhead: the server's own clock, run on at the
/// stream's rate between its readings. A server whose clock settles slowly (PipeWire's pulse
/// server reads late for the first seconds of a stream) then still shows where the sound is.
class PlayheadClock {
public:
    using Clock = std::chrono::steady_clock;

    /// \a rate frames a second; the playhead runs at most \a lead ahead of the server's reading.
    explicit PlayheadClock(int rate, std::chrono::milliseconds lead = std::chrono::milliseconds(80));

    /// The frame heard at \a now, given the server's reading \a reported and the \a written
    /// frames; never past what was written, never behind the server's reading. Call it often.
    [[nodiscard]] qint64 frameAt(Clock::time_point now, qint64 reported, qint64 written);

private:
    /// How slowly the playhead comes back to a reading it runs ahead of.
    static constexpr double settleSeconds = 10.0;
    struct Reading {
        Clock::time_point time;
        qint64 reported;
        double frame; ///< the playhead then
    };

    double m_rate;
    qint64 m_lead;
    std::optional<Reading> m_last;
};
