#pragma once

#include "ui/style/Symbols.h"

#include <QWidget>

/// One glyph at a fixed size and colour, as a widget.
class SymbolLabel : public QWidget {
    Q_OBJECT
public:
    SymbolLabel(Symbols::Glyph glyph, int size, QWidget *parent = nullptr);

    [[nodiscard]] Symbols::Glyph glyph() const { return m_glyph; }
    void setColor(const QColor &color);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    Symbols::Glyph m_glyph;
    int m_size;
    QColor m_color;
};
