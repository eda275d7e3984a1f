#include "ui/common/SymbolLabel.h"

#include "ui/style/VespertoneTheme.h"

#include <QPainter>

SymbolLabel::SymbolLabel(Symbols::Glyph glyph, int size, QWidget *parent)
    : QWidget(parent), m_glyph(glyph), m_size(size), m_color(VespertoneTheme::secondaryText())
{
    setFixedSize(size, size);
}

void SymbolLabel::setColor(const QColor &color)
{
    m_color = color;
    update();
}

void SymbolLabel::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    Symbols::glyph(painter, m_glyph, rect(), m_size * 0.8, m_color);
}
