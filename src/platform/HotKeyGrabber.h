#pragma once

#include <QObject>
#include <QString>

/// The desktop facility that grabs key combinations system-wide and reports which one was pressed.
class HotKeyGrabber : public QObject {
    Q_OBJECT
public:
    /// X modifier bits, the form grabs are asked for in.
    static constexpr quint32 shiftMask = 0x01;
    static constexpr quint32 controlMask = 0x04;
    static constexpr quint32 altMask = 0x08;   ///< Mod1
    static constexpr quint32 superMask = 0x40; ///< Mod4

    /// Status of a grab refused because another client holds the combination.
    static constexpr qint32 takenStatus = -9878;
    /// Status of a key this keyboard cannot type.
    static constexpr qint32 invalidKeyStatus = -9879;
    /// Status of a desktop that offers no global grabs.
    static constexpr qint32 unavailableStatus = -9868;
    /// Status of shortcuts the desktop's portal declined (the user cancelled its dialog).
    static constexpr qint32 declinedStatus = -9870;

    /// One combination to grab and the identity reported when it is pressed.
    struct Binding {
        quint32 signature = 0;
        quint32 id = 0;
        quint32 keysym = 0;
        QString keysymName;    ///< e.g. "r", "Return"
        quint32 modifiers = 0; ///< X modifier bits
        QString name;          ///< the registration name, e.g. "toggleRecording"
    };

    using QObject::QObject;

    /// Grabs \a binding, replacing a grab of the same id; 0 on success, else the refusal's status.
    virtual qint32 grab(const Binding &binding) = 0;
    /// Releases the grab of \a id, if any.
    virtual void release(quint32 id) = 0;

signals:
    /// The combination grabbed as \a signature and \a id was pressed.
    void pressed(quint32 signature, quint32 id);
    /// Grabs that were accepted at once were refused later by the desktop with \a status.
    void refused(qint32 status);
};

/// A desktop without global grabs: every grab is refused.
class UnavailableHotKeyGrabber final : public HotKeyGrabber {
public:
    using HotKeyGrabber::HotKeyGrabber;
    qint32 grab(const Binding &) override { return unavailableStatus; }
    void release(quint32) override {}
};
