#include "ui/library/SidebarColumns.h"

#include <algorithm>

SidebarColumns SidebarColumns::within(const QRectF &content)
{
    const double fixed = iconWidth + dateWidth + bpmWidth + keyWidth + 4 * spacing;
    const double titleWidth = std::max(titleMinimumWidth, content.width() - fixed);
    const auto column = [&content](double left, double width) {
        return QRectF(left, content.top(), width, content.height());
    };
    SidebarColumns columns;
    columns.icon = column(content.left(), iconWidth);
    columns.title = column(columns.icon.right() + spacing, titleWidth);
    columns.date = column(columns.title.right() + spacing, dateWidth);
    columns.bpm = column(columns.date.right() + spacing, bpmWidth);
    columns.key = column(columns.bpm.right() + spacing, keyWidth);
    return columns;
}
