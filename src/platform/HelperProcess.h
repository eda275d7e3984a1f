#pragma once

#include <QProcessEnvironment>
#include <QString>
#include <QTemporaryDir>

class QProcess;

/// How a helper program (lame, yt-dlp) is run: in a private folder of its own (mode 0700,
/// never one inside the library, whose files anybody who can write there may plant), and
/// killed when the thread that started it ends.
class HelperProcess {
public:
    /// Makes the private folder, removed again with this object.
    HelperProcess();

    /// Sets \a process to run in the private folder with \a environment and to die with its
    /// caller; throws AppError when no private folder could be made.
    void prepare(QProcess &process, const QProcessEnvironment &environment);
    [[nodiscard]] QString folder() const { return m_folder.path(); }

    /// The program's environment without the variables that add options to lame's command line.
    [[nodiscard]] static QProcessEnvironment encoderEnvironment();

private:
    QTemporaryDir m_folder;
};
