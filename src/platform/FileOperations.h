#pragma once

#include <QString>

/// The file-system steps that make written files durable and give them their names in the
/// library. Every such step goes through this interface, so a test can record their order or
/// make one of them fail or stop.
class FileOperations {
public:
    virtual ~FileOperations() = default;

    // Each step returns 0, or the errno of its failure.

    /// Writes the file's data and size to the disk.
    virtual int syncFile(const QString &path) = 0;
    /// Writes the folder's entries (names made, moved or removed) to the disk.
    virtual int syncFolder(const QString &path) = 0;
    /// Makes \a to a second name of \a from; EEXIST when \a to exists.
    virtual int link(const QString &from, const QString &to) = 0;
    /// Renames \a from to \a to; EEXIST when \a to exists, which is never replaced.
    virtual int renameNoReplace(const QString &from, const QString &to) = 0;
    /// Renames \a from to \a to, replacing \a to in one step.
    virtual int renameReplacing(const QString &from, const QString &to) = 0;
    /// Removes the name \a path; ENOENT when there is none.
    virtual int remove(const QString &path) = 0;

    /// Gives the complete work file \a file the name \a target without replacing anything:
    /// syncs it, links it (or, where links are unsupported, renames it) to \a target, syncs
    /// \a target's folder, then drops the work name unless \a keepSource (a second name where
    /// links exist). EEXIST when \a target is taken; on any failure \a target does not exist.
    int publish(const QString &file, const QString &target, bool keepSource = false);
    /// Syncs \a file and renames it over \a target, then syncs \a target's folder.
    int replace(const QString &file, const QString &target);

    /// The operating system's.
    [[nodiscard]] static FileOperations &system();
};
