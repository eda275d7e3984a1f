#include "support/TestEnvironment.h"

#include "store/RecordingLibraryStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>

namespace {
template <typename T>
T next(std::deque<T> &answers, T fallback)
{
    if (answers.empty())
        return fallback;
    T answer = std::move(answers.front());
    answers.pop_front();
    return answer;
}
} // namespace

QCoro::Task<std::optional<QString>> ScriptedDialogs::chooseFolder(QString title, QString)
{
    asked << title;
    co_return next(folderAnswers, std::optional<QString>());
}

QCoro::Task<std::optional<QString>> ScriptedDialogs::askText(QString title, QString, QString)
{
    asked << title;
    co_return next(textAnswers, std::optional<QString>());
}

QCoro::Task<bool> ScriptedDialogs::confirm(QString title, QString, QString)
{
    asked << title;
    co_return next(confirmAnswers, false);
}

bool FolderTrash::moveToTrash(const QString &path, QString *error)
{
    if (failingPaths.contains(path)) {
        if (error)
            *error = QStringLiteral("refused");
        return false;
    }
    if (movesLeft == 0)
        return true; // stopped: nothing moves any more
    if (movesLeft > 0)
        --movesLeft;
    QDir().mkpath(m_folder);
    auto target = m_folder + u'/' + QString::number(trashed.size()) + u'-' + QFileInfo(path).fileName();
    if (!QFile::rename(path, target))
        return false;
    trashed << path;
    return true;
}

TestEnvironment::TestEnvironment()
    : settings(std::make_unique<QSettings>(m_root.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat)),
      trash(m_root.filePath(QStringLiteral("Trash")))
{
    QDir().mkpath(libraryFolder());
}

StoreEnvironment TestEnvironment::storeEnvironment(bool overrideFolder)
{
    StoreEnvironment environment{settings.get(), &clock, &trash, &dialogs, std::nullopt, {}};
    if (overrideFolder)
        environment.folderOverride = libraryFolder();
    return environment;
}

std::unique_ptr<RecordingLibraryStore> startStore(const StoreEnvironment &environment)
{
    auto store = std::make_unique<RecordingLibraryStore>(environment);
    QSignalSpy started(store.get(), &RecordingLibraryStore::recoveryFinished);
    if (!started.wait(20000))
        qFatal("the store did not finish starting");
    return store;
}
