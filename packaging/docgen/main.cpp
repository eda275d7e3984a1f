// vespertone-docgen: makes a program's manual page or bash completion from its own --help, so
// the two never say other than the program.
//
//     vespertone-docgen man|bash PROGRAM TEMPLATE OUTPUT [KEY=VALUE...]

#include "BashCompletion.h"
#include "CommandGrammar.h"
#include "HelpText.h"
#include "ManPage.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSaveFile>
#include <QTextStream>

#include <stdexcept>

namespace {
QString output(const QString &program, const QString &argument)
{
    QProcess process;
    process.start(program, {argument});
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        throw std::runtime_error(("“" + program + " " + argument + "” failed").toStdString());
    return QString::fromUtf8(process.readAllStandardOutput());
}

QString readText(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw std::runtime_error(("cannot read " + path).toStdString());
    return QString::fromUtf8(file.readAll());
}

void writeText(const QString &path, const QString &text)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text.toUtf8()) < 0 || !file.commit())
        throw std::runtime_error(("cannot write " + path).toStdString());
}
} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const auto arguments = QCoreApplication::arguments().mid(1);
    QTextStream err(stderr);
    const auto kind = arguments.value(0);
    if (arguments.size() < 4 || (kind != QLatin1String("man") && kind != QLatin1String("bash"))) {
        err << "Usage: vespertone-docgen man|bash PROGRAM TEMPLATE OUTPUT [KEY=VALUE...]" << Qt::endl;
        return 2;
    }
    const auto &program = arguments.at(1);
    try {
        const auto help = HelpText::parse(output(program, QStringLiteral("--help")));
        const auto pattern = readText(arguments.at(2));
        const auto name = QFileInfo(program).fileName();
        if (kind == QLatin1String("bash")) {
            writeText(arguments.at(3), BashCompletion::render(pattern, CommandGrammar::fromHelp(help), name));
            return 0;
        }
        QMap<QString, QString> fields{
            {QStringLiteral("VERSION"), output(program, QStringLiteral("--version")).section(u' ', -1).trimmed()}};
        for (const auto &field : arguments.mid(4))
            fields.insert(field.section(u'=', 0, 0), field.section(u'=', 1));
        writeText(arguments.at(3), ManPage::render(pattern, help, fields));
    } catch (const std::exception &error) {
        err << "vespertone-docgen: " << program << ": " << error.what() << Qt::endl;
        return 1;
    }
    return 0;
}
