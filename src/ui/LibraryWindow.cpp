#include "ui/LibraryWindow.h"

#include "store/RecordingLibraryStore.h"
#include "ui/SidebarView.h"
#include "ui/ThemeController.h"
#include "ui/VespertoneTheme.h"

#include <QLabel>
#include <QSplitter>
#include <QStatusBar>
#include <QToolBar>

LibraryWindow::LibraryWindow(RecordingLibraryStore &store, ThemeController &theme, QWidget *parent)
    : QMainWindow(parent), m_store(store), m_theme(theme), m_sidebar(new SidebarView(store, this)),
      m_status(new QLabel(this)), m_elapsed(new QLabel(this))
{
    setWindowTitle(QStringLiteral("Vespertone"));
    setMinimumSize(1120, 640);
    resize(1320, 760);
    // The sidebar column is at least 420 wide and starts at 470; the detail pane takes the rest.
    auto *split = new QSplitter(this);
    split->setChildrenCollapsible(false);
    m_sidebar->setMinimumWidth(420);
    split->addWidget(m_sidebar);
    split->addWidget(new QWidget(split));
    split->setStretchFactor(1, 1);
    split->setSizes({470, width() - 470});
    setCentralWidget(split);
    statusBar()->addWidget(m_status, 1);
    statusBar()->addPermanentWidget(m_elapsed);
    auto *toolbar = addToolBar(QStringLiteral("Library"));
    m_recordMac = toolbar->addAction(QStringLiteral("Record System Audio"), &m_store,
                                     [this] { m_store.toggleRecording(RecordingInputSource::macAudio); });
    m_recordMic = toolbar->addAction(QStringLiteral("Record Microphone"), &m_store,
                                     [this] { m_store.toggleRecording(RecordingInputSource::microphone); });
    toolbar->addSeparator();
    toolbar->addAction(QStringLiteral("Choose Save Folder…"), &m_store, [this] { m_store.chooseFolder(); });

    connect(&m_store, &RecordingLibraryStore::statusMessageChanged, this, &LibraryWindow::showStatus);
    connect(&m_store, &RecordingLibraryStore::captureStateChanged, this, &LibraryWindow::showRecordingState);
    connect(&m_store, &RecordingLibraryStore::activeRecordingInputSourceChanged, this,
            &LibraryWindow::showRecordingState);
    connect(&m_store, &RecordingLibraryStore::elapsedTextChanged, this, &LibraryWindow::showRecordingState);
    connect(&m_theme, &ThemeController::themeChanged, this, &LibraryWindow::applyTheme);
    applyTheme();
    showRecordingState();
}

void LibraryWindow::applyTheme()
{
    setPalette(VespertoneTheme::darkAppearance(m_theme.theme()));
    m_sidebar->applyTheme(m_theme.theme());
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
    show(m_recordMac, RecordingInputSource::macAudio, QStringLiteral("Record System Audio"));
    show(m_recordMic, RecordingInputSource::microphone, QStringLiteral("Record Microphone"));
    const bool recording = m_store.captureState().is(CaptureState::Kind::recording);
    m_elapsed->setText(recording ? m_store.elapsedText() : QString());
}
