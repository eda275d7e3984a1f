#include "ui/library/MicrophoneToolbarLabel.h"

#include "ui/style/BlurredShadow.h"
#include "ui/style/Symbols.h"
#include "ui/style/VespertoneTheme.h"

#include <QPainter>
#include <QPainterPath>

namespace {
QColor red(double opacity)
{
    return VespertoneTheme::recordingRed(opacity);
}
} // namespace

MicrophoneToolbarLabel::MicrophoneToolbarLabel(QWidget *parent)
    : ToolbarFaceButton({RecordingInputSource::microphone}, parent)
{
    setCaptureState(CaptureState::idle(), std::nullopt);
}

void MicrophoneToolbarLabel::describe()
{
    QString label = QStringLiteral("Record Microphone");
    if (isActive())
        label = QStringLiteral("Stop Microphone Recording");
    else if (isWorking())
        label = state().is(CaptureState::Kind::preparing) ? QStringLiteral("Preparing Microphone Recording")
                                                          : QStringLiteral("Saving Microphone Recording");
    setAccessibleName(label);
    setToolTip(isActive() ? QStringLiteral("Stop Microphone Recording") : QStringLiteral("Record Microphone"));
}

void MicrophoneToolbarLabel::paintFace(QPainter &painter)
{
    const QRectF box(0, 0, width(), height());
    const double p = pulse();
    if (isActive()) {
        const QRectF glyphBox(box.center().x() - 7, box.center().y() - 7, 14, 14);
        BlurredShadow::paint(painter, glyphBox.adjusted(3, 0, -3, 0), 4,
                             {red(0.68 + (0.22 - 0.68) * p), 6 - 4 * p, {}});
        Symbols::glyph(painter, Symbols::Glyph::microphone, box, 14, red(1.0 + (0.46 - 1.0) * p));
        // The badge sits at the glyph's bottom-trailing corner, 5 right and 3 down.
        QPainterPath badge;
        badge.addRoundedRect(QRectF(glyphBox.right() - 7 + 5, glyphBox.bottom() - 7 + 3, 7, 7), 2, 2);
        painter.fillPath(badge, red(0.95));
        return;
    }
    Symbols::glyph(painter, Symbols::Glyph::microphone, box, 14, VespertoneTheme::toolbarGlyph());
}
