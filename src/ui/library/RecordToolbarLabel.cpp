#include "ui/library/RecordToolbarLabel.h"

#include "ui/style/BlurredShadow.h"
#include "ui/style/Symbols.h"
#include "ui/style/TextStyles.h"
#include "ui/style/VespertoneTheme.h"

#include <QFontMetricsF>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

namespace {
QFont faceFont(double tracking)
{
    auto font = TextStyles::sized(11, QFont::ExtraBold);
    font.setLetterSpacing(QFont::AbsoluteSpacing, tracking);
    return font;
}

QColor red(double opacity)
{
    return VespertoneTheme::recordingRed(opacity);
}

/// \a text as a path whose left end is at \a x, centred on \a midline.
QPainterPath textPath(const QString &text, const QFont &font, double x, double midline)
{
    QPainterPath path;
    const QFontMetricsF metrics(font);
    path.addText(x, midline + metrics.capHeight() / 2, font, text);
    return path;
}
} // namespace

RecordToolbarLabel::RecordToolbarLabel(QWidget *parent)
    : ToolbarFaceButton({RecordingInputSource::macAudio, RecordingInputSource::application}, parent)
{
    setAccessibleDescription(QStringLiteral("Right-click or press Down for System Audio, Microphone and the "
                                            "applications playing now."));
    setCaptureState(CaptureState::idle(), std::nullopt);
}

void RecordToolbarLabel::setApplicationTitle(const QString &title)
{
    m_applicationTitle = title;
    describe();
}

int RecordToolbarLabel::faceWidth() const
{
    if (isWorking())
        return 56;
    return (isActive() ? 112 : 64) + chevronWidth;
}

void RecordToolbarLabel::describe()
{
    const bool preparing = state().is(CaptureState::Kind::preparing);
    // An application take is named after its application.
    const bool application = activeSource() == RecordingInputSource::application && !m_applicationTitle.isEmpty();
    const auto input = application ? m_applicationTitle : QStringLiteral("System Audio");
    QString label = QStringLiteral("Record System Audio");
    if (isWorking())
        label = (preparing ? QStringLiteral("Preparing ") : QStringLiteral("Saving ")) + input
            + QStringLiteral(" Recording");
    else if (isActive())
        label = QStringLiteral("Stop ") + input + QStringLiteral(" Recording");
    setAccessibleName(label);
    setToolTip(isActive() ? label : QStringLiteral("Record System Audio"));
}

void RecordToolbarLabel::mousePressEvent(QMouseEvent *event)
{
    const bool onChevron = hasChevron() && event->position().x() >= width() - chevronWidth;
    if (event->button() == Qt::RightButton || (event->button() == Qt::LeftButton && onChevron)) {
        event->accept();
        emit menuRequested();
        return;
    }
    ToolbarFaceButton::mousePressEvent(event);
}

void RecordToolbarLabel::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Down || event->key() == Qt::Key_Menu) {
        event->accept();
        emit menuRequested();
        return;
    }
    ToolbarFaceButton::keyPressEvent(event);
}

void RecordToolbarLabel::paintFace(QPainter &painter)
{
    const double midline = height() / 2.0;
    const double faceWidth = width() - chevronWidth;
    // The chevron behind a faint divider.
    painter.fillRect(QRectF(faceWidth - 0.5, 6, 1, height() - 12), VespertoneTheme::toolbarDivider());
    Symbols::chevron(painter, QRectF(faceWidth, 0, chevronWidth, height()), 6.5, false,
                     VespertoneTheme::toolbarChevron());
    if (!isActive()) {
        const auto font = faceFont(0.8);
        const double width = QFontMetricsF(font).horizontalAdvance(QStringLiteral("RECORD"));
        painter.fillPath(textPath(QStringLiteral("RECORD"), font, (faceWidth - width) / 2, midline),
                         VespertoneTheme::toolbarGlyph());
        return;
    }
    // "RECORDING", 7 points, then a 15-point stop square, the pair centred.
    const double p = pulse();
    const auto font = faceFont(0.7);
    const double textWidth = QFontMetricsF(font).horizontalAdvance(QStringLiteral("RECORDING"));
    const double left = (faceWidth - (textWidth + 7 + 15)) / 2;
    const auto text = textPath(QStringLiteral("RECORDING"), font, left, midline);
    BlurredShadow::paint(painter, text, QStringLiteral("recording-text"),
                         {red(0.72 + (0.22 - 0.72) * p), 6 + (2 - 6) * p, {}});
    painter.fillPath(text, red(1.0 + (0.46 - 1.0) * p));
    const QRectF square(left + textWidth + 7, midline - 7.5, 15, 15);
    BlurredShadow::paint(painter, square, 3, {red(0.55), 5, {}});
    QPainterPath stop;
    stop.addRoundedRect(square, 3, 3);
    painter.fillPath(stop, red(0.95));
    Symbols::glyph(painter, Symbols::Glyph::stop, square, 7, VespertoneTheme::toolbarGlyph());
}
