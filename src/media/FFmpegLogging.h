#pragma once

/// Silences FFmpeg's own console log: damaged files are reported as errors instead.
/// Call once at start-up, before any media is opened.
void configureFFmpegLogging();
