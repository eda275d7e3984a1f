#include "ui/editor/ChipText.h"

#include "ui/style/PanelPainter.h"
#include "ui/style/TextStyles.h"
#include "ui/style/VespertoneTheme.h"

#include <QFontMetrics>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

namespace {
constexpr int paddingX = 8;
constexpr int paddingY = 4;
/// Room for the chip's shadow.
constexpr int margin = 3;
} // namespace

ChipText::ChipText(QWidget *parent) : QWidget(parent)
{
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void ChipText::setText(const QString &text)
{
    m_text = text;
    updateGeometry();
    update();
}

void ChipText::setTheme(AppThemeChoice theme)
{
    m_theme = theme;
    update();
}

void ChipText::setDimmed(bool dimmed)
{
    m_dimmed = dimmed;
    update();
}

void ChipText::setClickable(bool clickable)
{
    m_clickable = clickable;
    setCursor(clickable ? Qt::PointingHandCursor : Qt::ArrowCursor);
    setFocusPolicy(clickable ? Qt::TabFocus : Qt::NoFocus);
}

QSize ChipText::sizeHint() const
{
    const QFontMetrics metrics(TextStyles::caption(QFont::DemiBold));
    return {metrics.horizontalAdvance(m_text) + 2 * (paddingX + margin), metrics.height() + 2 * (paddingY + margin)};
}

void ChipText::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    if (m_dimmed)
        painter.setOpacity(VespertoneTheme::dimmedChipOpacity);
    const auto chip = QRectF(rect()).adjusted(margin, margin, -margin, -margin);
    PanelPainter::paint(painter, chip, m_theme, VespertoneTheme::panel(VespertoneTheme::PanelUse::chip, m_theme),
                        margin);
    painter.setFont(TextStyles::caption(QFont::DemiBold));
    painter.setPen(m_theme == AppThemeChoice::gothic ? VespertoneTheme::color(VespertoneTheme::bone)
                                                     : VespertoneTheme::primaryText());
    painter.drawText(chip, Qt::AlignCenter, m_text);
}

void ChipText::mouseReleaseEvent(QMouseEvent *event)
{
    if (m_clickable && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        emit clicked();
    QWidget::mouseReleaseEvent(event);
}

void ChipText::keyPressEvent(QKeyEvent *event)
{
    if (m_clickable && (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)) {
        emit clicked();
        return;
    }
    QWidget::keyPressEvent(event);
}
