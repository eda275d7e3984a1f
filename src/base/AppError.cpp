#include "base/AppError.h"

AppError::AppError(const QString &text) : std::runtime_error(text.toStdString()) {}

QString AppError::text() const
{
    return QString::fromUtf8(what());
}

QString errorText(const std::exception &error)
{
    return QString::fromUtf8(error.what());
}
