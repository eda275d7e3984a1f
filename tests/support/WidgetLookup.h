#pragma once

#include <QAbstractButton>
#include <QString>
#include <QStringList>
#include <QWidget>

class QAction;
class QMenu;

/// Finding a widget or menu item by the text a person reads on it.
namespace WidgetLookup {
/// The first \a Button under \a window whose text reads \a text, or null.
template <typename Button = QAbstractButton>
[[nodiscard]] Button *button(const QWidget &window, const QString &text)
{
    for (auto *candidate : window.findChildren<Button *>())
        if (candidate->text() == text)
            return candidate;
    return nullptr;
}

/// The visible items of \a menu: "-" for a divider, a text with " (off)" when disabled.
[[nodiscard]] QStringList menuItems(const QMenu &menu);
/// The item of \a menu whose text is \a text, or null.
[[nodiscard]] QAction *menuAction(const QMenu &menu, const QString &text);
} // namespace WidgetLookup
