#include "ui/library/ContentView.h"

#include "editor/RecordingEditor.h"
#include "store/RecordingLibraryStore.h"
#include "ui/editor/RecordingDetailView.h"
#include "ui/library/EmptyLibraryView.h"
#include "ui/library/MultiSelectionView.h"
#include "ui/library/SidebarView.h"
#include "ui/library/StatusPill.h"
#include "ui/live/RecordingInProgressView.h"
#include "ui/style/ThemeController.h"

#include <QHBoxLayout>
#include <QSplitter>
#include <QStackedWidget>

ContentView::ContentView(RecordingLibraryStore &store, ThemeController &themes, QWidget *parent)
    : QWidget(parent), m_store(store), m_theme(themes.theme()), m_sidebar(new SidebarView(store, this)),
      m_details(new QStackedWidget(this)), m_empty(new EmptyLibraryView(m_theme, m_details)),
      m_multi(new MultiSelectionView(m_theme, m_details)), m_editor(new RecordingEditor(store, this)),
      m_single(new RecordingDetailView(*m_editor, themes, m_details)), m_pill(new StatusPill(m_theme, this))
{
    // The sidebar column is at least 420 wide and starts at 470; the detail pane takes the rest.
    auto *split = new QSplitter(this);
    split->setChildrenCollapsible(false);
    split->setHandleWidth(1);
    m_sidebar->setMinimumWidth(420);
    split->addWidget(m_sidebar);
    split->addWidget(m_details);
    split->setStretchFactor(1, 1);
    split->setSizes({470, 850});
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(split);
    m_details->addWidget(m_empty);
    m_details->addWidget(m_multi);
    m_details->addWidget(m_single);
    connect(m_single, &RecordingDetailView::openSourceRequested, &m_store,
            [this](const RecordingItem &source) { m_store.openSource(source); });
    connect(m_multi, &MultiSelectionView::deleteConfirmed, this,
            [this] { m_store.deleteRecordings(m_store.selectedItems()); });

    for (auto signal : {&RecordingLibraryStore::captureStateChanged, &RecordingLibraryStore::selectedIDsChanged,
                        &RecordingLibraryStore::recordingsChanged})
        connect(&store, signal, this, &ContentView::showDetail);
    for (auto signal : {&RecordingLibraryStore::statusMessageChanged, &RecordingLibraryStore::isAnalyzingChanged,
                        &RecordingLibraryStore::isTrimmingChanged, &RecordingLibraryStore::isImportingURLChanged,
                        &RecordingLibraryStore::captureStateChanged})
        connect(&store, signal, this, &ContentView::showStatus);
    setTheme(m_theme);
    showDetail();
    showStatus();
}

void ContentView::setTheme(AppThemeChoice theme)
{
    m_theme = theme;
    m_sidebar->applyTheme(theme);
    m_empty->setTheme(theme);
    m_multi->setTheme(theme);
    m_pill->setTheme(theme);
    if (m_live)
        m_live->setTheme(theme);
}

QWidget *ContentView::detailView() const
{
    return m_details->currentWidget();
}

bool ContentView::isBusy() const
{
    return m_store.isImportingURL() || m_store.isAnalyzing() || m_store.isTrimming()
        || m_store.captureState().isTaking();
}

void ContentView::showDetail()
{
    const auto selected = m_store.selectedItem();
    if (m_store.captureState().isTaking()) {
        // Each take gets a fresh view, so its badge starts breathing anew.
        if (m_detail != Detail::recording || !m_live) {
            delete m_live;
            m_live = new RecordingInProgressView(m_store, m_theme, m_details);
            m_details->addWidget(m_live);
        }
        m_detail = Detail::recording;
        m_details->setCurrentWidget(m_live);
        return;
    }
    delete m_live;
    if (m_store.selectedIDs().size() >= 2) {
        m_multi->setCount(int(m_store.selectedIDs().size()));
        m_detail = Detail::multiSelection;
        m_details->setCurrentWidget(m_multi);
    } else if (selected) {
        m_detail = Detail::single;
        m_details->setCurrentWidget(m_single);
    } else {
        m_detail = Detail::empty;
        m_details->setCurrentWidget(m_empty);
    }
}

void ContentView::showStatus()
{
    m_pill->setBusy(isBusy());
    m_pill->setMessage(m_store.statusMessage());
}

void ContentView::confirmDeleteSelection()
{
    if (m_store.captureState().isTaking() || m_store.selectedIDs().isEmpty())
        return;
    if (m_detail == Detail::multiSelection) {
        m_multi->confirmDelete();
        return;
    }
    if (m_store.selectedItem())
        m_single->confirmDelete();
}
