#pragma once

#include "ui/style/AppThemeChoice.h"

#include <QWidget>

class PulseAnimation;

/// The breathing red dot with its glow that heads the live recording view.
class RecordingBadge : public QWidget {
    Q_OBJECT
public:
    RecordingBadge(AppThemeChoice theme, QWidget *parent = nullptr);

    void setTheme(AppThemeChoice theme);
    [[nodiscard]] bool isBreathing() const;

protected:
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    AppThemeChoice m_theme;
    PulseAnimation *m_pulse;
};
