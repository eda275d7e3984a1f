#include "ui/library/RecordingRowDelegate.h"

#include "ui/library/RecordingListModel.h"
#include "ui/library/SidebarColumns.h"
#include "ui/style/Symbols.h"
#include "ui/style/TextStyles.h"
#include "ui/style/VespertoneTheme.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>

namespace {
namespace Theme = VespertoneTheme;

/// Padding above and below a row's content.
constexpr double rowPadding = 4;
/// The selection shape's inset from the row's edges.
constexpr double backgroundInsetX = 8;
constexpr double backgroundInsetY = 1;

struct RowColours {
    QColor icon;
    QColor title;
    QColor metadata;
};

RowColours colours(AppThemeChoice theme, bool selected)
{
    if (theme == AppThemeChoice::studioGlass)
        return {Theme::secondaryText(), Theme::primaryText(), Theme::secondaryText()};
    if (selected)
        return {Theme::color(Theme::violetHot), Theme::color(Theme::white), Theme::color(Theme::bone)};
    return {Theme::color(Theme::violet, 0.82), Theme::color(Theme::bone), Theme::color(Theme::dimBone)};
}

void drawText(QPainter &painter, const QRectF &box, const QString &text, Qt::Alignment alignment,
              Qt::TextElideMode elide = Qt::ElideRight)
{
    const auto elided = QFontMetricsF(painter.font()).elidedText(text, elide, box.width());
    painter.drawText(box, int(alignment | Qt::AlignVCenter), elided);
}
} // namespace

void RecordingRowDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    const bool selected = option.state.testFlag(QStyle::State_Selected);
    const QRectF row(option.rect);
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    if (selected) {
        // Gothic rows carry their own rounded selection; studio glass shows the list's accent highlight.
        QPainterPath shape;
        const double radius = m_theme == AppThemeChoice::gothic ? 8 : 5;
        shape.addRoundedRect(row.adjusted(backgroundInsetX, backgroundInsetY, -backgroundInsetX, -backgroundInsetY),
                             radius, radius);
        painter->fillPath(shape,
                          m_theme == AppThemeChoice::gothic ? Theme::color(Theme::violet, 0.48)
                                                            : Theme::color(Theme::studioAccent, 0.72));
    }

    const auto content = row.adjusted(SidebarColumns::sideInset, backgroundInsetY + rowPadding,
                                      -SidebarColumns::sideInset, -(backgroundInsetY + rowPadding));
    const auto columns = SidebarColumns::within(content);
    const auto colour = colours(m_theme, selected);
    Symbols::waveform(*painter, columns.icon, 12, colour.icon);

    painter->setFont(TextStyles::callout(QFont::Medium));
    painter->setPen(colour.title);
    drawText(*painter, columns.title, index.data(Qt::DisplayRole).toString(), Qt::AlignLeft, Qt::ElideMiddle);

    painter->setFont(TextStyles::caption());
    painter->setPen(colour.metadata);
    drawText(*painter, columns.date, index.data(RecordingListModel::DateTextRole).toString(), Qt::AlignLeft);
    drawText(*painter, columns.bpm, index.data(RecordingListModel::BpmTextRole).toString(), Qt::AlignRight);
    drawText(*painter, columns.key, index.data(RecordingListModel::KeyTextRole).toString(), Qt::AlignLeft);
    painter->restore();
}

QSize RecordingRowDelegate::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &) const
{
    const double text = QFontMetricsF(TextStyles::callout(QFont::Medium)).height();
    const double height = text + 2 * (rowPadding + backgroundInsetY) + 4;
    const double width = 2 * SidebarColumns::sideInset + SidebarColumns::iconWidth + SidebarColumns::titleMinimumWidth
        + SidebarColumns::dateWidth + SidebarColumns::bpmWidth + SidebarColumns::keyWidth + 4 * SidebarColumns::spacing;
    return QSize(std::max(option.rect.width(), int(width)), int(std::ceil(height)));
}
