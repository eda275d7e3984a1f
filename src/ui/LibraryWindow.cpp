#include "ui/LibraryWindow.h"

#include "library/Formatters.h"
#include "store/RecordingLibraryStore.h"

#include <QFileInfo>
#include <QLabel>
#include <QListWidget>
#include <QStatusBar>
#include <QToolBar>

LibraryWindow::LibraryWindow(RecordingLibraryStore &store, QWidget *parent)
    : QMainWindow(parent), m_store(store), m_list(new QListWidget(this)), m_status(new QLabel(this)),
      m_elapsed(new QLabel(this))
{
    setWindowTitle(QStringLiteral("Vespertone"));
    setMinimumSize(1120, 640);
    resize(1320, 760);
    m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    setCentralWidget(m_list);
    statusBar()->addWidget(m_status, 1);
    statusBar()->addPermanentWidget(m_elapsed);
    auto *toolbar = addToolBar(QStringLiteral("Library"));
    m_recordMac = toolbar->addAction(QStringLiteral("Record Mac Audio"), &m_store,
                                     [this] { m_store.toggleRecording(RecordingInputSource::macAudio); });
    m_recordMic = toolbar->addAction(QStringLiteral("Record Microphone"), &m_store,
                                     [this] { m_store.toggleRecording(RecordingInputSource::microphone); });
    toolbar->addSeparator();
    toolbar->addAction(QStringLiteral("Choose Save Folder…"), &m_store, [this] { m_store.chooseFolder(); });

    connect(&m_store, &RecordingLibraryStore::recordingsChanged, this, &LibraryWindow::showRecordings);
    connect(&m_store, &RecordingLibraryStore::selectedIDsChanged, this, &LibraryWindow::showSelection);
    connect(&m_store, &RecordingLibraryStore::statusMessageChanged, this, &LibraryWindow::showStatus);
    connect(&m_store, &RecordingLibraryStore::captureStateChanged, this, &LibraryWindow::showRecordingState);
    connect(&m_store, &RecordingLibraryStore::activeRecordingInputSourceChanged, this,
            &LibraryWindow::showRecordingState);
    connect(&m_store, &RecordingLibraryStore::elapsedTextChanged, this, &LibraryWindow::showRecordingState);
    connect(m_list, &QListWidget::itemSelectionChanged, this, [this] {
        QSet<QString> ids;
        for (auto *item : m_list->selectedItems())
            ids.insert(item->data(Qt::UserRole).toString());
        m_store.setSelectedIDs(ids);
    });
    showRecordings();
    showRecordingState();
}

void LibraryWindow::showRecordings()
{
    const QSignalBlocker blocker(m_list);
    m_list->clear();
    for (const auto &recording : m_store.recordings()) {
        auto text = QStringLiteral("%1    %2    %3")
                        .arg(QFileInfo(recording.url).fileName(), AppDateFormatters::sidebarDate(recording.createdAt),
                             TimeText::clock(recording.duration));
        if (recording.metadata.bpm)
            text += QStringLiteral("    ") + roundedBPMText(*recording.metadata.bpm);
        if (recording.metadata.musicalKey)
            text += QStringLiteral("    ") + *recording.metadata.musicalKey;
        auto *item = new QListWidgetItem(text, m_list);
        item->setData(Qt::UserRole, recording.id());
    }
    showSelection();
}

void LibraryWindow::showSelection()
{
    const QSignalBlocker blocker(m_list);
    for (int row = 0; row < m_list->count(); ++row) {
        auto *item = m_list->item(row);
        item->setSelected(m_store.selectedIDs().contains(item->data(Qt::UserRole).toString()));
    }
}

void LibraryWindow::showStatus()
{
    m_status->setText(m_store.statusMessage().value_or(QString()));
}

void LibraryWindow::showRecordingState()
{
    const auto show = [this](QAction *action, RecordingInputSource source, const QString &idle) {
        action->setEnabled(m_store.canToggleRecording(source));
        action->setText(m_store.isRecording(source) ? QStringLiteral("Stop Recording") : idle);
    };
    show(m_recordMac, RecordingInputSource::macAudio, QStringLiteral("Record Mac Audio"));
    show(m_recordMic, RecordingInputSource::microphone, QStringLiteral("Record Microphone"));
    const bool recording = m_store.captureState().is(CaptureState::Kind::recording);
    m_elapsed->setText(recording ? m_store.elapsedText() : QString());
}
