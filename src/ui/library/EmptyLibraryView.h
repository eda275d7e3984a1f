#pragma once

#include "ui/style/PanelMessageView.h"

class SymbolLabel;

/// The detail pane with nothing selected: "No recordings" and where to start one.
class EmptyLibraryView : public PanelMessageView {
    Q_OBJECT
public:
    explicit EmptyLibraryView(AppThemeChoice theme, QWidget *parent = nullptr);

    void setTheme(AppThemeChoice theme) override;

private:
    SymbolLabel *m_symbol;
};
