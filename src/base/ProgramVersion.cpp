#include "base/ProgramVersion.h"

#ifndef VESPERTONE_VERSION
#define VESPERTONE_VERSION ""
#endif

QString ProgramVersion::number()
{
    return QStringLiteral(VESPERTONE_VERSION);
}
