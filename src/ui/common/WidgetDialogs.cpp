#include "ui/common/WidgetDialogs.h"

#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>
#include <QPushButton>
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

QCoro::Task<bool> WidgetDialogs::confirm(QString title, QString message, QString confirmButton)
{
    QPointer box = new QMessageBox(QMessageBox::Warning, title, message, QMessageBox::NoButton, m_parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    QPushButton *accept = box->addButton(confirmButton, QMessageBox::AcceptRole);
    box->addButton(QMessageBox::Cancel);
    box->setDefaultButton(accept);
    box->open();
    co_await qCoro(box.data(), &QDialog::finished);
    co_return box && box->clickedButton() == accept;
}
