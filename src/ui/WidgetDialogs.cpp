#include "ui/WidgetDialogs.h"

#include <QFileDialog>
#include <QInputDialog>
#include <qcoro/qcorosignal.h>

QCoro::Task<std::optional<QString>> WidgetDialogs::chooseFolder(QString title, QString initialFolder)
{
    QPointer dialog = new QFileDialog(m_parent, title, initialFolder);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setOption(QFileDialog::ShowDirsOnly);
    dialog->open();
    const int result = co_await qCoro(dialog.data(), &QDialog::finished);
    if (!dialog || result != QDialog::Accepted || dialog->selectedFiles().isEmpty())
        co_return std::nullopt;
    co_return dialog->selectedFiles().constFirst();
}

QCoro::Task<std::optional<QString>> WidgetDialogs::askText(QString title, QString message, QString initialText)
{
    QPointer dialog = new QInputDialog(m_parent);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowTitle(title);
    dialog->setLabelText(message);
    dialog->setTextValue(initialText);
    dialog->open();
    const int result = co_await qCoro(dialog.data(), &QDialog::finished);
    if (!dialog || result != QDialog::Accepted)
        co_return std::nullopt;
    co_return dialog->textValue();
}
