#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVector>
#include <functional>

#include "support/ProcessLimits.h"

struct RecordingItem;

/// The bytes of \a path, empty when it cannot be read.
QByteArray readFile(const QString &path);
/// Writes \a bytes to \a path, creating its folder; returns \a path. Aborts on failure.
QString writeFile(const QString &path, const QByteArray &bytes);
/// Writes \a text to \a path as a script only this user may read and run; returns \a path.
QString writeScript(const QString &path, const QByteArray &text);
/// Passes the bytes of \a path through \a edit, which keeps their number, and writes them back
/// with the file's old times: only what reads the file sees the change. Aborts on failure.
void editUnseen(const QString &path, const std::function<void(QByteArray &)> &edit);
/// The names in \a folder, hidden ones included, sorted.
QStringList entriesOf(const QString &folder);
/// The file names of \a items, in their order.
QStringList fileNames(const QVector<RecordingItem> &items);
