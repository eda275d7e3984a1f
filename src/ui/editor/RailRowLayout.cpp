#include "ui/editor/RailRowLayout.h"

#include "ui/editor/RailButton.h"

void RailRowLayout::setGeometry(const QRect &rect)
{
    // Labels go from the right until the row fits; decided from the sizes with and without
    // labels alone, so every pass makes the same choice.
    auto width = widthWith(true);
    for (int index = count() - 1; index >= 0; --index) {
        auto *button = qobject_cast<RailButton *>(itemAt(index)->widget());
        if (!button)
            continue;
        const auto saved = button->sizeFor(true).width() - button->sizeFor(false).width();
        const bool compact = saved > 0 && width > rect.width();
        if (compact)
            width -= saved;
        button->setCompact(compact);
    }
    QHBoxLayout::setGeometry(rect);
}

QSize RailRowLayout::sizeHint() const
{
    return {widthWith(true), QHBoxLayout::sizeHint().height()};
}

QSize RailRowLayout::minimumSize() const
{
    return {widthWith(false), QHBoxLayout::minimumSize().height()};
}

int RailRowLayout::widthWith(bool labels) const
{
    const auto margins = contentsMargins();
    int width = margins.left() + margins.right();
    int widgets = 0;
    for (int index = 0; index < count(); ++index) {
        auto *item = itemAt(index);
        if (auto *button = qobject_cast<RailButton *>(item->widget())) {
            width += button->sizeFor(labels).width();
            ++widgets;
        } else if (item->widget()) {
            width += item->widget()->sizeHint().width();
            ++widgets;
        } else if (item->spacerItem()) {
            width += item->spacerItem()->minimumSize().width();
        }
    }
    return width + std::max(0, widgets - 1) * spacing();
}
