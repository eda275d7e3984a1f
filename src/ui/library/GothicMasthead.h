#pragma once

#include <QImage>
#include <QWidget>

/// The logo block at the top of the gothic sidebar: the "GothicLogo.png" resource scaled to fit,
/// or a two-line wordmark when there is none.
class GothicMasthead : public QWidget {
    Q_OBJECT
public:
    explicit GothicMasthead(QWidget *parent = nullptr);

    [[nodiscard]] QSize sizeHint() const override;
    [[nodiscard]] QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void paintWordmark(QPainter &painter, const QRectF &frame) const;

    QImage m_logo;
};
