#pragma once

#include <QObject>
#include <QString>
#include <QVector>

/// One envelope being read for the editor. It delivers from the event loop, never before the
/// source's load() returns: zero or more coarse envelopes, then the complete one or a failure.
/// Destroying it cancels what is still being read.
class EnvelopeRequest : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

signals:
    /// \a peaks, levels 0...1 over the whole recording, replace what was delivered before;
    /// \a complete on the last.
    void delivered(const QVector<float> &peaks, bool complete);
    /// Reading failed; \a text says why. Nothing follows.
    void failed(const QString &text);
};
