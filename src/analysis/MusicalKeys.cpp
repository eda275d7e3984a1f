#include "analysis/MusicalKeys.h"

#include <array>

namespace MusicalKeys {

namespace {
const std::array<QString, 12> noteNames{QStringLiteral("C"),  QStringLiteral("C#"), QStringLiteral("D"),
                                        QStringLiteral("Eb"), QStringLiteral("E"),  QStringLiteral("F"),
                                        QStringLiteral("F#"), QStringLiteral("G"),  QStringLiteral("Ab"),
                                        QStringLiteral("A"),  QStringLiteral("Bb"), QStringLiteral("B")};
}

QString noteName(int pitchClass)
{
    return noteNames[std::size_t((pitchClass % 12 + 12) % 12)];
}

QString keyName(int root, bool minor)
{
    return noteName(root) + (minor ? QStringLiteral(" minor") : QStringLiteral(" major"));
}

QString relativeKey(const QString &key)
{
    for (int root = 0; root < 12; ++root) {
        if (key == keyName(root, false))
            return keyName(root + 9, true);
        if (key == keyName(root, true))
            return keyName(root + 3, false);
    }
    return {};
}

bool isKeyName(const QString &text)
{
    for (int root = 0; root < 12; ++root) {
        if (text == keyName(root, false) || text == keyName(root, true))
            return true;
    }
    return false;
}

} // namespace MusicalKeys
