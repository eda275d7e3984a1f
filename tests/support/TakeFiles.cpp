#include "support/TakeFiles.h"

#include <QDir>
#include <QTest>

namespace TakeFiles {

QMap<QString, qint64> takes(const QString &folder)
{
    QMap<QString, qint64> sizes;
    for (const auto &file : QDir(folder).entryInfoList({"*.m4a"}, QDir::Files))
        sizes.insert(file.fileName(), file.size());
    return sizes;
}

bool locked(const QString &folder)
{
    return !QDir(folder + "/.vespertone/tmp").entryList(QDir::Files | QDir::Hidden).isEmpty();
}

bool startsRecording(const QString &folder, int takesBefore)
{
    if (!QTest::qWaitFor([&] { return takes(folder).size() > takesBefore; }, 10000))
        return false;
    const auto start = takes(folder);
    return QTest::qWaitFor([&] { return takes(folder) != start; }, 10000);
}

} // namespace TakeFiles
