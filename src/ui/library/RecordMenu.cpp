#include "ui/library/RecordMenu.h"

#include "store/RecordingLibraryStore.h"
#include "ui/common/ApplicationActions.h"

RecordMenu::RecordMenu(RecordingLibraryStore &store, QWidget *parent) : QMenu(parent), m_store(store)
{
    setAccessibleName(QStringLiteral("Record"));
    m_store.watchPlayingApplications();
    connect(this, &QMenu::aboutToShow, this, &RecordMenu::rebuild);
    for (auto signal : {&RecordingLibraryStore::playingApplicationsChanged, &RecordingLibraryStore::captureStateChanged,
                        &RecordingLibraryStore::activeRecordingInputSourceChanged})
        connect(&m_store, signal, this, [this] {
            if (isVisible())
                rebuild();
        });
}

void RecordMenu::rebuild()
{
    clear();
    const auto input = [this](RecordingInputSource source, const QString &name) {
        const bool recording = m_store.isRecording(source);
        auto *item = addAction(recording ? QStringLiteral("Stop ") + name + QStringLiteral(" Recording")
                                         : QStringLiteral("Record ") + name);
        item->setEnabled(m_store.canToggleRecording(source));
        connect(item, &QAction::triggered, this, [this, source] { m_store.toggleRecording(source); });
    };
    input(RecordingInputSource::macAudio, QStringLiteral("System Audio"));
    input(RecordingInputSource::microphone, QStringLiteral("Microphone"));
    addSeparator();
    addAction(QStringLiteral("Playing Now"))->setEnabled(false);
    ApplicationActions::add(*this, m_store, [this](const CaptureTarget &target) { m_store.toggleRecording(target); });
}
