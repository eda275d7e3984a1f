#pragma once

#include <QVariantAnimation>
#include <QWidget>

/// The take's elapsed time in large monospaced digits; changed digits roll up into place.
class ElapsedClock : public QWidget {
    Q_OBJECT
public:
    explicit ElapsedClock(QWidget *parent = nullptr);

    [[nodiscard]] const QString &text() const { return m_text; }
    void setText(const QString &text);
    void setColor(const QColor &color);
    [[nodiscard]] QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_text;
    QString m_previous;
    QColor m_color;
    double m_roll = 1; ///< 0 when a change begins, 1 when the new digits are in place
    QVariantAnimation m_animation;
};
