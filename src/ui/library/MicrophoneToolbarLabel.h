#pragma once

#include "ui/library/ToolbarFaceButton.h"

/// The microphone record toggle: a microphone glyph that pulses red with a badge while it records.
class MicrophoneToolbarLabel : public ToolbarFaceButton {
    Q_OBJECT
public:
    explicit MicrophoneToolbarLabel(QWidget *parent = nullptr);

protected:
    [[nodiscard]] int faceWidth() const override { return 30; }
    void paintFace(QPainter &painter) override;
    void describe() override;
};
