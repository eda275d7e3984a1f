#include "ui/style/ThemedPanel.h"

#include "ui/style/PanelPainter.h"

#include <QEvent>
#include <QPainter>

ThemedPanel::ThemedPanel(VespertoneTheme::PanelUse use, AppThemeChoice theme, int padding, QWidget *parent)
    : QWidget(parent), m_use(use), m_theme(theme)
{
    setContentsMargins(padding, padding, padding, padding);
    if (parent)
        parent->installEventFilter(this);
}

void ThemedPanel::setTheme(AppThemeChoice theme)
{
    m_theme = theme;
    if (parentWidget())
        parentWidget()->update();
    update();
}

void ThemedPanel::setCornerRadius(double radius)
{
    m_cornerRadius = radius;
    update();
}

VespertoneTheme::PanelParameters ThemedPanel::parameters() const
{
    auto parameters = VespertoneTheme::panel(m_use, m_theme);
    if (m_cornerRadius >= 0)
        parameters.cornerRadius = m_cornerRadius;
    return parameters;
}

bool ThemedPanel::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == parentWidget() && event->type() == QEvent::Paint && isVisible()) {
        QPainter painter(parentWidget());
        PanelPainter::paintShadows(painter, QRectF(geometry()), parameters(), m_theme);
    }
    return QWidget::eventFilter(watched, event);
}

void ThemedPanel::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    PanelPainter::paintFill(painter, QRectF(rect()), parameters(), m_theme);
    PanelPainter::paintBorder(painter, QRectF(rect()), parameters(), m_theme);
}
