#pragma once

/// Loads libavformat and libavcodec on their first use instead of at start-up: together with the
/// codec libraries they bring in they cost a launch more than a whole short PCM take, and most
/// commands (recording PCM, renaming, the analysis of a WAV take) never need them.
namespace FFmpegLibraries {

enum class Library { codec, format };

/// The address of the function \a name in \a library, loading it on first use; ends the program
/// with the loader's message when the library or the function is missing.
[[nodiscard]] void *symbol(Library library, const char *name);
/// True once this process has loaded libavformat or libavcodec.
[[nodiscard]] bool loaded();

} // namespace FFmpegLibraries
