#include "ui/library/GothicMasthead.h"

#include "ui/style/TextStyles.h"
#include "ui/style/VespertoneTheme.h"

#include <QCoreApplication>
#include <QFontMetricsF>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace {
namespace Theme = VespertoneTheme;

constexpr int sidePadding = 10;
constexpr int topPadding = 12;
constexpr int bottomPadding = 6;
constexpr int logoHeight = 148; // within the 142...154 frame
constexpr double cornerRadius = 8;

QString logoPath()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/../share/vespertone/GothicLogo.png");
}

/// \a text as a path, centred across \a frame, standing on \a baseline.
QPainterPath line(const QString &text, const QFont &font, const QRectF &frame, double baseline)
{
    QPainterPath path;
    path.addText(0, 0, font, text);
    path.translate(frame.center().x() - path.boundingRect().center().x(), baseline);
    return path;
}
} // namespace

GothicMasthead::GothicMasthead(QWidget *parent) : QWidget(parent), m_logo(logoPath())
{
    setAccessibleName(QStringLiteral("Vespertone Gothic logo"));
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

QSize GothicMasthead::sizeHint() const
{
    return QSize(2 * sidePadding + 200, topPadding + logoHeight + bottomPadding);
}

QSize GothicMasthead::minimumSizeHint() const
{
    return QSize(2 * sidePadding, topPadding + logoHeight + bottomPadding);
}

void GothicMasthead::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const QRectF frame(sidePadding, topPadding, width() - 2 * sidePadding, logoHeight);
    QPainterPath clip;
    clip.addRoundedRect(frame, cornerRadius, cornerRadius);
    painter.setClipPath(clip);
    if (m_logo.isNull()) {
        paintWordmark(painter, frame);
        return;
    }
    auto target = QSizeF(m_logo.size()).scaled(frame.size(), Qt::KeepAspectRatio);
    QRectF box(QPointF(), target);
    box.moveCenter(frame.center());
    painter.drawImage(box, m_logo);
}

void GothicMasthead::paintWordmark(QPainter &painter, const QRectF &frame) const
{
    const auto upperFont = TextStyles::sized(18, QFont::ExtraBold);
    const auto lowerFont = TextStyles::sized(32, QFont::Black);
    const double upperHeight = QFontMetricsF(upperFont).capHeight();
    const double lowerHeight = QFontMetricsF(lowerFont).capHeight();
    const double gap = 12;
    const double top = frame.center().y() - (upperHeight + gap + lowerHeight) / 2;
    const auto upper = line(QStringLiteral("VESPER"), upperFont, frame, top + upperHeight);
    const auto lower = line(QStringLiteral("TONE"), lowerFont, frame, top + upperHeight + gap + lowerHeight);

    painter.fillPath(upper, Theme::color(Theme::lavender));

    // A soft violet glow of radius 9 behind the lower line, built from widening faint strokes.
    for (int radius = 9; radius >= 1; radius -= 2) {
        QPen pen(Theme::color(Theme::violet, 0.70 / 5), 2.0 * radius, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
        painter.strokePath(lower, pen);
    }
    const auto bounds = lower.boundingRect();
    QLinearGradient fill(bounds.topLeft(), bounds.bottomLeft());
    fill.setStops(
        {{0.0, Theme::color(Theme::white)}, {0.5, Theme::color(Theme::lavender)}, {1.0, Theme::color(Theme::violet)}});
    painter.fillPath(lower, fill);
}
