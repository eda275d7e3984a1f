#pragma once

#include "ui/library/ToolbarFaceButton.h"

/// The system-audio record toggle: "RECORD", or "RECORDING" and a stop square while it or an
/// application records; a chevron at its end (or a right click, or the Down key) asks for the
/// menu of every input.
class RecordToolbarLabel : public ToolbarFaceButton {
    Q_OBJECT
public:
    /// The chevron's share of the face's width.
    static constexpr int chevronWidth = 14;

    explicit RecordToolbarLabel(QWidget *parent = nullptr);
    /// Names the application an application take records; empty for other takes.
    void setApplicationTitle(const QString &title);

signals:
    /// The menu of inputs was asked for.
    void menuRequested();

protected:
    [[nodiscard]] int faceWidth() const override;
    void paintFace(QPainter &painter) override;
    void describe() override;
    void mousePressEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    [[nodiscard]] bool hasChevron() const { return !isWorking(); }

    QString m_applicationTitle;
};
