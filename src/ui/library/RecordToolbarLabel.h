#pragma once

#include "ui/library/ToolbarFaceButton.h"

/// The system-audio record toggle: "RECORD", or "RECORDING" and a stop square while it records.
class RecordToolbarLabel : public ToolbarFaceButton {
    Q_OBJECT
public:
    explicit RecordToolbarLabel(QWidget *parent = nullptr);

protected:
    [[nodiscard]] int faceWidth() const override;
    void paintFace(QPainter &painter) override;
    void describe() override;
};
