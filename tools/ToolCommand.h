#pragma once

#include <QStringList>
#include <QTextStream>
#include <functional>
#include <memory>
#include <optional>
#include <qcoro/qcorotask.h>
#include <vector>

class RecordingLibraryStore;
class StopSignals;
struct RecordingSourceContext;

/// What a subcommand runs with: its arguments, the output streams and the library store.
class ToolContext {
public:
    explicit ToolContext(QStringList arguments, std::optional<QString> folder);
    ~ToolContext();

    /// The subcommand's arguments, without the subcommand and without --folder DIR.
    [[nodiscard]] const QStringList &arguments() const { return m_arguments; }
    QTextStream &out() { return m_out; }
    QTextStream &err() { return m_err; }

    /// The store on the --folder, stored or default folder, after its first scan.
    QCoro::Task<RecordingLibraryStore *> store();
    /// The store when its folder is a folder; none (after reporting why) otherwise.
    QCoro::Task<RecordingLibraryStore *> library();
    /// The folder the store would use (--folder DIR, else the stored one, else the default),
    /// without scanning or creating it.
    [[nodiscard]] QString folderPath() const;

    /// From now on SIGINT and SIGTERM stop the store's running work (an import, trim, analysis
    /// or encoding) and call \a stop, so the work ends with its cancelled status and leaves
    /// nothing behind.
    void stopWorkOnSignals(std::function<void()> stop = {});
    /// 128 plus the number of the signal that stopped the work; none before one arrived.
    [[nodiscard]] std::optional<int> stopStatus() const;

    /// What a system-audio take started now would record as its source.
    [[nodiscard]] std::optional<RecordingSourceContext> currentSource();

    /// The value following \a option in the arguments, removing both; none when absent.
    std::optional<QString> takeOption(const QString &option);
    /// True when \a option is among the arguments, removing it.
    bool takeFlag(const QString &option);
    /// Prints \a message as the failure and returns the exit status 1.
    int fail(const QString &message);
    /// Prints \a message about a wrong command line and returns the exit status 2.
    int usage(const QString &message);

private:
    class Platform;
    QStringList m_arguments;
    std::optional<QString> m_folder;
    QTextStream m_out;
    QTextStream m_err;
    std::unique_ptr<Platform> m_platform;
    std::unique_ptr<RecordingLibraryStore> m_store;
    std::unique_ptr<StopSignals> m_stopSignals;
};

/// One subcommand of vespertone-tool.
struct ToolCommand {
    QString name;
    QString synopsis;    ///< e.g. "scan [--folder DIR]"
    QString description; ///< one line for --help
    std::function<QCoro::Task<int>(ToolContext &)> run;
};

/// The subcommands, grouped by the file that implements them.
std::vector<ToolCommand> libraryCommands();
std::vector<ToolCommand> analysisCommands();
std::vector<ToolCommand> editingCommands();
std::vector<ToolCommand> captureCommands();
std::vector<ToolCommand> importCommands();
