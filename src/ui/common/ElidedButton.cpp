#include "ui/common/ElidedButton.h"

#include <QPainter>
#include <QStyle>
#include <QStyleOptionFocusRect>

ElidedButton::ElidedButton(QWidget *parent) : QAbstractButton(parent)
{
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
    setAttribute(Qt::WA_Hover);
}

QString ElidedButton::shownText() const
{
    return fontMetrics().elidedText(text(), Qt::ElideMiddle, width());
}

QSize ElidedButton::sizeHint() const
{
    return {fontMetrics().horizontalAdvance(text()), fontMetrics().height() + 2};
}

QSize ElidedButton::minimumSizeHint() const
{
    return {0, fontMetrics().height() + 2};
}

void ElidedButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    auto font = this->font();
    // Underlined under the pointer, like a link.
    font.setUnderline(underMouse() && isEnabled());
    painter.setFont(font);
    painter.setPen(palette().color(QPalette::ButtonText));
    painter.drawText(rect(), Qt::AlignLeft | Qt::AlignVCenter, shownText());
    if (hasFocus()) {
        QStyleOptionFocusRect focus;
        focus.initFrom(this);
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, &painter, this);
    }
}
