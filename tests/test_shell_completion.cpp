// The bash completion the build makes from --help, exercised in a real bash: each row types a
// command line and checks what completing its last word offers.

#include "support/TestFiles.h"

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

namespace {
QString program(const QString &name)
{
    return name == QLatin1String("vespertone") ? qEnvironmentVariable("VESPERTONE_APP")
                                               : qEnvironmentVariable("VESPERTONE_TOOL");
}

QByteArray helpOf(const QString &name)
{
    QProcess process;
    process.start(program(name), {QStringLiteral("--help")});
    process.waitForFinished();
    return process.readAllStandardOutput();
}

/// The entries of the help's "Commands:" section: name and synopsis.
QList<QPair<QString, QString>> commandsOf(const QByteArray &help)
{
    QList<QPair<QString, QString>> commands;
    const auto section = QString::fromUtf8(help).section(QStringLiteral("\nCommands:\n"), 1);
    static const QRegularExpression entry(QStringLiteral(R"(^  (\S+)(.*)$)"), QRegularExpression::MultilineOption);
    for (auto it = entry.globalMatch(section); it.hasNext();) {
        const auto match = it.next();
        commands.append({match.captured(1), match.captured(0)});
    }
    return commands;
}

QStringList sorted(QStringList list)
{
    list.sort();
    list.removeDuplicates();
    return list;
}
} // namespace

class ShellCompletionTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_root; ///< home/ with its stored Library/, Other/ and a work/ folder
    QString m_library, m_other, m_work;

    /// What bash offers for the last of \a words, run from the work folder.
    QStringList complete(const QString &name, QStringList words)
    {
        const auto script = QStringLiteral(R"(
            source "$1" || exit 3
            shift
            function=$(complete -p "${1##*/}" | sed -n 's/.*-F \([^ ]*\) .*/\1/p')
            [ -n "$function" ] || exit 4
            COMP_WORDS=("$@")
            COMP_CWORD=$(($# - 1))
            "$function" "$1" "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
            printf '%s\n' "${COMPREPLY[@]}"
        )");
        const auto completion =
            qEnvironmentVariable("VESPERTONE_BUILD_DIR") + "/share/bash-completion/completions/" + name;
        words.prepend(program(name));
        QProcess bash;
        auto environment = QProcessEnvironment::systemEnvironment();
        environment.insert("HOME", m_root.filePath("home"));
        environment.insert("XDG_CONFIG_HOME", m_root.filePath("home/.config"));
        bash.setProcessEnvironment(environment);
        bash.setWorkingDirectory(m_work);
        bash.start("bash", QStringList{"--norc", "--noprofile", "-c", script, "bash", completion} + words);
        if (!bash.waitForFinished(30000) || bash.exitCode() != 0)
            return {QStringLiteral("bash failed: ") + QString::fromUtf8(bash.readAllStandardError())};
        return sorted(QString::fromUtf8(bash.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts));
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(!qEnvironmentVariableIsEmpty("VESPERTONE_BUILD_DIR"), "run through ctest");
        m_library = m_root.filePath("home/Library");
        m_other = m_root.filePath("home/Other");
        m_work = m_root.filePath("work");
        for (const auto *file : {"Take One.wav", "Take Two.M4A", "Tune.aiff", ".Hidden.wav", "Notes.txt"})
            writeFile(m_library + u'/' + QLatin1String(file), "x");
        QDir().mkpath(m_library + "/Takes.wav");
        writeFile(m_other + "/Elsewhere.mp3", "x");
        writeFile(m_work + "/input.wav", "x");
        QDir().mkpath(m_work + "/folder");
        QSettings(m_root.filePath("home/.config/Vespertone/Vespertone.conf"), QSettings::NativeFormat)
            .setValue("Vespertone.SaveFolderPath", m_library);
    }

    /// Every command of the help, and each one's options, complete.
    void offersWhatTheHelpLists()
    {
        const auto commands = commandsOf(helpOf("vespertone-tool"));
        QVERIFY(commands.size() > 5);
        QStringList names;
        for (const auto &[name, synopsis] : commands) {
            names.append(name);
            QStringList options;
            static const QRegularExpression option(QStringLiteral(R"((?<![\w-])--[a-z][a-z-]*)"));
            for (auto it = option.globalMatch(synopsis); it.hasNext();)
                options.append(it.next().captured());
            QCOMPARE(complete("vespertone-tool", {name, "--"}), sorted(options));
        }
        QCOMPARE(complete("vespertone-tool", {""}), sorted(names));
    }

    void completesWords_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QStringList>("words");
        QTest::addColumn<QStringList>("offered");
        const QStringList takes{"Take One.wav", "Take Two.M4A", "Tune.aiff"};
        const auto row = [](const char *title, const QString &name, const QStringList &words,
                            const QStringList &offered) { QTest::newRow(title) << name << words << sorted(offered); };
        row("program options", "vespertone-tool", {"--"}, {"--folder", "--help", "--version"});
        row("command prefix", "vespertone-tool", {"re"}, {"record", "rename"});
        row("option values", "vespertone-tool", {"record", "--input", ""}, {"mac", "mic", "app"});
        row("option value prefix", "vespertone-tool", {"record", "--format", "w"}, {"wavPCM"});
        row("free value", "vespertone-tool", {"record", "--seconds", ""}, {});
        row("after a value, options", "vespertone-tool", {"record", "--bitrate", "128", "--se"}, {"--seconds"});
        row("takes of the stored library", "vespertone-tool", {"trim", ""}, takes);
        row("take prefix", "vespertone-tool", {"rename", "Take"}, {"Take One.wav", "Take Two.M4A"});
        row("quoted take prefix", "vespertone-tool", {"analyze", "\"Take O"}, {"Take One.wav"});
        row("no take after the take", "vespertone-tool", {"trim", "Tune.aiff", ""}, {});
        row("every word a take", "vespertone-tool", {"delete", "Tune.aiff", "Take One.wav", "Tu"}, {"Tune.aiff"});
        row("takes of --folder", "vespertone-tool", {"--folder", "~/Other", "delete", ""}, {"Elsewhere.mp3"});
        row("takes of a later --folder", "vespertone-tool", {"source", "--folder", "../home/Other", ""},
            {"Elsewhere.mp3"});
        row("folders", "vespertone-tool", {"scan", "--folder", ""}, {"folder"});
        row("files", "vespertone-tool", {"probe", ""}, {"folder", "input.wav"});
        row("desktop options", "vespertone", {""},
            {"--toggle-recording", "--show-library", "--help", "-h", "--version"});
        row("desktop option prefix", "vespertone", {"--s"}, {"--show-library"});
    }

    void completesWords()
    {
        QFETCH(QString, name);
        QFETCH(QStringList, words);
        QFETCH(QStringList, offered);
        QCOMPARE(complete(name, words), offered);
    }
};

QTEST_GUILESS_MAIN(ShellCompletionTest)
#include "test_shell_completion.moc"
