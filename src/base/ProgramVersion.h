#pragma once

#include <QString>

/// The program's version number, which the build takes from the project's version.
namespace ProgramVersion {
/// "0.1.0"; empty in a build that does not set it.
[[nodiscard]] QString number();
} // namespace ProgramVersion
