#include "base/SystemErrorText.h"

#include <cerrno>
#include <cstring>

QString systemErrorText(int errorNumber)
{
    if (errorNumber == ENOSPC || errorNumber == EFBIG || errorNumber == EDQUOT)
        return QStringLiteral("The disk is full.");
    auto text = QString::fromLocal8Bit(std::strerror(errorNumber));
    if (!text.isEmpty() && !text.endsWith(u'.'))
        text += u'.';
    return text;
}
