#include "CommandGrammar.h"

#include <QRegularExpression>

namespace {
/// Words and the marks "[", "]", "|", "," and "..." of a synopsis.
QStringList tokens(const QString &synopsis)
{
    static const QRegularExpression token(
        QStringLiteral(R"(\.\.\.|[\[\]|,]|[^\s\[\]|,.]+(?:\.(?!\.\.)[^\s\[\]|,.]+)*)"));
    QStringList list;
    for (auto it = token.globalMatch(synopsis); it.hasNext();)
        list.append(it.next().captured());
    return list;
}

bool isMark(const QString &token)
{
    return token == u'[' || token == u']' || token == u'|' || token == u',' || token == QLatin1String("...");
}

bool isPlaceholder(const QString &word)
{
    static const QRegularExpression placeholder(QStringLiteral("^[A-Z][A-Z0-9_]*$"));
    return placeholder.match(word).hasMatch();
}

CommandGrammar::Completion completionFor(const QStringList &alternatives)
{
    using Kind = CommandGrammar::Completion::Kind;
    CommandGrammar::Completion completion;
    for (const auto &word : alternatives) {
        if (!isPlaceholder(word))
            completion.words.append(word);
    }
    if (!completion.words.isEmpty()) {
        completion.kind = Kind::words;
    } else if (alternatives.size() == 1) {
        const auto &name = alternatives.first();
        if (name == QLatin1String("TAKE"))
            completion.kind = Kind::takes;
        else if (name == QLatin1String("DIR"))
            completion.kind = Kind::folders;
        else if (name == QLatin1String("FILE") || name == QLatin1String("WAV") || name == QLatin1String("MP3"))
            completion.kind = Kind::files;
    }
    return completion;
}

/// Adds what \a synopsis says to \a command; a synopsis of a command starts with its name, and
/// "| NAME ..." begins another form of the same command.
void read(const QString &synopsis, CommandGrammar::Command &command)
{
    const auto list = tokens(synopsis);
    int index = command.name.isEmpty() ? 0 : 1;
    int depth = 0;
    while (index < list.size()) {
        const auto &token = list.at(index);
        if (token == u'[' || token == u']') {
            depth += token == u'[' ? 1 : -1;
            ++index;
        } else if (token == u'|' && depth == 0 && list.value(index + 1) == command.name) {
            index += 2;
        } else if (token == QLatin1String("...")) {
            command.lastArgumentRepeats = !command.arguments.empty();
            ++index;
        } else if (isMark(token)) {
            ++index;
        } else if (token.startsWith(u'-')) {
            CommandGrammar::Option option{token, std::nullopt};
            ++index;
            QStringList values;
            while (index < list.size() && !isMark(list.at(index)) && !list.at(index).startsWith(u'-')) {
                values.append(list.at(index));
                const bool more = list.value(index + 1) == u'|' && !list.value(index + 2).startsWith(u'-')
                    && !isMark(list.value(index + 2)) && list.value(index + 2) != command.name;
                index += more ? 2 : 1;
                if (!more)
                    break;
            }
            if (!values.isEmpty())
                option.value = completionFor(values);
            const bool known = std::any_of(command.options.begin(), command.options.end(),
                                           [&](const auto &existing) { return existing.name == option.name; });
            if (!known)
                command.options.push_back(option);
        } else {
            command.arguments.push_back(completionFor({token}));
            ++index;
        }
    }
}
} // namespace

CommandGrammar CommandGrammar::fromHelp(const HelpText &help)
{
    CommandGrammar grammar;
    for (const auto &section : help.sections) {
        const bool options = section.title == QLatin1String("Options");
        if (!options && section.title != QLatin1String("Commands"))
            continue;
        for (const auto &entry : section.entries) {
            if (options) {
                read(entry.synopsis, grammar.program);
                continue;
            }
            const auto name = entry.synopsis.section(u' ', 0, 0);
            auto command = std::find_if(grammar.commands.begin(), grammar.commands.end(),
                                        [&](const auto &existing) { return existing.name == name; });
            if (command == grammar.commands.end())
                command = grammar.commands.insert(grammar.commands.end(), Command{name, {}, {}, false});
            read(entry.synopsis, *command);
        }
    }
    return grammar;
}
