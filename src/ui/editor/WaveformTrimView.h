#pragma once

#include "editor/TrimRange.h"
#include "editor/WaveformViewport.h"
#include "ui/style/AppThemeChoice.h"

#include <QPixmap>
#include <QVector>
#include <QWidget>
#include <optional>

/// The zoomable waveform strip of the detail editor: the envelope of the visible window, the
/// trim selection between two handles, the playhead and the window's times. It owns no
/// recording state: it shows what the editor sets and reports the user's drags and zooms.
class WaveformTrimView : public QWidget {
    Q_OBJECT
public:
    explicit WaveformTrimView(QWidget *parent = nullptr);

    /// Handle width and track inset of \a theme.
    [[nodiscard]] static double handleWidth(AppThemeChoice theme);
    [[nodiscard]] static double timelineInset(AppThemeChoice theme);

    void setTheme(AppThemeChoice theme);
    void setPeaks(QVector<float> peaks, double duration);
    void setTrimRange(TrimRange range);
    void setViewport(double zoom, double start);
    void setLoading(bool loading);
    /// The playhead's time; none hides it. Repaints only the strips it leaves and enters.
    void setPlayheadTime(std::optional<double> time);

    [[nodiscard]] const WaveformViewport &viewport() const { return m_viewport; }
    [[nodiscard]] TrimRange trimRange() const { return m_trim; }
    [[nodiscard]] std::optional<double> playheadTime() const { return m_playhead; }
    [[nodiscard]] TimelineTrack track() const;

    [[nodiscard]] QSize sizeHint() const override { return {640, 184}; }
    [[nodiscard]] QSize minimumSizeHint() const override { return {240, 120}; }

signals:
    /// A handle was dragged: the new selection.
    void trimEdited(TrimRange range);
    /// A pan or zoom gesture moved the window.
    void viewportEdited(double zoom, double start);

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    bool event(QEvent *event) override;

private:
    enum class Drag { none, startHandle, endHandle, surface };

    /// The rounded surface the waveform and handles sit on.
    [[nodiscard]] QRectF surfaceRect() const;
    /// The waveform's canvas: the track's width, inset 14 points from top and bottom.
    [[nodiscard]] QRectF canvasRect() const;
    [[nodiscard]] QRectF handleRect(double x) const;
    [[nodiscard]] QRect playheadStrip(std::optional<double> time) const;
    /// The surface at \a ratio device pixels a point, drawn once per size and theme.
    void renderSurface(double ratio);
    /// True when the cached envelope strip holds the visible window at the current zoom.
    [[nodiscard]] bool stripCovers(double ratio) const;
    /// Draws the envelope over three windows' width around the visible one.
    void renderStrip(double ratio);
    /// The envelope of the visible window, from the strip, or the flat line without peaks.
    void paintWaveform(QPainter &painter, double ratio);
    void paintHandle(QPainter &painter, const QRectF &rect, bool start) const;
    void invalidate();
    void emitViewport(const WaveformViewport &viewport);

    AppThemeChoice m_theme = AppThemeChoice::gothic;
    QVector<float> m_peaks;
    WaveformViewport m_viewport;
    TrimRange m_trim;
    bool m_loading = false;
    std::optional<double> m_playhead;
    long m_playheadPixel = -1; ///< the device pixel column the playhead was last drawn at

    /// How many windows wide the cached envelope strip is: scrolling redraws it rarely.
    static constexpr int stripWindows = 3;
    QPixmap m_surface;       ///< the cached surface; null when stale
    QPixmap m_handles[2];    ///< the cached start and end handles with their glow
    QPixmap m_strip;         ///< the cached envelope around the window; null when stale
    double m_stripStart = 0; ///< seconds at the strip's left edge
    double m_stripSpan = 0;  ///< seconds per window width in the strip
    Drag m_drag = Drag::none;
    QPointF m_pressPoint;
    std::optional<double> m_panBaseStart;
    std::optional<double> m_pinchBaseZoom;
    double m_pinchBaseStart = 0;
    double m_pinchScale = 1;
};
