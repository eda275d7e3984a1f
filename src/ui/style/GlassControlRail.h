#pragma once

#include "ui/style/ThemedPanel.h"

class QHBoxLayout;

/// A themed panel holding one row of controls, padded 7 points on every side.
class GlassControlRail : public ThemedPanel {
    Q_OBJECT
public:
    GlassControlRail(double cornerRadius, AppThemeChoice theme, QWidget *parent = nullptr);

    /// The row the controls go into.
    [[nodiscard]] QHBoxLayout *row() const { return m_row; }

private:
    QHBoxLayout *m_row;
};
