#pragma once

#include "ui/style/AppThemeChoice.h"

#include <QAbstractButton>

/// A control-rail button: a symbol and a label in the gothic button style or the studio
/// bordered style. A checkable one is drawn lit while checked.
class RailButton : public QAbstractButton {
    Q_OBJECT
public:
    /// The symbols the rail draws.
    enum class Symbol {
        play,
        stop,
        loop,
        findLoop,
        zoomOut,
        zoomIn,
        resetZoom,
        undo,
        scissors,
        metronome,
        reveal,
        trash
    };

    RailButton(Symbol symbol, const QString &text, QWidget *parent = nullptr);

    void setSymbol(Symbol symbol);
    void setTheme(AppThemeChoice theme);
    /// Shows only the symbol; the text stays the accessible name.
    void setSymbolOnly(bool symbolOnly);
    /// Shows only the symbol while \a compact, for a rail too narrow for every label.
    void setCompact(bool compact);
    /// Makes the button as wide as the widest of \a texts, so changing faces moves nothing.
    void setFaceTexts(const QStringList &texts);
    /// True while the label is drawn beside the symbol.
    [[nodiscard]] bool showsLabel() const { return !m_symbolOnly && !m_compact; }
    /// The size with the label shown (when it has one) or with the symbol alone.
    [[nodiscard]] QSize sizeFor(bool withLabel) const;

    [[nodiscard]] QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void paintSymbol(QPainter &painter, const QRectF &box, const QColor &color) const;

    Symbol m_symbol;
    AppThemeChoice m_theme = AppThemeChoice::gothic;
    bool m_symbolOnly = false;
    bool m_compact = false;
    QStringList m_faceTexts;
};
