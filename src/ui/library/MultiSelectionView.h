#pragma once

#include "ui/style/PanelMessageView.h"

class QLabel;
class QMessageBox;

/// The detail pane with several recordings selected: their number and a confirmed trash button.
class MultiSelectionView : public PanelMessageView {
    Q_OBJECT
public:
    explicit MultiSelectionView(AppThemeChoice theme, QWidget *parent = nullptr);

    void setCount(int count);
    [[nodiscard]] int count() const { return m_count; }
    /// Asks "Delete Selected Recordings?"; the answer arrives as deleteConfirmed or nothing.
    void confirmDelete();
    /// The confirmation on screen, if any.
    [[nodiscard]] QMessageBox *confirmation() const { return m_confirmation; }

signals:
    /// The user chose "Move to Trash".
    void deleteConfirmed();

private:
    int m_count = 0;
    QLabel *m_title;
    QMessageBox *m_confirmation = nullptr;
};
