#pragma once

#include <QIcon>
#include <functional>

class QMenu;
class RecordingLibraryStore;
struct CaptureTarget;
struct PlayingApplication;

/// The record items of the applications playing now, which the record face's menu and the
/// tray both offer.
namespace ApplicationActions {
/// Adds to \a menu one item per application playing now (its icon and name, "Stop NAME" while
/// it records), or a disabled "No application is playing"; \a record runs with its target.
void add(QMenu &menu, const RecordingLibraryStore &store, const std::function<void(const CaptureTarget &)> &record);
/// The icon of \a application: its own from the icon theme, else a window glyph.
[[nodiscard]] QIcon icon(const PlayingApplication &application);
} // namespace ApplicationActions
