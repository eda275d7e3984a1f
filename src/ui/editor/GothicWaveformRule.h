#pragma once

#include <QWidget>

/// The thin glowing rule the gothic editor draws between its header and the waveform.
class GothicWaveformRule : public QWidget {
    Q_OBJECT
public:
    explicit GothicWaveformRule(QWidget *parent = nullptr);

    [[nodiscard]] QSize sizeHint() const override { return {200, 2}; }

protected:
    void paintEvent(QPaintEvent *event) override;
};
