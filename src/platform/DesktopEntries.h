#pragma once

#include <QHash>
#include <QString>
#include <QStringList>
#include <optional>

/// The installed applications' desktop entries (the XDG applications folders), read once: what
/// an application is called on this desktop and which icon it shows.
class DesktopEntries {
public:
    struct Entry {
        QString name;     ///< Name=
        QString iconName; ///< Icon=, a theme name or a path; may be empty
    };

    /// Reads every entry of \a folders (none: the XDG applications folders, nearest first).
    /// Reads files: not on the GUI thread.
    explicit DesktopEntries(std::optional<QStringList> folders = std::nullopt);

    /// The entry of the first of \a identifiers (desktop-file names, executables, window
    /// classes or names, without regard to case) that one names.
    [[nodiscard]] std::optional<Entry> find(const QStringList &identifiers) const;

private:
    void read(const QString &path);

    /// By lower-case file name, executable, window class and name; none for a deleted entry.
    QHash<QString, std::optional<Entry>> m_byKey;
};
