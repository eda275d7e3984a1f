#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include "support/ProcessLimits.h"

/// The bytes of \a path, empty when it cannot be read.
QByteArray readFile(const QString &path);
/// Writes \a bytes to \a path, creating its folder; returns \a path. Aborts on failure.
QString writeFile(const QString &path, const QByteArray &bytes);
/// The names in \a folder, hidden ones included, sorted.
QStringList entriesOf(const QString &folder);
