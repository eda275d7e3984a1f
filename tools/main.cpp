// vespertone-tool: the library's operations from a terminal.

#include "ToolCommand.h"

#include "base/ProgramVersion.h"
#include "media/FFmpegLogging.h"

#include <QCoreApplication>
#include <QLoggingCategory>
#include <QTimer>

namespace {

std::vector<ToolCommand> allCommands()
{
    std::vector<ToolCommand> commands;
    for (auto group : {libraryCommands, analysisCommands, editingCommands, captureCommands, importCommands}) {
        for (auto &command : group())
            commands.push_back(std::move(command));
    }
    return commands;
}

QString usage(const std::vector<ToolCommand> &commands)
{
    QString text = QStringLiteral("Usage: vespertone-tool COMMAND [ARGUMENTS] [--folder DIR]\n"
                                  "       vespertone-tool --help | --version\n\n"
                                  "A TAKE is a recording in the library folder, named by its file name or a path to "
                                  "it.\n\nOptions:\n");
    // Each entry: what to type, then on its own line what it does.
    const auto add = [&text](const QString &synopsis, const QString &description) {
        text += QStringLiteral("  %1\n      %2\n").arg(synopsis, description);
    };
    add(QStringLiteral("--folder DIR"),
        QStringLiteral("Uses DIR as the library folder for this run without storing it."));
    add(QStringLiteral("--help, -h"), QStringLiteral("Prints this help and exits."));
    add(QStringLiteral("--version"), QStringLiteral("Prints the version and exits."));
    text += QStringLiteral("\nCommands:\n");
    for (const auto &command : commands)
        add(command.synopsis, command.description);
    return text;
}

QtMessageHandler qtMessageHandler = nullptr;

/// Qt's own debug, info and warning messages (a failed stat(), a Trash it cannot set up) speak to
/// developers, not to the tool's users, who get the command's own report; critical and fatal ones
/// still show. The tool itself writes to its streams, never through Qt's logging.
void dropQtNotices(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    const QLatin1String category(context.category ? context.category : "default");
    const bool fromQt = category == QLatin1String("default") || category.startsWith(QLatin1String("qt."));
    if (!fromQt || type == QtCriticalMsg || type == QtFatalMsg)
        qtMessageHandler(type, context, message);
}

QCoro::Task<> runCommand(const ToolCommand &command, ToolContext &context)
{
    int status = 1;
    try {
        status = co_await command.run(context);
    } catch (const std::exception &error) {
        status = context.fail(QString::fromUtf8(error.what()));
    }
    context.out().flush();
    context.err().flush();
    QCoreApplication::exit(status);
}

} // namespace

int main(int argc, char *argv[])
{
    qtMessageHandler = qInstallMessageHandler(dropQtNotices);
    // The command reports its own failure; the program's warnings only when asked for through
    // QT_LOGGING_RULES (for example "vespertone.*=true"), which overrides this rule.
    QLoggingCategory::setFilterRules(QStringLiteral("vespertone.*.warning=false"));
    QCoreApplication app(argc, argv);
    configureFFmpegLogging();
    QCoreApplication::setOrganizationName(QStringLiteral("Vespertone"));
    QCoreApplication::setApplicationName(QStringLiteral("Vespertone"));

    auto arguments = QCoreApplication::arguments().mid(1);
    const auto commands = allCommands();
    QTextStream out(stdout), err(stderr);
    if (arguments.contains(QStringLiteral("--help")) || arguments.contains(QStringLiteral("-h"))) {
        out << usage(commands);
        return 0;
    }
    if (arguments.contains(QStringLiteral("--version"))) {
        out << "vespertone-tool " << ProgramVersion::number() << Qt::endl;
        return 0;
    }

    std::optional<QString> folder;
    if (const auto index = arguments.indexOf(QStringLiteral("--folder")); index >= 0) {
        if (index + 1 >= arguments.size() || arguments.at(index + 1).isEmpty()) {
            err << "--folder needs a folder." << Qt::endl;
            return 2;
        }
        folder = arguments.at(index + 1);
        arguments.remove(index, 2);
    }
    if (arguments.isEmpty()) {
        err << usage(commands);
        return 2;
    }

    const auto name = arguments.takeFirst();
    const auto command = std::find_if(commands.begin(), commands.end(), [&](const auto &c) { return c.name == name; });
    if (command == commands.end()) {
        err << "Unknown command “" << name << "”.\n\n" << usage(commands);
        return 2;
    }

    ToolContext context(arguments, folder);
    QTimer::singleShot(0, [&] { runCommand(*command, context); });
    return app.exec();
}
