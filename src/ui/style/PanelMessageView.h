#pragma once

#include "ui/style/AppThemeChoice.h"

#include <QWidget>

class QVBoxLayout;
class ThemedPanel;

/// A pane-filling view with one themed panel in its centre holding a column of content.
class PanelMessageView : public QWidget {
    Q_OBJECT
public:
    virtual void setTheme(AppThemeChoice theme);
    [[nodiscard]] AppThemeChoice theme() const;

protected:
    PanelMessageView(AppThemeChoice theme, QWidget *parent);
    /// The panel's column, centred, 12 points between its items.
    [[nodiscard]] QVBoxLayout *column() const { return m_column; }

private:
    ThemedPanel *m_panel;
    QVBoxLayout *m_column;
};
