#pragma once

#include "platform/Dialogs.h"

#include <QPointer>
#include <QWidget>

/// Dialogs as window-modal Qt input, file and message dialogs over the active window (else the
/// library window); each is awaited, never run in a nested event loop.
class WidgetDialogs final : public Dialogs {
public:
    void setParentWindow(QWidget *window) { m_parent = window; }

    QCoro::Task<std::optional<QString>> chooseFolder(QString title, QString initialFolder) override;
    QCoro::Task<std::optional<QString>> askText(QString title, QString message, QString initialText) override;
    QCoro::Task<bool> confirm(QString title, QString message, QString confirmButton) override;

private:
    [[nodiscard]] QWidget *parentWindow() const;

    QPointer<QWidget> m_parent;
};
