#pragma once

#include <QObject>
#include <chrono>

/// A single-shot or repeating timer that a test clock can drive.
class Timer : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    /// (Re)starts the timer; a running timer restarts from now.
    virtual void start(std::chrono::milliseconds interval, bool repeating) = 0;
    virtual void stop() = 0;
    [[nodiscard]] virtual bool isActive() const = 0;

signals:
    void timeout();
};
