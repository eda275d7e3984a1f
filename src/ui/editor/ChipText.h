#pragma once

#include "ui/style/AppThemeChoice.h"

#include <QWidget>

/// A small text on a chip panel, as the editor's header shows tempo and key.
class ChipText : public QWidget {
    Q_OBJECT
public:
    explicit ChipText(QWidget *parent = nullptr);

    void setText(const QString &text);
    [[nodiscard]] const QString &text() const { return m_text; }
    void setTheme(AppThemeChoice theme);

    [[nodiscard]] QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_text;
    AppThemeChoice m_theme = AppThemeChoice::gothic;
};
