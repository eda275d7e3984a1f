#include "store/RecordingLibraryStore.h"

#include "library/FolderAccess.h"
#include "library/RecordingScanner.h"
#include "platform/BackgroundTask.h"
#include "platform/Clock.h"
#include "platform/Dialogs.h"

#include <QDir>
#include <QPointer>
#include <QSettings>

namespace {
constexpr auto formatKey = "Vespertone.RecordingFormat";
constexpr auto bitRateKey = "Vespertone.AACBitRate";
} // namespace

RecordingLibraryStore::RecordingLibraryStore(StoreEnvironment environment, QObject *parent)
    : QObject(parent), m_env(std::move(environment))
{
    Q_ASSERT(m_env.settings && m_env.clock && m_env.trash && m_env.dialogs);
    m_statusDismissTimer = m_env.clock->createTimer(this);
    connect(m_statusDismissTimer, &Timer::timeout, this, &RecordingLibraryStore::dismissStatusIfUnchanged);

    m_folderURL = m_env.folderOverride ? QDir::cleanPath(QDir(*m_env.folderOverride).absolutePath())
                                       : FolderAccess::resolveSavedFolder(*m_env.settings);
    const auto &settings = *m_env.settings;
    m_recordingFormat = RecordingOutputFormats::fromRawValue(settings.value(QLatin1String(formatKey)).toString())
                            .value_or(RecordingOutputFormat::aacM4A);
    m_aacBitRate = AudioBitRates::fromRawValue(settings.value(QLatin1String(bitRateKey)).toLongLong())
                       .value_or(AudioBitRate::kbps192);

    ensureFolderAndRefresh();
}

RecordingLibraryStore::~RecordingLibraryStore() = default;

void RecordingLibraryStore::setSelectedIDs(const QSet<QString> &ids)
{
    if (ids == m_selectedIDs)
        return;
    m_selectedIDs = ids;
    emit selectedIDsChanged();
}

void RecordingLibraryStore::setStatusMessage(const std::optional<QString> &message)
{
    m_statusMessage = message;
    emit statusMessageChanged();
    scheduleStatusAutoDismiss(message);
}

void RecordingLibraryStore::scheduleStatusAutoDismiss(const std::optional<QString> &message)
{
    m_statusDismissTimer->stop();
    if (!message || message->isEmpty())
        return;
    m_statusDismissTarget = *message;
    m_statusDismissTimer->start(statusDismissDelay, false);
}

void RecordingLibraryStore::dismissStatusIfUnchanged()
{
    if (m_statusMessage == m_statusDismissTarget && !isStatusBusy()) {
        m_statusMessage.reset();
        emit statusMessageChanged();
    }
}

void RecordingLibraryStore::setRecordingFormat(RecordingOutputFormat format)
{
    m_recordingFormat = format;
    m_env.settings->setValue(QLatin1String(formatKey), RecordingOutputFormats::rawValue(format));
    emit recordingFormatChanged();
}

void RecordingLibraryStore::setAacBitRate(AudioBitRate rate)
{
    m_aacBitRate = rate;
    m_env.settings->setValue(QLatin1String(bitRateKey), AudioBitRates::rawValue(rate));
    emit aacBitRateChanged();
}

std::optional<RecordingItem> RecordingLibraryStore::selectedItem() const
{
    if (m_selectedIDs.size() != 1)
        return std::nullopt;
    const auto &id = *m_selectedIDs.begin();
    for (const auto &item : m_recordings) {
        if (item.id() == id)
            return item;
    }
    return std::nullopt;
}

QVector<RecordingItem> RecordingLibraryStore::selectedItems() const
{
    QVector<RecordingItem> items;
    for (const auto &item : m_recordings) {
        if (m_selectedIDs.contains(item.id()))
            items.push_back(item);
    }
    return items;
}

bool RecordingLibraryStore::isStatusBusy() const
{
    using Kind = CaptureState::Kind;
    const auto kind = m_captureState.kind();
    return kind == Kind::recording || kind == Kind::preparing || kind == Kind::finishing || m_isAnalyzing
        || m_isTrimming || m_isImportingURL;
}

QCoro::Task<> RecordingLibraryStore::ensureFolderAndRefresh()
{
    if (!QDir().mkpath(m_folderURL))
        setStatusMessage(QStringLiteral("The folder “%1” couldn’t be created.").arg(QDir(m_folderURL).dirName()));
    co_await refresh();
}

QCoro::Task<> RecordingLibraryStore::refresh(std::optional<QString> url)
{
    QPointer self(this);
    auto items = co_await BackgroundTask::run([folder = m_folderURL] { return RecordingScanner::scan(folder); });
    if (!self)
        co_return;
    m_recordings = std::move(items);
    emit recordingsChanged();

    QSet<QString> selection;
    if (url) {
        selection = {*url};
    } else {
        for (const auto &item : m_recordings) {
            if (m_selectedIDs.contains(item.id()))
                selection.insert(item.id());
        }
        if (selection.isEmpty() && !m_recordings.isEmpty())
            selection = {m_recordings.front().id()};
    }
    setSelectedIDs(selection);
    emit refreshFinished();
}

void RecordingLibraryStore::chooseFolder()
{
    if (auto folder = m_env.dialogs->chooseFolder(QStringLiteral("Choose Save Folder"), m_folderURL))
        setFolder(*folder);
}

void RecordingLibraryStore::setFolder(const QString &folder)
{
    const auto clean = QDir::cleanPath(QDir(folder).absolutePath());
    m_env.settings->setValue(QLatin1String(FolderAccess::pathKey), clean);
    setFolderURL(clean);
    ensureFolderAndRefresh();
}

void RecordingLibraryStore::setFolderURL(const QString &folder)
{
    m_folderURL = folder;
    emit folderURLChanged();
}

QDateTime RecordingLibraryStore::fileCreationDate(const QString &url)
{
    return RecordingScanner::fileCreationDate(url);
}
