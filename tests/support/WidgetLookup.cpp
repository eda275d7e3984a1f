#include "support/WidgetLookup.h"

#include <QMenu>

namespace WidgetLookup {
QStringList menuItems(const QMenu &menu)
{
    QStringList items;
    for (const auto *action : menu.actions()) {
        if (action->isVisible())
            items << (action->isSeparator() ? QStringLiteral("-")
                                            : action->text() + (action->isEnabled() ? QString() : " (off)"));
    }
    return items;
}

QAction *menuAction(const QMenu &menu, const QString &text)
{
    for (auto *action : menu.actions())
        if (action->text() == text)
            return action;
    return nullptr;
}
} // namespace WidgetLookup
