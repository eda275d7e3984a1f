#pragma once

#include "platform/BrowserSessions.h"

#include <QByteArray>

/// Reads the Chromium family's session files (SNSS): "SNSS", a 32-bit version, then records of
/// a 16-bit size, an 8-bit command and its payload. The browser appends while it runs, so a
/// cut-off record ends the file; anything malformed ends the reading with what came before.
namespace ChromiumSessionReader {

/// The session the commands in \a snss leave: windows in the order they appear (the active
/// one's selected tab as the front tab), each window's tabs by their index.
[[nodiscard]] BrowserSession parse(const QByteArray &snss);

/// The command identifiers read.
enum Command : quint8 {
    setTabWindow = 0,
    setTabIndexInWindow = 2,
    updateTabNavigation = 6,
    setSelectedNavigationIndex = 7,
    setSelectedTabInIndex = 8,
    tabClosed = 16,
    windowClosed = 17,
    setActiveWindow = 20,
    tabNavigationPathPruned = 24,
};

} // namespace ChromiumSessionReader
