#include "library/UniqueFileNamer.h"

#include "library/Formatters.h"

#include "base/AppError.h"
#include "base/SystemErrorText.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace UniqueFileNamer {
namespace {
QString join(const QString &folder, const QString &name, const QString &extension)
{
    return folder + u'/' + name + (extension.isEmpty() ? QString() : u'.' + extension);
}

bool isCut(QChar c)
{
    return c == u'/' || c == u':' || c == u'\n' || c == u'\r' || c == QChar(0x0B) || c == QChar(0x0C)
        || c == QChar(0x85) || c == QChar(0x2028) || c == QChar(0x2029) || c.category() == QChar::Other_Control;
}
} // namespace

QString uniqueURL(const QString &folder, const QString &base, const QString &ext)
{
    auto candidate = join(folder, base, ext);
    for (int counter = 2; QFileInfo::exists(candidate) || QFileInfo(candidate).isSymLink(); ++counter)
        candidate = join(folder, base + u' ' + QString::number(counter), ext);
    return candidate;
}

QString reserveUniqueURL(const QString &folder, const QString &base, const QString &ext)
{
    auto candidate = join(folder, base, ext);
    for (int counter = 2;; ++counter) {
        if (!fitsNameLimit(candidate))
            throw AppError(nameTooLongMessage(QFileInfo(candidate).fileName()));
        // O_EXCL refuses every existing name, dangling links included.
        const int fd = ::open(QFile::encodeName(candidate).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            ::close(fd);
            return candidate;
        }
        const int error = errno;
        if (error != EEXIST)
            throw AppError(QStringLiteral("“%1” couldn’t be created: %2")
                               .arg(QFileInfo(candidate).fileName(), systemErrorText(error)));
        candidate = join(folder, base + u' ' + QString::number(counter), ext);
    }
}

bool fitsNameLimit(const QString &audioURL)
{
    const QFileInfo info(audioURL);
    long limit = ::pathconf(QFile::encodeName(info.absolutePath()).constData(), _PC_NAME_MAX);
    if (limit <= 0)
        limit = 255;
    // The sidecar's name is the audio file's name plus ".vtmeta.json".
    const auto sidecar = QFile::encodeName(info.fileName() + QStringLiteral(".vtmeta.json"));
    return sidecar.size() <= limit;
}

QString nameTooLongMessage(const QString &name)
{
    return QStringLiteral("The name “%1” is too long for this folder.").arg(name);
}

QString temporaryImportURL(const QString &folder, const QDateTime &date, const QString &pathExtension)
{
    return uniqueURL(workFolder(folder), QStringLiteral("Import ") + AppDateFormatters::fileStamp(date), pathExtension);
}

QString sanitizedBaseName(const QString &text)
{
    QString out = text;
    for (auto &c : out) {
        if (isCut(c))
            c = u' ';
    }
    return out.trimmed();
}

QString workFolder(const QString &folder)
{
    return folder + QStringLiteral("/.vespertone/tmp");
}

QString libraryFolderOf(const QString &url)
{
    const auto folder = QFileInfo(url).absolutePath();
    const auto suffix = workFolder(QString());
    return folder.endsWith(suffix) ? folder.chopped(suffix.size()) : folder;
}

QString withoutTempoSuffix(const QString &base)
{
    static const QRegularExpression pattern(QStringLiteral("_bpm_[0-9]+(?:[._ -][0-9]+)?$"),
                                            QRegularExpression::CaseInsensitiveOption);
    auto stripped = base;
    return stripped.remove(pattern);
}

QString baseName(const QString &url)
{
    auto name = QFileInfo(url).fileName();
    const auto dot = name.lastIndexOf(u'.');
    return dot > 0 ? name.left(dot) : name;
}

QString extension(const QString &url)
{
    const auto name = QFileInfo(url).fileName();
    const auto dot = name.lastIndexOf(u'.');
    return dot > 0 ? name.mid(dot + 1) : QString();
}

} // namespace UniqueFileNamer
