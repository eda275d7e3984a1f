#pragma once

#include "platform/Dialogs.h"
#include "platform/Trash.h"
#include "store/StoreEnvironment.h"
#include "support/FakeClock.h"

#include <QSettings>
#include <QStringList>
#include <QTemporaryDir>
#include <deque>
#include <memory>

class RecordingLibraryStore;

/// Dialog answers queued by a test; an unanswered question is declined.
class ScriptedDialogs final : public Dialogs {
public:
    std::deque<std::optional<QString>> folderAnswers;
    std::deque<std::optional<QString>> textAnswers;
    std::deque<bool> confirmAnswers;
    QStringList asked; ///< titles of the questions put, in order

    QCoro::Task<std::optional<QString>> chooseFolder(QString title, QString initialFolder) override;
    QCoro::Task<std::optional<QString>> askText(QString title, QString message, QString initialText) override;
    QCoro::Task<bool> confirm(QString title, QString message, QString confirmButton) override;
};

/// A Trash that moves files into its own folder and can be told to fail.
class FolderTrash final : public Trash {
public:
    explicit FolderTrash(QString folder) : m_folder(std::move(folder)) {}

    bool moveToTrash(const QString &path, QString *error = nullptr) override;

    QStringList trashed;      ///< original paths, in order
    QStringList failingPaths; ///< paths whose move fails
    int movesLeft = -1;       ///< moves done before the rest only report success (-1: all)
    [[nodiscard]] const QString &folder() const { return m_folder; }

private:
    QString m_folder;
};

/// Everything a store under test needs: a temporary library folder, settings file, fake
/// clock, scripted dialogs and a folder Trash.
class TestEnvironment {
public:
    TestEnvironment();

    [[nodiscard]] QString libraryFolder() const { return m_root.filePath(QStringLiteral("Library")); }
    [[nodiscard]] QString path(const QString &name) const { return libraryFolder() + u'/' + name; }
    /// An environment that uses libraryFolder() for the session.
    [[nodiscard]] StoreEnvironment storeEnvironment(bool overrideFolder = true);

    QTemporaryDir m_root;
    std::unique_ptr<QSettings> settings;
    FakeClock clock;
    ScriptedDialogs dialogs;
    FolderTrash trash;
};

/// A store over \a environment once its start-up recovery has finished; aborts the suite when it
/// does not finish within 20 seconds.
[[nodiscard]] std::unique_ptr<RecordingLibraryStore> startStore(const StoreEnvironment &environment);
