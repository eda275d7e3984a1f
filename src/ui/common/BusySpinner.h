#pragma once

#include <QTimer>
#include <QWidget>

/// A small indeterminate spinner: eight spokes turning while it is visible.
class BusySpinner : public QWidget {
    Q_OBJECT
public:
    /// \a diameter in points.
    explicit BusySpinner(int diameter = 16, QWidget *parent = nullptr);

    /// Paints a spinner of \a diameter centred in \a box at the turn \a step (0...7).
    static void paint(QPainter &painter, const QRectF &box, double diameter, int step, const QColor &color);

protected:
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    QTimer m_timer;
    int m_step = 0;
};
