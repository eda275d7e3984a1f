#pragma once

#include <QObject>
#include <QSocketNotifier>

#include <csignal>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

namespace StopSignalPipe {
inline int signalPipe[2] = {-1, -1};

inline void writeSignal(int signal)
{
    const char byte = char(signal);
    [[maybe_unused]] const auto written = ::write(signalPipe[1], &byte, 1);
}

} // namespace StopSignalPipe

/// Turns SIGINT and SIGTERM into a readable byte on a pipe while it lives.
class StopSignals {
public:
    StopSignals()
    {
        if (::pipe2(StopSignalPipe::signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
            return;
        struct sigaction action {};
        action.sa_handler = StopSignalPipe::writeSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        ::sigaction(SIGINT, &action, &m_previousInt);
        ::sigaction(SIGTERM, &action, &m_previousTerm);
        m_notifier = std::make_unique<QSocketNotifier>(StopSignalPipe::signalPipe[0], QSocketNotifier::Read);
    }
    ~StopSignals()
    {
        if (!m_notifier)
            return;
        m_notifier.reset();
        ::sigaction(SIGINT, &m_previousInt, nullptr);
        ::sigaction(SIGTERM, &m_previousTerm, nullptr);
        ::close(StopSignalPipe::signalPipe[0]);
        ::close(StopSignalPipe::signalPipe[1]);
        StopSignalPipe::signalPipe[0] = StopSignalPipe::signalPipe[1] = -1;
    }
    StopSignals(const StopSignals &) = delete;
    StopSignals &operator=(const StopSignals &) = delete;

    /// Calls \a stop for each signal that arrives.
    template <typename Stop>
    void onSignal(Stop stop)
    {
        if (!m_notifier)
            return;
        QObject::connect(m_notifier.get(), &QSocketNotifier::activated, [this, stop] {
            char bytes[16];
            for (ssize_t got; (got = ::read(StopSignalPipe::signalPipe[0], bytes, sizeof bytes)) > 0;)
                m_signal = bytes[got - 1];
            stop();
        });
    }

    /// True once a signal has arrived.
    [[nodiscard]] bool received() const { return m_signal != 0; }
    /// The exit status of a command the last signal stopped: 128 plus its number.
    [[nodiscard]] int exitStatus() const { return 128 + m_signal; }

private:
    std::unique_ptr<QSocketNotifier> m_notifier;
    int m_signal = 0;
    struct sigaction m_previousInt {};
    struct sigaction m_previousTerm {};
};
