#pragma once

#include "ui/style/AppThemeChoice.h"

#include <QTimer>
#include <QVariantAnimation>
#include <QWidget>
#include <optional>

/// The floating status line at the bottom of the library window: the message on a themed pill,
/// with a spinner while the store is busy. It slides in from the bottom edge and fades.
class StatusPill : public QWidget {
    Q_OBJECT
public:
    StatusPill(AppThemeChoice theme, QWidget *parent);

    /// Shows \a message; none or empty slides the pill away.
    void setMessage(const std::optional<QString> &message);
    void setBusy(bool busy);
    void setTheme(AppThemeChoice theme);
    [[nodiscard]] const QString &text() const { return m_text; }
    /// The text as drawn in the pill's width of the moment, shortened in the middle when it is too long.
    [[nodiscard]] QString shownText() const;
    [[nodiscard]] bool isBusy() const { return m_busy; }
    /// True while the pill is on screen or on its way there.
    [[nodiscard]] bool isPresent() const { return !m_text.isEmpty() && m_wanted; }

protected:
    void paintEvent(QPaintEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    [[nodiscard]] QSizeF panelSize() const;
    void place();
    void animateTo(bool present);

    AppThemeChoice m_theme;
    QString m_text;
    bool m_busy = false;
    bool m_wanted = false;
    double m_presence = 0; ///< 0 away, 1 in place
    double m_panelWidth = 0;
    int m_spinnerStep = 0;
    QVariantAnimation m_presenceAnimation;
    QVariantAnimation m_widthAnimation;
    QTimer m_spinnerTimer;
};
