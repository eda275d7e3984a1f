#include "hotkeys/HotKeyShortcut.h"

#include "base/NumberRange.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

QString HotKeyShortcut::displayText() const
{
    QStringList parts;
    if (modifierFlags & controlFlag)
        parts << QStringLiteral("Ctrl");
    if (modifierFlags & optionFlag)
        parts << QStringLiteral("Alt");
    if (modifierFlags & shiftFlag)
        parts << QStringLiteral("Shift");
    if (modifierFlags & commandFlag)
        parts << QStringLiteral("Super");
    parts << keyEquivalent.toUpper();
    return parts.join(u'+');
}

QByteArray HotKeyShortcut::toJson() const
{
    const QJsonObject object{{QStringLiteral("keyCode"), qint64(keyCode)},
                             {QStringLiteral("modifierFlags"), qint64(modifierFlags)},
                             {QStringLiteral("keyEquivalent"), keyEquivalent}};
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

std::optional<HotKeyShortcut> HotKeyShortcut::fromJson(const QByteArray &json)
{
    const auto object = QJsonDocument::fromJson(json).object();
    const auto code = object.value(QLatin1String("keyCode"));
    const auto flags = object.value(QLatin1String("modifierFlags"));
    const auto key = object.value(QLatin1String("keyEquivalent"));
    if (!code.isDouble() || !flags.isDouble() || !key.isString())
        return std::nullopt;
    // Flags as far as a JSON number holds them exactly, so what is written back reads the same.
    const auto codeValue = NumberRange::exactInteger<quint32>(code.toDouble());
    const auto flagsValue = NumberRange::exactInteger<qint64>(flags.toDouble());
    if (!codeValue || !flagsValue || *flagsValue < 0 || *flagsValue > (qint64(1) << 53))
        return std::nullopt;
    return HotKeyShortcut{*codeValue, quint64(*flagsValue), key.toString()};
}

QString HotKeyShortcut::keyName(quint32 keyCode, const QString &characters)
{
    switch (keyCode) {
    case 36: return QStringLiteral("Return");
    case 48: return QStringLiteral("Tab");
    case 49: return QStringLiteral("Space");
    case 51: return QStringLiteral("Delete");
    case 53: return QStringLiteral("Esc");
    case 123: return QStringLiteral("Left");
    case 124: return QStringLiteral("Right");
    case 125: return QStringLiteral("Down");
    case 126: return QStringLiteral("Up");
    default: return characters.toUpper();
    }
}
