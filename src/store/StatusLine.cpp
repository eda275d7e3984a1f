#include "store/StatusLine.h"

#include "platform/Clock.h"
#include "platform/Timer.h"

StatusLine::StatusLine(Clock &clock, std::function<bool()> isBusy, QObject *parent)
    : QObject(parent), m_isBusy(std::move(isBusy)), m_timer(clock.createTimer(this))
{
    connect(m_timer, &Timer::timeout, this, &StatusLine::dismissIfUnchanged);
}

void StatusLine::setMessage(const std::optional<QString> &message)
{
    m_message = message;
    emit changed();
    m_timer->stop();
    if (!message || message->isEmpty())
        return;
    m_dismissTarget = *message;
    m_timer->start(dismissDelay, false);
}

void StatusLine::dismissIfUnchanged()
{
    // A busy status stays until the next text replaces it.
    if (m_message == m_dismissTarget && !m_isBusy()) {
        m_message.reset();
        emit changed();
    }
}
