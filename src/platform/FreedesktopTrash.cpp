#include "platform/FreedesktopTrash.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

bool FreedesktopTrash::moveToTrash(const QString &path, QString *error)
{
    // Without an existing data folder Qt puts files/ and info/ into the current directory.
    QDir().mkpath(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation));
    QFile file(path);
    if (file.moveToTrash())
        return true;
    if (error)
        *error = file.errorString();
    return false;
}
