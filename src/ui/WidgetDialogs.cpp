#include "ui/WidgetDialogs.h"

#include <QFileDialog>
#include <QInputDialog>

std::optional<QString> WidgetDialogs::chooseFolder(const QString &title, const QString &initialFolder)
{
    const auto folder = QFileDialog::getExistingDirectory(m_parent, title, initialFolder, QFileDialog::ShowDirsOnly);
    if (folder.isEmpty())
        return std::nullopt;
    return folder;
}

std::optional<QString> WidgetDialogs::askText(const QString &title, const QString &message, const QString &initialText)
{
    bool accepted = false;
    auto text = QInputDialog::getText(m_parent, title, message, QLineEdit::Normal, initialText, &accepted);
    if (!accepted)
        return std::nullopt;
    return text;
}
