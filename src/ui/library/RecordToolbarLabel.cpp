#include "ui/library/RecordToolbarLabel.h"

#include "ui/style/BlurredShadow.h"
#include "ui/style/Symbols.h"
#include "ui/style/TextStyles.h"
#include "ui/style/VespertoneTheme.h"

#include <QFontMetricsF>
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

RecordToolbarLabel::RecordToolbarLabel(QWidget *parent) : ToolbarFaceButton(RecordingInputSource::macAudio, parent)
{
    setCaptureState(CaptureState::idle(), std::nullopt);
}

int RecordToolbarLabel::faceWidth() const
{
    if (isWorking())
        return 56;
    return isActive() ? 112 : 64;
}

void RecordToolbarLabel::describe()
{
    const bool preparing = state().is(CaptureState::Kind::preparing);
    QString label = QStringLiteral("Record System Audio");
    if (isWorking())
        label = preparing ? QStringLiteral("Preparing System Audio Recording")
                          : QStringLiteral("Saving System Audio Recording");
    else if (isActive())
        label = QStringLiteral("Stop System Audio Recording");
    setAccessibleName(label);
    setToolTip(isActive() ? QStringLiteral("Stop System Audio Recording") : QStringLiteral("Record System Audio"));
}

void RecordToolbarLabel::paintFace(QPainter &painter)
{
    const double midline = height() / 2.0;
    if (!isActive()) {
        const auto font = faceFont(0.8);
        const double width = QFontMetricsF(font).horizontalAdvance(QStringLiteral("RECORD"));
        painter.fillPath(textPath(QStringLiteral("RECORD"), font, (this->width() - width) / 2, midline),
                         VespertoneTheme::toolbarGlyph());
        return;
    }
    // "RECORDING", 7 points, then a 15-point stop square, the pair centred.
    const double p = pulse();
    const auto font = faceFont(0.7);
    const double textWidth = QFontMetricsF(font).horizontalAdvance(QStringLiteral("RECORDING"));
    const double left = (width() - (textWidth + 7 + 15)) / 2;
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
