#pragma once

#include "platform/Dialogs.h"

#include <QPointer>
#include <QWidget>

/// Dialogs as Qt message boxes, input dialogs and file dialogs over the library window.
class WidgetDialogs final : public Dialogs {
public:
    void setParentWindow(QWidget *window) { m_parent = window; }

    std::optional<QString> chooseFolder(const QString &title, const QString &initialFolder) override;
    std::optional<QString> askText(const QString &title, const QString &message, const QString &initialText) override;

private:
    QPointer<QWidget> m_parent;
};
