#pragma once

#include <QString>
#include <optional>

class Clock;
class Dialogs;
class BrowserSessions;
class DesktopWindows;
class FolderWatcher;
class FileOperations;
class ForegroundApplicationMonitor;
class MediaPlayers;
class QSettings;
class SoundServer;
class Trash;
class UrlOpener;

/// The platform facilities a RecordingLibraryStore works through; all outlive the store.
struct StoreEnvironment {
    QSettings *settings = nullptr;
    Clock *clock = nullptr;
    Trash *trash = nullptr;
    Dialogs *dialogs = nullptr;
    /// Use this folder for the session without storing it.
    std::optional<QString> folderOverride;
    /// The folder holding the "lame" encoder; empty means the installed one.
    QString encodersFolder;
    /// What takes are recorded from; none means no sound server can be reached.
    SoundServer *soundServer = nullptr;
    /// Reports the applications that come to the front; none means no reports.
    ForegroundApplicationMonitor *foregroundMonitor = nullptr;
    /// Where source addresses are opened; none means xdg-open.
    UrlOpener *urlOpener = nullptr;
    /// The window list, media players and browser sessions a source is looked up in; none
    /// means that facility answers nothing.
    DesktopWindows *windows = nullptr;
    MediaPlayers *mediaPlayers = nullptr;
    BrowserSessions *browserSessions = nullptr;
    /// Publish the list the library's cache remembers before the start-up scan ends (the
    /// desktop, whose window should fill at once); the scan then corrects it.
    bool showRememberedLibrary = false;
    /// Compute the waveform levels of each new take, trim and import as it is saved (the
    /// desktop, whose editor opens it next).
    bool prepareWaveforms = false;
    /// Tells when the library folder changes under the store; none means it is not watched.
    FolderWatcher *folderWatcher = nullptr;
    /// Where written files are synced and given their names; none means the system's.
    FileOperations *files = nullptr;
};
