#pragma once

#include "hotkeys/GlobalHotKeyCenter.h"
#include "hotkeys/HotKeyShortcut.h"

#include <QObject>
#include <functional>
#include <optional>

class HotKeyGrabber;
class StoreSettings;

/// The three global hotkeys (toggle recording, open the library, save the last seconds): their
/// shortcuts, kept in the settings, their actions, and their registration, redone in full after
/// every change.
class HotKeyStore : public QObject {
    Q_OBJECT
public:
    static constexpr auto toggleRecordingName = "toggleRecording";
    static constexpr auto openLibraryName = "openLibrary";
    static constexpr auto saveLastSecondsName = "saveLastSeconds";
    /// Shift+Super+R.
    static HotKeyShortcut defaultToggleRecording() { return {15, 0x120000, QStringLiteral("R")}; }
    /// Shift+Super+L.
    static HotKeyShortcut defaultOpenLibrary() { return {37, 0x120000, QStringLiteral("L")}; }
    /// Shift+Super+P.
    static HotKeyShortcut defaultSaveLastSeconds() { return {35, 0x120000, QStringLiteral("P")}; }

    /// Loads the shortcuts (a missing or damaged one becomes the default, written back) and
    /// registers them. \a settings and \a grabber outlive the store.
    HotKeyStore(StoreSettings &settings, HotKeyGrabber &grabber, QObject *parent = nullptr);

    [[nodiscard]] const std::optional<HotKeyShortcut> &toggleRecording() const { return m_toggleRecording; }
    /// Stores \a shortcut (none removes the key) and registers again.
    void setToggleRecording(const std::optional<HotKeyShortcut> &shortcut);
    [[nodiscard]] const std::optional<HotKeyShortcut> &openLibrary() const { return m_openLibrary; }
    void setOpenLibrary(const std::optional<HotKeyShortcut> &shortcut);
    [[nodiscard]] const std::optional<HotKeyShortcut> &saveLastSeconds() const { return m_saveLastSeconds; }
    void setSaveLastSeconds(const std::optional<HotKeyShortcut> &shortcut);
    /// The last registration failure; none when registration succeeded.
    [[nodiscard]] const std::optional<QString> &registrationMessage() const { return m_registrationMessage; }

    void setToggleRecordingAction(std::function<void()> action) { m_toggleRecordingAction = std::move(action); }
    void setOpenLibraryAction(std::function<void()> action) { m_openLibraryAction = std::move(action); }
    void setSaveLastSecondsAction(std::function<void()> action) { m_saveLastSecondsAction = std::move(action); }
    /// Unregisters them all and registers every shortcut that has an action; a failure stops the
    /// cycle and becomes the registration message.
    void registerAll();

    [[nodiscard]] GlobalHotKeyCenter &center() { return m_center; }
    /// The shortcut stored under \a key; none when absent or undecodable.
    [[nodiscard]] static std::optional<HotKeyShortcut> load(const StoreSettings &settings, const char *key);

signals:
    void toggleRecordingChanged();
    void openLibraryChanged();
    void saveLastSecondsChanged();
    void registrationMessageChanged();

private:
    void save(const std::optional<HotKeyShortcut> &shortcut, const char *key);
    void setRegistrationMessage(const std::optional<QString> &message);

    StoreSettings &m_settings;
    GlobalHotKeyCenter m_center;
    std::optional<HotKeyShortcut> m_toggleRecording;
    std::optional<HotKeyShortcut> m_openLibrary;
    std::optional<HotKeyShortcut> m_saveLastSeconds;
    std::optional<QString> m_registrationMessage;
    std::function<void()> m_toggleRecordingAction;
    std::function<void()> m_openLibraryAction;
    std::function<void()> m_saveLastSecondsAction;
};
