#pragma once

#include <QDateTime>
#include <QMetaType>
#include <QString>

/// The state of the capture pipeline; equal when the case and its payload are equal.
class CaptureState {
public:
    enum class Kind { idle, preparing, recording, finishing, failed };

    CaptureState() = default;
    [[nodiscard]] static CaptureState idle() { return {}; }
    [[nodiscard]] static CaptureState preparing() { return CaptureState(Kind::preparing); }
    [[nodiscard]] static CaptureState recording(const QDateTime &startedAt);
    [[nodiscard]] static CaptureState finishing() { return CaptureState(Kind::finishing); }
    [[nodiscard]] static CaptureState failed(const QString &message);

    [[nodiscard]] Kind kind() const { return m_kind; }
    [[nodiscard]] bool is(Kind kind) const { return m_kind == kind; }
    /// True while a take is prepared, recorded or saved: neither idle nor failed.
    [[nodiscard]] bool isTaking() const { return m_kind != Kind::idle && m_kind != Kind::failed; }
    /// When the source reported running; only for recording.
    [[nodiscard]] QDateTime startedAt() const { return m_startedAt; }
    /// The user-facing failure text; only for failed.
    [[nodiscard]] QString message() const { return m_message; }

    bool operator==(const CaptureState &) const = default;

private:
    explicit CaptureState(Kind kind) : m_kind(kind) {}

    Kind m_kind = Kind::idle;
    QDateTime m_startedAt;
    QString m_message;
};

Q_DECLARE_METATYPE(CaptureState)
