#include "ui/editor/RailButton.h"

#include "ui/style/PanelPainter.h"
#include "ui/style/TextStyles.h"
#include "ui/style/VespertoneTheme.h"

#include <QPainter>
#include <QPainterPath>
#include <QtMath>
#include <cmath>

using namespace VespertoneTheme;

namespace {
constexpr double symbolSize = 14;
constexpr int paddingX = 8;
constexpr int paddingY = 5;
constexpr int spacing = 5;
/// Room for the gothic button's shadow.
constexpr int margin = 2;

/// An arc of a circle round \a c of radius \a r from \a from to \a to degrees (counter-clockwise,
/// 0 = east), with an arrowhead at its end.
QPainterPath arrowArc(QPointF c, double r, double from, double to)
{
    QPainterPath path;
    const QRectF box(c.x() - r, c.y() - r, 2 * r, 2 * r);
    path.arcMoveTo(box, from);
    path.arcTo(box, from, to - from);
    const auto end = path.currentPosition();
    const auto angle = qDegreesToRadians(to);
    // The tangent at the end, in the direction of travel (screen y runs downwards).
    const auto sign = to > from ? 1.0 : -1.0;
    const QPointF tangent(-std::sin(angle) * sign, -std::cos(angle) * sign);
    const QPointF normal(-tangent.y(), tangent.x());
    const auto head = r * 0.55;
    path.moveTo(end - tangent * head + normal * head * 0.7);
    path.lineTo(end);
    path.lineTo(end - tangent * head - normal * head * 0.7);
    return path;
}
} // namespace

RailButton::RailButton(Symbol symbol, const QString &text, QWidget *parent) : QAbstractButton(parent), m_symbol(symbol)
{
    setText(text);
    setAccessibleName(text);
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setFocusPolicy(Qt::TabFocus);
}

void RailButton::setSymbol(Symbol symbol)
{
    m_symbol = symbol;
    update();
}

void RailButton::setTheme(AppThemeChoice theme)
{
    m_theme = theme;
    update();
}

void RailButton::setSymbolOnly(bool symbolOnly)
{
    m_symbolOnly = symbolOnly;
    updateGeometry();
}

void RailButton::setCompact(bool compact)
{
    if (m_compact == compact)
        return;
    m_compact = compact;
    updateGeometry();
    update();
}

void RailButton::setFaceTexts(const QStringList &texts)
{
    m_faceTexts = texts;
    updateGeometry();
}

QSize RailButton::sizeFor(bool withLabel) const
{
    const QFontMetrics metrics(TextStyles::callout(QFont::Medium));
    auto width = int(symbolSize) + 2 * paddingX;
    if (withLabel && !m_symbolOnly) {
        auto label = metrics.horizontalAdvance(text());
        for (const auto &face : m_faceTexts)
            label = std::max(label, metrics.horizontalAdvance(face));
        width += spacing + label;
    }
    const auto height = std::max(int(gothicButtonMinimumHeight), metrics.height() + 2 * paddingY);
    return {width + 2 * margin, height + 2 * margin};
}

QSize RailButton::sizeHint() const
{
    return sizeFor(!m_compact);
}

void RailButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const auto body = QRectF(rect()).adjusted(margin, margin, -margin, -margin);
    const bool enabled = isEnabled();
    const bool pressed = isDown();
    const bool active = isCheckable() && isChecked();
    QColor label;
    if (m_theme == AppThemeChoice::gothic) {
        const auto look = gothicButton(enabled, active, pressed);
        PanelPainter::gothicButton(painter, body, look);
        label = look.label;
        painter.setOpacity(look.opacity);
    } else {
        // The studio theme's bordered button.
        const auto lit = active && enabled;
        auto fill = lit ? color(studioAccent, pressed ? 0.62 : 0.48) : color(white, pressed ? 0.16 : 0.09);
        painter.setPen(QPen(color(white, enabled ? 0.16 : 0.07), 1));
        painter.setBrush(fill);
        painter.drawRoundedRect(body.adjusted(0.5, 0.5, -0.5, -0.5), controlCornerRadius, controlCornerRadius);
        label = enabled ? primaryText() : secondaryText();
    }
    painter.setPen(label);
    painter.setFont(TextStyles::callout(QFont::Medium));
    const QFontMetrics metrics(painter.font());
    const bool labelled = !m_symbolOnly && !m_compact;
    const auto content = labelled ? symbolSize + spacing + metrics.horizontalAdvance(text()) : symbolSize;
    const auto left = body.center().x() - content / 2;
    const QRectF symbolBox(left, body.center().y() - symbolSize / 2, symbolSize, symbolSize);
    paintSymbol(painter, symbolBox, label);
    if (labelled) {
        painter.setPen(label);
        painter.drawText(
            QRectF(symbolBox.right() + spacing, body.top(), body.right() - symbolBox.right(), body.height()),
            Qt::AlignLeft | Qt::AlignVCenter, text());
    }
}

void RailButton::paintSymbol(QPainter &painter, const QRectF &box, const QColor &color) const
{
    painter.save();
    const QPen pen(color, 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    const auto c = box.center();
    const auto s = box.width();
    QPainterPath path;
    switch (m_symbol) {
    case Symbol::play:
        path.moveTo(box.left() + s * 0.2, box.top() + s * 0.1);
        path.lineTo(box.right() - s * 0.08, c.y());
        path.lineTo(box.left() + s * 0.2, box.bottom() - s * 0.1);
        path.closeSubpath();
        painter.fillPath(path, color);
        break;
    case Symbol::stop: painter.fillRect(box.adjusted(s * 0.15, s * 0.15, -s * 0.15, -s * 0.15), color); break;
    case Symbol::loop: painter.drawPath(arrowArc(c, s * 0.4, 100, 350)); break;
    case Symbol::findLoop: {
        painter.drawLine(QPointF(box.left() + s * 0.1, box.bottom() - s * 0.1),
                         QPointF(c.x() + s * 0.1, c.y() - s * 0.1));
        const QPointF star(box.right() - s * 0.22, box.top() + s * 0.22);
        const auto r = s * 0.2;
        path.moveTo(star.x(), star.y() - r);
        path.quadTo(star, QPointF(star.x() + r, star.y()));
        path.quadTo(star, QPointF(star.x(), star.y() + r));
        path.quadTo(star, QPointF(star.x() - r, star.y()));
        path.quadTo(star, QPointF(star.x(), star.y() - r));
        painter.fillPath(path, color);
        break;
    }
    case Symbol::zoomOut:
    case Symbol::zoomIn: {
        const QPointF lens(c.x() - s * 0.08, c.y() - s * 0.08);
        const auto r = s * 0.32;
        painter.drawEllipse(lens, r, r);
        painter.drawLine(lens + QPointF(r * 0.72, r * 0.72), QPointF(box.right() - s * 0.05, box.bottom() - s * 0.05));
        painter.drawLine(lens - QPointF(r * 0.5, 0), lens + QPointF(r * 0.5, 0));
        if (m_symbol == Symbol::zoomIn)
            painter.drawLine(lens - QPointF(0, r * 0.5), lens + QPointF(0, r * 0.5));
        break;
    }
    case Symbol::resetZoom: painter.drawPath(arrowArc(c, s * 0.4, -30, 240)); break;
    case Symbol::undo: {
        path.moveTo(box.right() - s * 0.1, box.bottom() - s * 0.15);
        path.cubicTo(box.right() - s * 0.1, c.y() - s * 0.3, c.x(), c.y() - s * 0.25, box.left() + s * 0.12,
                     c.y() - s * 0.1);
        path.moveTo(box.left() + s * 0.35, c.y() - s * 0.38);
        path.lineTo(box.left() + s * 0.12, c.y() - s * 0.1);
        path.lineTo(box.left() + s * 0.4, c.y() + s * 0.1);
        painter.drawPath(path);
        break;
    }
    case Symbol::scissors: {
        const auto r = s * 0.15;
        painter.drawEllipse(QPointF(box.left() + s * 0.22, box.bottom() - s * 0.2), r, r);
        painter.drawEllipse(QPointF(box.right() - s * 0.22, box.bottom() - s * 0.2), r, r);
        painter.drawLine(QPointF(box.left() + s * 0.3, box.bottom() - s * 0.32),
                         QPointF(box.right() - s * 0.2, box.top()));
        painter.drawLine(QPointF(box.right() - s * 0.3, box.bottom() - s * 0.32),
                         QPointF(box.left() + s * 0.2, box.top()));
        break;
    }
    case Symbol::metronome: {
        path.moveTo(c.x() - s * 0.14, box.top() + s * 0.05);
        path.lineTo(c.x() + s * 0.14, box.top() + s * 0.05);
        path.lineTo(box.right() - s * 0.12, box.bottom() - s * 0.05);
        path.lineTo(box.left() + s * 0.12, box.bottom() - s * 0.05);
        path.closeSubpath();
        painter.drawPath(path);
        painter.drawLine(QPointF(c.x(), box.bottom() - s * 0.25), QPointF(box.right() - s * 0.05, box.top() + s * 0.2));
        break;
    }
    case Symbol::reveal: {
        painter.drawRoundedRect(box.adjusted(s * 0.05, s * 0.2, -s * 0.2, -s * 0.05), 3, 3);
        painter.drawLine(QPointF(c.x(), c.y()), QPointF(box.right(), box.top()));
        painter.drawLine(QPointF(box.right() - s * 0.4, box.top()), QPointF(box.right(), box.top()));
        painter.drawLine(QPointF(box.right(), box.top()), QPointF(box.right(), box.top() + s * 0.4));
        break;
    }
    case Symbol::trash: {
        painter.drawLine(QPointF(box.left() + s * 0.08, box.top() + s * 0.2),
                         QPointF(box.right() - s * 0.08, box.top() + s * 0.2));
        painter.drawLine(QPointF(c.x() - s * 0.14, box.top() + s * 0.05),
                         QPointF(c.x() + s * 0.14, box.top() + s * 0.05));
        path.moveTo(box.left() + s * 0.2, box.top() + s * 0.2);
        path.lineTo(box.left() + s * 0.27, box.bottom() - s * 0.02);
        path.lineTo(box.right() - s * 0.27, box.bottom() - s * 0.02);
        path.lineTo(box.right() - s * 0.2, box.top() + s * 0.2);
        painter.drawPath(path);
        break;
    }
    }
    painter.restore();
}
