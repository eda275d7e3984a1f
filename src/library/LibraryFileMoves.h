#pragma once

#include "platform/FileOperations.h"

#include <QString>
#include <optional>

class Trash;
struct RecordingMetadata;

/// Moves of library files that take their sidecars along and never replace another file, in
/// an order that leaves every audio file with its metadata wherever they stop.
namespace LibraryFileMoves {

/// Renames the audio file \a from to \a to, never replacing a file: its sidecar first gets the
/// new name as well, then the audio moves, then the old sidecar name goes (a sidecar failure
/// never blocks the audio). Throws AppError when the audio stays.
void moveWithSidecar(const QString &from, const QString &to, FileOperations &files = FileOperations::system());

/// Gives the complete work file \a file the name FOLDER/BASE.EXT, or the first free counter
/// name, durably and in one step that never replaces a file, and returns it. With \a keepSource
/// the source name stays as a second link to the same file (hardLinkCount tells a later look
/// that the file was published). Throws AppError naming the cause.
[[nodiscard]] QString publish(const QString &file, const QString &folder, const QString &base, const QString &ext,
                              bool keepSource = false, FileOperations &files = FileOperations::system());
/// Like publish for a new recording with its first sidecar \a metadata: the sidecar takes its
/// name first (a name whose sidecar exists is passed over), then the audio file.
[[nodiscard]] QString publishWithSidecar(const QString &file, const QString &folder, const QString &base,
                                         const QString &ext, const RecordingMetadata &metadata,
                                         FileOperations &files = FileOperations::system());

/// How many names the file at \a path has; 0 when it does not exist.
[[nodiscard]] int hardLinkCount(const QString &path);
/// The file in \a folder that is the same file as \a path (another link to it), if any.
[[nodiscard]] std::optional<QString> otherLink(const QString &path, const QString &folder);

/// Moves the audio file, then its sidecars, to the Trash: a stop between them leaves the
/// sidecar where the audio comes back to. Returns the status text when the audio file stays;
/// nothing has moved then.
[[nodiscard]] std::optional<QString> trashWithSidecar(const QString &url, Trash &trash);

} // namespace LibraryFileMoves
