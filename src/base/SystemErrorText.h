#pragma once

#include <QString>

/// The user-facing cause of a failed file operation with the C error number \a errorNumber:
/// "The disk is full." when the disk or a size limit is exhausted, else the system's own text.
[[nodiscard]] QString systemErrorText(int errorNumber);
