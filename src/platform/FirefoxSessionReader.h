#pragma once

#include "platform/BrowserSessions.h"

#include <QByteArray>

/// Reads Firefox's session store: mozLz4 files ("mozLz40\0", a 32-bit little-endian size, one
/// LZ4 block) holding JSON windows, tabs and history entries.
namespace FirefoxSessionReader {

/// The JSON inside a mozLz4 file; empty when the bytes are not one or do not decompress.
[[nodiscard]] QByteArray decompress(const QByteArray &mozLz4);
/// The session described by the session-store JSON; empty for anything malformed.
[[nodiscard]] BrowserSession parse(const QByteArray &json);
/// Largest decompressed size accepted.
inline constexpr qint64 maximumSize = qint64(256) << 20;

} // namespace FirefoxSessionReader
