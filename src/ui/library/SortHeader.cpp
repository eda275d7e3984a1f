#include "ui/library/SortHeader.h"

#include "ui/style/Symbols.h"
#include "ui/style/TextStyles.h"
#include "ui/style/VespertoneTheme.h"

#include <QFontMetricsF>
#include <QPainter>

namespace {
constexpr double chevronSize = 8;
constexpr double chevronSpacing = 3;
} // namespace

SortHeader::SortHeader(SidebarSortColumn column, QWidget *parent) : QAbstractButton(parent), m_column(column)
{
    const auto title = SidebarSortColumns::headerTitle(column);
    setText(title);
    setToolTip(QStringLiteral("Sort by ") + title);
    setAccessibleName(title);
    setFont(TextStyles::caption(QFont::DemiBold));
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
}

void SortHeader::showSort(SidebarSortColumn active, bool ascending)
{
    m_active = active == m_column;
    m_ascending = ascending;
    update();
}

void SortHeader::setTheme(AppThemeChoice theme)
{
    m_theme = theme;
    update();
}

QSize SortHeader::sizeHint() const
{
    const QFontMetricsF metrics(font());
    return QSize(int(std::ceil(metrics.horizontalAdvance(text()) + chevronSpacing + chevronSize)),
                 int(std::ceil(metrics.height())) + 4);
}

void SortHeader::paintEvent(QPaintEvent *)
{
    namespace Theme = VespertoneTheme;
    QColor colour;
    if (m_theme == AppThemeChoice::gothic)
        colour = m_active ? Theme::color(Theme::lavender) : Theme::color(Theme::dimBone);
    else
        colour = m_active ? Theme::primaryText() : Theme::secondaryText();
    if (isDown())
        colour.setAlphaF(colour.alphaF() * 0.6f);

    QPainter painter(this);
    painter.setFont(font());
    painter.setPen(colour);
    const QFontMetricsF metrics(font());
    const double textWidth = metrics.horizontalAdvance(text());
    const double labelWidth = textWidth + (m_active ? chevronSpacing + chevronSize : 0);
    const bool trailing = m_column == SidebarSortColumn::bpm;
    const double left = trailing ? width() - labelWidth : 0;
    const QRectF textBox(left, 0, textWidth, height());
    painter.drawText(textBox, Qt::AlignLeft | Qt::AlignVCenter, text());
    if (m_active) {
        const QRectF chevronBox(textBox.right() + chevronSpacing, 0, chevronSize, height());
        Symbols::chevron(painter, chevronBox, chevronSize * 0.8, m_ascending, colour);
    }
}
