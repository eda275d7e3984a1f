#pragma once

#include <QString>

class QSettings;

/// Decides which folder is the library: the stored path, else the default folder.
namespace FolderAccess {

inline constexpr auto pathKey = "Vespertone.SaveFolderPath";
inline constexpr auto bookmarkKey = "Vespertone.SaveFolderBookmark";

/// The stored folder path if present and not empty, else defaultFolderURL(). Never fails.
/// Bookmarks do not exist here, so the bookmark key is never read or written.
[[nodiscard]] QString resolveSavedFolder(const QSettings &settings);
/// The Music folder (else the home folder) plus "Vespertone"; not created here.
[[nodiscard]] QString defaultFolderURL();

} // namespace FolderAccess
