#pragma once

#include <QVector>
#include <span>

/// The visible time window of a zoomable waveform: the zoom (1 = the whole recording) and the
/// time at its left edge, with the arithmetic of zooming, panning and following a time.
struct WaveformViewport {
    static constexpr double minimumZoom = 1;
    static constexpr double maximumZoom = 16;

    double duration = 0; ///< seconds of the recording
    double zoom = 1;     ///< as stored; readers use clampedZoom()
    double start = 0;    ///< seconds at the left edge, as stored; readers use clampedStart()

    /// \a zoom limited to 1...16; a value that is not finite counts as 1.
    [[nodiscard]] static double clampZoom(double zoom);
    [[nodiscard]] double clampedZoom() const { return clampZoom(zoom); }
    /// Seconds visible at the current zoom; 0 without a duration.
    [[nodiscard]] double span() const { return spanAt(zoom); }
    [[nodiscard]] double spanAt(double zoom) const;
    /// The stored start kept inside the recording at the current zoom.
    [[nodiscard]] double clampedStart() const;
    [[nodiscard]] double visibleEnd() const;

    /// Writes the clamped zoom and start back.
    void clamp();
    /// Sets \a zoom (clamped) so that \a anchorTime stays at \a anchorRatio (0...1) of the window.
    void applyZoom(double zoom, double anchorTime, double anchorRatio);
    /// Sets \a zoom keeping \a anchorTime where it is in the window when visible, else centred.
    void zoomAround(double zoom, double anchorTime);
    /// Scrolls a zoomed window just enough that \a time stays 12 % of the window from either edge.
    void keepVisible(double time);
    /// The start after dragging by \a translation points across a \a trackWidth wide track, from
    /// a window that started at \a baseStart; later times when dragging left.
    [[nodiscard]] double pannedStart(double baseStart, double translation, double trackWidth) const;

    /// The closest gap the two trim handles keep: 0.02 s, or less in a shorter recording.
    [[nodiscard]] double minimumHandleGap() const;
    /// The trim start a handle dragged to \a time gives, kept before \a trimEnd.
    [[nodiscard]] double startHandleTime(double time, double trimEnd) const;
    /// The trim end a handle dragged to \a time gives, kept after \a trimStart.
    [[nodiscard]] double endHandleTime(double time, double trimStart) const;

    /// The envelope values that cover \a from...\a to seconds of the recording, ends included.
    [[nodiscard]] std::span<const float> peaksForVisibleRange(const QVector<float> &peaks, double from,
                                                              double to) const;
};

/// Where times lie across a timeline \a width points wide with \a inset points kept free on
/// either side.
struct TimelineTrack {
    double left;
    double right;
    double width; ///< right − left, at least 1

    [[nodiscard]] static TimelineTrack of(double width, double inset);
    /// The x of \a time in the window of \a viewport; left without a duration.
    [[nodiscard]] double x(double time, const WaveformViewport &viewport) const;
    /// The time under \a x, limited to the track and the recording.
    [[nodiscard]] double time(double x, const WaveformViewport &viewport) const;
};
