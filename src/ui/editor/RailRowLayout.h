#pragma once

#include <QHBoxLayout>

/// The control rail's row of buttons. Where the rail is too narrow for every label, buttons
/// show only their symbols, with their tooltips, from the right until the row fits, so the rail
/// fits at every width the window allows.
class RailRowLayout : public QHBoxLayout {
public:
    using QHBoxLayout::QHBoxLayout;

    void setGeometry(const QRect &rect) override;
    [[nodiscard]] QSize sizeHint() const override;
    [[nodiscard]] QSize minimumSize() const override;

private:
    /// The width the row needs with or without the labels.
    [[nodiscard]] int widthWith(bool labels) const;
};
