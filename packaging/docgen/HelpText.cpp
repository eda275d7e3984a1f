#include "HelpText.h"

#include <stdexcept>

namespace {
int indentOf(const QString &line)
{
    int spaces = 0;
    while (spaces < line.size() && line.at(spaces) == u' ')
        ++spaces;
    return spaces;
}

[[noreturn]] void reject(int number, const QString &line, const char *why)
{
    throw std::runtime_error(
        QStringLiteral("help line %1 (“%2”): %3").arg(number).arg(line, QLatin1String(why)).toStdString());
}
} // namespace

HelpText HelpText::parse(const QString &text)
{
    static const QString usagePrefix = QStringLiteral("Usage: ");
    const auto lines = text.split(u'\n');
    HelpText help;
    if (lines.isEmpty() || !lines.first().startsWith(usagePrefix))
        reject(1, lines.value(0), "the help starts with “Usage: ”");
    help.usage.append(lines.first().mid(usagePrefix.size()).trimmed());

    enum class Part { usage, paragraph, section, between } part = Part::usage;
    for (int index = 1; index < lines.size(); ++index) {
        const auto &line = lines.at(index);
        const int number = index + 1;
        const int indent = indentOf(line);
        if (line.trimmed().isEmpty()) {
            const auto next = lines.value(index + 1);
            if (part != Part::section || next.trimmed().isEmpty() || indentOf(next) == 0)
                part = Part::between;
            continue;
        }
        if (part == Part::usage) {
            if (indent == 0)
                reject(number, line, "usage lines go on indented");
            help.usage.append(line.trimmed());
        } else if (indent == 0 && line.endsWith(u':') && part == Part::between) {
            help.sections.push_back({line.chopped(1).trimmed(), {}});
            part = Part::section;
        } else if (indent == 0) {
            if (part == Part::paragraph)
                help.paragraphs.last() += u' ' + line.trimmed();
            else if (part == Part::between)
                help.paragraphs.append(line.trimmed());
            else
                reject(number, line, "a paragraph follows a blank line");
            part = Part::paragraph;
        } else if (part != Part::section) {
            reject(number, line, "an indented line belongs to a section");
        } else if (indent == 2) {
            help.sections.back().entries.push_back({line.trimmed(), {}});
        } else if (indent >= 6 && !help.sections.back().entries.empty()) {
            auto &description = help.sections.back().entries.back().description;
            description += (description.isEmpty() ? QString() : QStringLiteral(" ")) + line.trimmed();
        } else {
            reject(number, line, "entries are indented by two spaces, descriptions by six");
        }
    }
    for (const auto &section : help.sections) {
        for (const auto &entry : section.entries) {
            if (entry.description.isEmpty())
                throw std::runtime_error(("help entry “" + entry.synopsis + "” has no description").toStdString());
        }
    }
    return help;
}
