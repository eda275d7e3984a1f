#include "ui/library/ShareMenu.h"

#include "ui/common/OpenWithChooser.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QUrl>

ShareMenu::ShareMenu(QWidget *parent) : QMenu(parent)
{
    addAction(QStringLiteral("Copy File"), this, [this] { copyFile(m_path); });
    addAction(QStringLiteral("Open With…"), this, [this] { OpenWithChooser::open(m_path); });
}

void ShareMenu::copyFile(const QString &path)
{
    const auto url = QUrl::fromLocalFile(path);
    auto *data = new QMimeData;
    data->setUrls({url});
    data->setText(path);
    // GNOME's and most file managers' own clipboard form: the operation, then the files.
    data->setData(QStringLiteral("x-special/gnome-copied-files"), "copy\n" + url.toEncoded());
    QGuiApplication::clipboard()->setMimeData(data);
}
