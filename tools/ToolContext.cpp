#include "ToolCommand.h"

#include "StopSignals.h"

#include "import/SourceContextService.h"
#include "platform/BrowserSessionFiles.h"
#include "platform/Dialogs.h"
#include "platform/FreedesktopTrash.h"
#include "platform/MprisMediaPlayers.h"
#include "platform/PulseSoundServer.h"
#include "platform/SystemClock.h"
#include "platform/XcbDesktopWindows.h"
#include "store/RecordingLibraryStore.h"
#include "store/RecordingWorkflow.h"
#include "store/StoreSettings.h"

#include <QFileInfo>
#include <QSettings>
#include <QThreadPool>
#include <qcoro/qcorosignal.h>

#include <cstdio>

namespace {
/// A terminal has nobody to answer a dialog: every question is declined.
class DecliningDialogs final : public Dialogs {
public:
    QCoro::Task<std::optional<QString>> chooseFolder(QString, QString) override { co_return std::nullopt; }
    QCoro::Task<std::optional<QString>> askText(QString, QString, QString) override { co_return std::nullopt; }
};
} // namespace

class ToolContext::Platform {
public:
    QSettings settings;
    SystemClock clock;
    FreedesktopTrash trash;
    DecliningDialogs dialogs;
    PulseSoundServer soundServer;
    XcbDesktopWindows windows;
    MprisMediaPlayers mediaPlayers;
    BrowserSessionFiles browserSessions;
};

ToolContext::ToolContext(QStringList arguments, std::optional<QString> folder)
    : m_arguments(std::move(arguments)), m_folder(std::move(folder)), m_out(stdout), m_err(stderr),
      m_platform(std::make_unique<Platform>())
{}

ToolContext::~ToolContext()
{
    // Jobs on the thread pool may hold the platform's objects: they end before those go.
    QThreadPool::globalInstance()->waitForDone();
}

QCoro::Task<RecordingLibraryStore *> ToolContext::store()
{
    if (!m_store) {
        StoreEnvironment environment{&m_platform->settings,   &m_platform->clock, &m_platform->trash,
                                     &m_platform->dialogs,    m_folder,           {},
                                     &m_platform->soundServer};
        environment.windows = &m_platform->windows;
        environment.mediaPlayers = &m_platform->mediaPlayers;
        environment.browserSessions = &m_platform->browserSessions;
        m_store = std::make_unique<RecordingLibraryStore>(environment);
        // Commands run after the start-up scan and the recovery of left-over takes it starts.
        co_await qCoro(m_store.get(), &RecordingLibraryStore::recoveryFinished);
    }
    co_return m_store.get();
}

QCoro::Task<RecordingLibraryStore *> ToolContext::library()
{
    auto *store = co_await this->store();
    if (QFileInfo(store->folderURL()).isDir())
        co_return store;
    const auto &status = store->statusMessage();
    fail(status && !status->isEmpty() ? *status : QStringLiteral("“%1” is not a folder.").arg(store->folderURL()));
    co_return nullptr;
}

QString ToolContext::folderPath() const
{
    return StoreSettings(m_platform->settings).saveFolder(m_folder);
}

void ToolContext::stopWorkOnSignals(std::function<void()> stop)
{
    m_stopSignals = std::make_unique<StopSignals>();
    m_stopSignals->onSignal([this, stop = std::move(stop)] {
        if (m_store)
            m_store->cancelWork();
        if (stop)
            stop();
    });
}

std::optional<int> ToolContext::stopStatus() const
{
    if (!m_stopSignals || !m_stopSignals->received())
        return std::nullopt;
    return m_stopSignals->exitStatus();
}

std::optional<RecordingSourceContext> ToolContext::currentSource()
{
    const SourceContextService service(m_platform->soundServer, m_platform->clock,
                                       {&m_platform->windows, &m_platform->mediaPlayers, &m_platform->browserSessions});
    return service.bestCandidate(std::nullopt, QString::fromLatin1(RecordingWorkflow::ownBundleIdentifier));
}

std::optional<QString> ToolContext::takeOption(const QString &option)
{
    const auto index = m_arguments.indexOf(option);
    if (index < 0 || index + 1 >= m_arguments.size())
        return std::nullopt;
    auto value = m_arguments.at(index + 1);
    m_arguments.remove(index, 2);
    return value;
}

bool ToolContext::takeFlag(const QString &option)
{
    return m_arguments.removeAll(option) > 0;
}

int ToolContext::fail(const QString &message)
{
    m_err << message << Qt::endl;
    return 1;
}

int ToolContext::usage(const QString &message)
{
    m_err << message << Qt::endl;
    return 2;
}
