#pragma once

#include "ui/style/AppThemeChoice.h"

#include <QPixmap>
#include <QWidget>

/// The full-window background of either theme; drawn once per size and theme, then reused.
class AppGlassBackground : public QWidget {
    Q_OBJECT
public:
    AppGlassBackground(AppThemeChoice theme, QWidget *parent = nullptr);

    void setTheme(AppThemeChoice theme);
    /// Paints the background of \a theme into \a area.
    static void paint(QPainter &painter, const QRectF &area, AppThemeChoice theme);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    AppThemeChoice m_theme;
    QPixmap m_cache;
};
