#pragma once

#include <QString>
#include <optional>

class Clock;
class Dialogs;
class ForegroundApplicationMonitor;
class QSettings;
class SoundServer;
class Trash;

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
};
