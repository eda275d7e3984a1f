#pragma once

#include <QString>

/// The desktop's file browser.
namespace FileBrowser {
/// Shows \a path selected in the file browser (FileManager1 over D-Bus), or opens its folder
/// when no file browser answers. Returns at once.
void showInFolder(const QString &path);
} // namespace FileBrowser
