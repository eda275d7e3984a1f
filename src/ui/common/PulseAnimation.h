#pragma once

#include <QObject>
#include <QVariantAnimation>

/// A value that breathes from 0 to 1 and back with an ease-in-out, for ever, once started.
class PulseAnimation : public QObject {
    Q_OBJECT
public:
    /// \a halfPeriodMs is the time from 0 to 1.
    PulseAnimation(int halfPeriodMs, QObject *parent = nullptr);

    /// 0 at rest, 1 at the height of the pulse.
    [[nodiscard]] double value() const { return m_value; }
    [[nodiscard]] bool isRunning() const;
    /// Restarts from 0.
    void start();
    /// Stops and rests at 0.
    void stop();

signals:
    void valueChanged();

private:
    QVariantAnimation m_animation;
    double m_value = 0;
};
