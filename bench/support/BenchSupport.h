#pragma once

#include <QImage>
#include <QString>
#include <functional>

class QWidget;

/// What the benchmark and render programs share: test audio, waiting, the offscreen default.
namespace BenchSupport {
/// Uses the offscreen platform, on one 3840x2400 screen, unless QT_QPA_PLATFORM names another;
/// call before QApplication.
void preferOffscreen();
/// \a window drawn at \a scale with every menu, popup, tooltip and dialog open over it in place.
[[nodiscard]] QImage composite(QWidget &window, double scale);
/// Runs the event loop for \a milliseconds.
void spin(int milliseconds);
/// Writes \a frames of 16-bit stereo 48 kHz WAV to \a path, both channels \a sample(frame);
/// fails the program when it cannot.
void writeWav(const QString &path, int frames, const std::function<qint16(int frame)> &sample);
} // namespace BenchSupport
