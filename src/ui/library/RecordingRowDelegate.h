#pragma once

#include "ui/style/AppThemeChoice.h"

#include <QStyledItemDelegate>

/// Paints one sidebar row: waveform symbol, name, date, tempo and key in the theme's colours,
/// with the gothic theme's rounded selection.
class RecordingRowDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    explicit RecordingRowDelegate(QObject *parent = nullptr) : QStyledItemDelegate(parent) {}

    void setTheme(AppThemeChoice theme) { m_theme = theme; }

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    [[nodiscard]] QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;

private:
    AppThemeChoice m_theme = AppThemeChoice::gothic;
};
