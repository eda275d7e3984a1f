// vespertone-tool: the library's operations from a terminal.

#include "ToolCommand.h"

#include "media/FFmpegLogging.h"

#include <QCoreApplication>
#include <QTimer>

namespace {

std::vector<ToolCommand> allCommands()
{
    std::vector<ToolCommand> commands;
    for (auto group : {libraryCommands, analysisCommands, editingCommands, captureCommands}) {
        for (auto &command : group())
            commands.push_back(std::move(command));
    }
    return commands;
}

QString usage(const std::vector<ToolCommand> &commands)
{
    QString text = QStringLiteral("Usage: vespertone-tool COMMAND [ARGUMENTS] [--folder DIR]\n\n"
                                  "--folder DIR uses DIR as the save folder for this run without storing it.\n\n"
                                  "Commands:\n");
    for (const auto &command : commands)
        text += QStringLiteral("  %1\n      %2\n").arg(command.synopsis, command.description);
    return text;
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
    QCoreApplication app(argc, argv);
    configureFFmpegLogging();
    QCoreApplication::setOrganizationName(QStringLiteral("Vespertone"));
    QCoreApplication::setApplicationName(QStringLiteral("Vespertone"));

    auto arguments = QCoreApplication::arguments().mid(1);
    const auto commands = allCommands();
    QTextStream out(stdout), err(stderr);
    if (arguments.isEmpty() || arguments.contains(QStringLiteral("--help"))
        || arguments.contains(QStringLiteral("-h"))) {
        (arguments.isEmpty() ? err : out) << usage(commands);
        return arguments.isEmpty() ? 2 : 0;
    }

    std::optional<QString> folder;
    if (const auto index = arguments.indexOf(QStringLiteral("--folder")); index >= 0) {
        if (index + 1 >= arguments.size()) {
            err << "--folder needs a folder." << Qt::endl;
            return 2;
        }
        folder = arguments.at(index + 1);
        arguments.remove(index, 2);
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
