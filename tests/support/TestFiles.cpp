#include "support/TestFiles.h"

#include "library/RecordingItem.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size()) {
        std::fprintf(stderr, "TestFiles: cannot write %s\n", qPrintable(path));
        std::abort();
    }
    return path;
}

QString writeScript(const QString &path, const QByteArray &text)
{
    QFile::setPermissions(writeFile(path, text), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return path;
}

void editUnseen(const QString &path, const std::function<void(QByteArray &)> &edit)
{
    const auto name = QFile::encodeName(path);
    struct stat before {};
    auto bytes = readFile(path);
    const auto size = bytes.size();
    edit(bytes);
    bool edited = ::stat(name.constData(), &before) == 0 && bytes.size() == size;
    if (edited) {
        writeFile(path, bytes);
        const struct timespec times[2] = {before.st_atim, before.st_mtim};
        edited = ::utimensat(AT_FDCWD, name.constData(), times, 0) == 0;
    }
    if (!edited) {
        std::fprintf(stderr, "TestFiles: cannot edit %s unseen\n", qPrintable(path));
        std::abort();
    }
}

QStringList entriesOf(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

QStringList fileNames(const QVector<RecordingItem> &items)
{
    QStringList names;
    for (const auto &item : items)
        names << QFileInfo(item.url).fileName();
    return names;
}
