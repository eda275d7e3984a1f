#pragma once

#include "ui/style/AppThemeChoice.h"

#include <QWidget>

/// A small text on a chip panel, as the editor's header shows tempo and key; dimmed when the
/// figure is uncertain, and a button when it has alternatives to offer.
class ChipText : public QWidget {
    Q_OBJECT
public:
    explicit ChipText(QWidget *parent = nullptr);

    void setText(const QString &text);
    [[nodiscard]] const QString &text() const { return m_text; }
    void setTheme(AppThemeChoice theme);
    /// Draws the chip faded, for a figure of low confidence.
    void setDimmed(bool dimmed);
    [[nodiscard]] bool isDimmed() const { return m_dimmed; }
    /// Makes the chip take clicks and the Return key, and show a pointing hand.
    void setClickable(bool clickable);
    [[nodiscard]] bool isClickable() const { return m_clickable; }

    [[nodiscard]] QSize sizeHint() const override;

signals:
    void clicked();

protected:
    void paintEvent(QPaintEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    QString m_text;
    AppThemeChoice m_theme = AppThemeChoice::gothic;
    bool m_dimmed = false;
    bool m_clickable = false;
};
