#pragma once

#include "ui/style/AppThemeChoice.h"

#include <QLineF>
#include <QVector>
#include <QWidget>
#include <vector>

/// The scrolling waveform of the running take: a bar per 2 points of width, newest at the right.
class LiveRecordingWaveformView : public QWidget {
    Q_OBJECT
public:
    LiveRecordingWaveformView(AppThemeChoice theme, QWidget *parent = nullptr);

    void setTheme(AppThemeChoice theme);
    /// Keeps the tail of \a peaks (levels 0...1, oldest first) that fits the width.
    void setPeaks(const std::vector<float> &peaks);
    /// The bars that \a peaks draw in a canvas of \a size: one vertical segment per visible level.
    [[nodiscard]] static QVector<QLineF> bars(const std::vector<float> &peaks, QSizeF size);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    AppThemeChoice m_theme;
    std::vector<float> m_tail;
};
