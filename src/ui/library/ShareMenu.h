#pragma once

#include <QMenu>

/// What the Share button offers for one file: copy it as a file, or open it with another application.
class ShareMenu : public QMenu {
    Q_OBJECT
public:
    explicit ShareMenu(QWidget *parent = nullptr);

    /// The file the entries act on.
    void setFile(const QString &path) { m_path = path; }
    /// Puts \a path on the clipboard as a file that file managers paste.
    static void copyFile(const QString &path);

private:
    QString m_path;
};
