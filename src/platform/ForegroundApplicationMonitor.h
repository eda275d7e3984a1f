#pragma once

#include "platform/RunningApplication.h"

#include <QObject>

/// Reports each application that comes to the front of the desktop. This base class never
/// reports anything; platform monitors derive from it and tests emit the signal themselves.
class ForegroundApplicationMonitor : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~ForegroundApplicationMonitor() override = default;

signals:
    /// \a application came to the front; never this program's own process.
    void applicationActivated(const RunningApplication &application);
};
