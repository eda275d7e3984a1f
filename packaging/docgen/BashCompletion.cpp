#include "BashCompletion.h"

namespace {
QString quoted(const QString &word)
{
    return u'\'' + QString(word).replace(u'\'', QLatin1String("'\\''")) + u'\'';
}

/// "reply=(...)": the words, or the one marker of files, folders or takes.
QString reply(const CommandGrammar::Completion &completion)
{
    using Kind = CommandGrammar::Completion::Kind;
    QStringList words;
    switch (completion.kind) {
    case Kind::nothing: break;
    case Kind::words:
        for (const auto &word : completion.words)
            words.append(quoted(word));
        break;
    case Kind::files: words.append(QStringLiteral("@files")); break;
    case Kind::folders: words.append(QStringLiteral("@folders")); break;
    case Kind::takes: words.append(QStringLiteral("@takes")); break;
    }
    return QStringLiteral("reply=(%1)").arg(words.join(u' '));
}

QString optionNames(const CommandGrammar::Command &command)
{
    QStringList names;
    for (const auto &option : command.options)
        names.append(quoted(option.name));
    return names.join(u' ');
}

QString grammarBody(const CommandGrammar &grammar)
{
    std::vector<const CommandGrammar::Command *> all{&grammar.program};
    for (const auto &command : grammar.commands)
        all.push_back(&command);

    QStringList names;
    for (const auto &command : grammar.commands)
        names.append(quoted(command.name));
    QString body = QStringLiteral("    case $1 in\n    commands) reply=(%1) ;;\n    options)\n        case $2 in\n")
                       .arg(names.join(u' '));
    for (const auto *command : all)
        body += QStringLiteral("        %1) reply=(%2) ;;\n").arg(quoted(command->name), optionNames(*command));
    body += QStringLiteral("        *) reply=() ;;\n        esac ;;\n    value)\n        case \"$2 $3\" in\n");
    for (const auto *command : all) {
        for (const auto &option : command->options) {
            if (option.value)
                body += QStringLiteral("        %1) %2 ;;\n")
                            .arg(quoted(command->name + u' ' + option.name), reply(*option.value));
        }
    }
    body += QStringLiteral("        *) return 1 ;;\n        esac ;;\n    argument)\n        case \"$2 $3\" in\n");
    for (const auto &command : grammar.commands) {
        const auto count = int(command.arguments.size());
        for (int index = 0; index < count; ++index) {
            const bool repeats = command.lastArgumentRepeats && index == count - 1;
            const auto key =
                repeats ? quoted(command.name + u' ') + u'*' : quoted(command.name + u' ' + QString::number(index + 1));
            body += QStringLiteral("        %1) %2 ;;\n").arg(key, reply(command.arguments.at(index)));
        }
    }
    body += QStringLiteral("        *) reply=() ;;\n        esac ;;\n    esac");
    return body;
}
} // namespace

QString BashCompletion::render(const QString &pattern, const CommandGrammar &grammar, const QString &program)
{
    auto function = u'_' + program;
    function.replace(u'-', u'_');
    return QString(pattern)
        .replace(QLatin1String("@GRAMMAR@"), grammarBody(grammar))
        .replace(QLatin1String("@FUNCTION@"), function)
        .replace(QLatin1String("@PROGRAM@"), program);
}
