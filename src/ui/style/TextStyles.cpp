#include "ui/style/TextStyles.h"

#include <QGuiApplication>

namespace TextStyles {

QFont sized(int pixels, QFont::Weight weight)
{
    QFont font = QGuiApplication::font();
    font.setPixelSize(pixels);
    font.setWeight(weight);
    return font;
}

QFont callout(QFont::Weight weight)
{
    return sized(12, weight);
}

QFont caption(QFont::Weight weight)
{
    return sized(10, weight);
}

} // namespace TextStyles
