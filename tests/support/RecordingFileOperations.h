#pragma once

#include "platform/SystemFileOperations.h"

#include <QStringList>
#include <mutex>

/// File operations that do what the system does and log each step, from any thread; a test can
/// stop them at step N: from it on nothing more reaches the disk, as after a kill or a power cut,
/// while the program goes on as if every step succeeded.
class RecordingFileOperations final : public FileOperations {
public:
    /// Paths in the log are relative to \a root.
    explicit RecordingFileOperations(QString root) : m_root(std::move(root)) {}

    /// The steps so far, such as "syncFile Library/.vespertone/tmp/X.m4a" or
    /// "link Library/.vespertone/tmp/X.m4a -> Library/Take Trim.m4a".
    [[nodiscard]] QStringList log() const;
    /// Steps from the \a step-th (counting from 1) on do nothing and report success.
    void stopAt(int step);
    void clear();

    int syncFile(const QString &path) override;
    int syncFolder(const QString &path) override;
    int link(const QString &from, const QString &to) override;
    int renameNoReplace(const QString &from, const QString &to) override;
    int renameReplacing(const QString &from, const QString &to) override;
    int remove(const QString &path) override;

private:
    /// Logs the step; true when it is to be done.
    bool step(const QString &name, const QString &path, const QString &target);

    SystemFileOperations m_system;
    QString m_root;
    mutable std::mutex m_mutex;
    QStringList m_log;
    int m_stopAt = 0;
};
