#pragma once

#include <QAbstractButton>

/// A flat button whose one line of text, a file name, shortens itself in the middle to fit its
/// width, so the extension stays in view.
class ElidedButton : public QAbstractButton {
    Q_OBJECT
public:
    explicit ElidedButton(QWidget *parent = nullptr);

    /// The text as drawn at the current width.
    [[nodiscard]] QString shownText() const;
    [[nodiscard]] QSize sizeHint() const override;
    [[nodiscard]] QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
};
