#include "ui/style/VespertoneStyle.h"

#include "ui/style/Symbols.h"
#include "ui/style/VespertoneTheme.h"

#include <QPainter>
#include <QPixmap>
#include <QStyleFactory>
#include <QStyleOption>
#include <optional>

using namespace VespertoneTheme;

namespace {
/// The glyph drawn for \a icon; none for the icons Fusion's own do well on dark.
std::optional<Symbols::Glyph> glyphFor(QStyle::StandardPixmap icon)
{
    using Glyph = Symbols::Glyph;
    switch (icon) {
    case QStyle::SP_ArrowBack:
    case QStyle::SP_ArrowLeft:
    case QStyle::SP_FileDialogBack: return Glyph::arrowLeft;
    case QStyle::SP_ArrowForward:
    case QStyle::SP_ArrowRight: return Glyph::arrowRight;
    case QStyle::SP_ArrowUp:
    case QStyle::SP_FileDialogToParent: return Glyph::arrowUp;
    case QStyle::SP_ArrowDown: return Glyph::arrowDown;
    case QStyle::SP_FileDialogNewFolder: return Glyph::folderPlus;
    case QStyle::SP_FileDialogListView: return Glyph::listView;
    case QStyle::SP_FileDialogDetailedView: return Glyph::detailView;
    default: return std::nullopt;
    }
}

/// A rectangle's hairline, drawn inside it.
void hairlineFrame(QPainter &painter, const QRect &rect, const QColor &color, const QBrush &fill = Qt::NoBrush)
{
    painter.save();
    painter.setPen(QPen(color, 1));
    painter.setBrush(fill);
    painter.drawRect(QRectF(rect).adjusted(0.5, 0.5, -0.5, -0.5));
    painter.restore();
}
} // namespace

VespertoneStyle::VespertoneStyle(AppThemeChoice theme)
    : QProxyStyle(QStyleFactory::create(QStringLiteral("Fusion"))), m_theme(theme)
{}

void VespertoneStyle::setTheme(AppThemeChoice theme)
{
    m_theme = theme;
}

QPalette VespertoneStyle::standardPalette() const
{
    return darkAppearance(m_theme);
}

void VespertoneStyle::drawPrimitive(PrimitiveElement element, const QStyleOption *option, QPainter *painter,
                                    const QWidget *widget) const
{
    switch (element) {
    case PE_PanelMenu:
        // Menus and combo-box popups: the surface edge to edge, no lighter strips.
        hairlineFrame(*painter, option->rect, hairline(m_theme), option->palette.window());
        return;
    case PE_FrameMenu: hairlineFrame(*painter, option->rect, hairline(m_theme)); return;
    case PE_PanelTipLabel:
        hairlineFrame(*painter, option->rect, hairline(m_theme), option->palette.toolTipBase());
        return;
    case PE_FrameFocusRect:
        // The focus ring in the accent, not a pale outline on the dark surface.
        hairlineFrame(*painter, option->rect, accent(m_theme));
        return;
    case PE_FrameLineEdit: {
        const bool focused = option->state & State_HasFocus;
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        painter->setPen(QPen(focused ? accent(m_theme) : hairline(m_theme), 1));
        painter->setBrush(Qt::NoBrush);
        painter->drawRoundedRect(QRectF(option->rect).adjusted(0.5, 0.5, -0.5, -0.5), 3, 3);
        painter->restore();
        return;
    }
    default: QProxyStyle::drawPrimitive(element, option, painter, widget);
    }
}

void VespertoneStyle::drawControl(ControlElement element, const QStyleOption *option, QPainter *painter,
                                  const QWidget *widget) const
{
    const auto *item = qstyleoption_cast<const QStyleOptionMenuItem *>(option);
    if (element == CE_MenuItem && item && item->menuItemType == QStyleOptionMenuItem::Separator) {
        // Fusion's divider is a shade of black, lost on a dark menu.
        const auto y = item->rect.center().y() + 0.5;
        painter->save();
        painter->setPen(QPen(hairline(m_theme), 1));
        painter->drawLine(QPointF(item->rect.left() + 8, y), QPointF(item->rect.right() - 8, y));
        painter->restore();
        return;
    }
    QProxyStyle::drawControl(element, option, painter, widget);
}

int VespertoneStyle::pixelMetric(PixelMetric metric, const QStyleOption *option, const QWidget *widget) const
{
    if (metric == PM_MenuPanelWidth)
        return 1;
    return QProxyStyle::pixelMetric(metric, option, widget);
}

int VespertoneStyle::styleHint(StyleHint hint, const QStyleOption *option, const QWidget *widget,
                               QStyleHintReturn *returnData) const
{
    // An etched shadow doubles disabled text on a dark surface; dialog buttons carry words only.
    if (hint == SH_EtchDisabledText || hint == SH_DialogButtonBox_ButtonsHaveIcons)
        return 0;
    return QProxyStyle::styleHint(hint, option, widget, returnData);
}

QIcon VespertoneStyle::standardIcon(StandardPixmap icon, const QStyleOption *option, const QWidget *widget) const
{
    const auto glyph = glyphFor(icon);
    if (!glyph)
        return QProxyStyle::standardIcon(icon, option, widget);
    // Drawn in the text colour, so they show on the dark surface whatever the icon theme.
    const auto palette = darkAppearance(m_theme);
    QIcon drawn;
    for (const int size : {16, 24, 32}) {
        for (const auto mode : {QIcon::Normal, QIcon::Disabled}) {
            QPixmap pixmap(size, size);
            pixmap.fill(Qt::transparent);
            QPainter painter(&pixmap);
            const auto group = mode == QIcon::Normal ? QPalette::Active : QPalette::Disabled;
            Symbols::glyph(painter, *glyph, QRectF(0, 0, size, size), size * 0.75,
                           palette.color(group, QPalette::ButtonText));
            painter.end();
            drawn.addPixmap(pixmap, mode);
        }
    }
    return drawn;
}
