#include "hotkeys/HotKeyStore.h"

#include "base/IgnoreFailure.h"
#include "hotkeys/GlobalHotKeyError.h"
#include "platform/HotKeyGrabber.h"
#include "store/StoreSettings.h"

HotKeyStore::HotKeyStore(StoreSettings &settings, HotKeyGrabber &grabber, QObject *parent)
    : QObject(parent), m_settings(settings), m_center(grabber)
{
    connect(&grabber, &HotKeyGrabber::refused, this,
            [this](qint32 status) { setRegistrationMessage(GlobalHotKeyError(status).text()); });
    setToggleRecording(load(settings, StoreSettings::toggleRecordingHotKeyKey).value_or(defaultToggleRecording()));
    setOpenLibrary(load(settings, StoreSettings::openLibraryHotKeyKey).value_or(defaultOpenLibrary()));
}

void HotKeyStore::setToggleRecording(const std::optional<HotKeyShortcut> &shortcut)
{
    m_toggleRecording = shortcut;
    save(shortcut, StoreSettings::toggleRecordingHotKeyKey);
    emit toggleRecordingChanged();
    registerAll();
}

void HotKeyStore::setOpenLibrary(const std::optional<HotKeyShortcut> &shortcut)
{
    m_openLibrary = shortcut;
    save(shortcut, StoreSettings::openLibraryHotKeyKey);
    emit openLibraryChanged();
    registerAll();
}

void HotKeyStore::registerAll()
{
    m_center.unregisterAll();
    std::optional<QString> failure;
    try {
        if (m_toggleRecording && m_toggleRecordingAction)
            m_center.registerHotKey(QLatin1String(toggleRecordingName), *m_toggleRecording, m_toggleRecordingAction);
        if (m_openLibrary && m_openLibraryAction)
            m_center.registerHotKey(QLatin1String(openLibraryName), *m_openLibrary, m_openLibraryAction);
    } catch (const GlobalHotKeyError &error) {
        failure = error.text();
    }
    setRegistrationMessage(failure);
}

std::optional<HotKeyShortcut> HotKeyStore::load(const StoreSettings &settings, const char *key)
{
    return HotKeyShortcut::fromJson(settings.data(key));
}

void HotKeyStore::save(const std::optional<HotKeyShortcut> &shortcut, const char *key)
{
    // A shortcut that cannot be stored still applies for this run.
    ignoreFailure(lcHotkeys(), [&] {
        if (shortcut)
            m_settings.setData(key, shortcut->toJson());
        else
            m_settings.remove(key);
    });
}

void HotKeyStore::setRegistrationMessage(const std::optional<QString> &message)
{
    if (message == m_registrationMessage)
        return;
    m_registrationMessage = message;
    emit registrationMessageChanged();
}
