#pragma once

#include <QObject>
#include <QString>
#include <chrono>
#include <functional>
#include <optional>

class Clock;
class Timer;

/// The one status text of the program: it clears itself a while after it was set, unless
/// it was replaced or the program is busy then.
class StatusLine : public QObject {
    Q_OBJECT
public:
    /// How long a status text stays when nothing replaces it.
    static constexpr std::chrono::milliseconds dismissDelay{3600};

    /// \a isBusy tells whether a text due for dismissal stays.
    StatusLine(Clock &clock, std::function<bool()> isBusy, QObject *parent = nullptr);

    [[nodiscard]] const std::optional<QString> &message() const { return m_message; }
    /// Shows \a message (none clears) and schedules its dismissal.
    void setMessage(const std::optional<QString> &message);

signals:
    void changed();

private:
    void dismissIfUnchanged();

    std::function<bool()> m_isBusy;
    std::optional<QString> m_message;
    Timer *m_timer;
    QString m_dismissTarget;
};
