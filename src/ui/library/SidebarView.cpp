#include "ui/library/SidebarView.h"

#include "base/AppError.h"
#include "store/RecordingLibraryStore.h"
#include "store/StoreSettings.h"
#include "ui/common/FileBrowser.h"
#include "ui/library/GothicMasthead.h"
#include "ui/library/RecordingListModel.h"
#include "ui/library/RecordingRowDelegate.h"
#include "ui/library/SidebarColumns.h"
#include "ui/library/SortHeader.h"
#include "ui/style/TextStyles.h"
#include "ui/style/VespertoneTheme.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLinearGradient>
#include <QListView>
#include <QMenu>
#include <QPainter>
#include <QScopedValueRollback>
#include <QScrollBar>
#include <QTimer>
#include <QVBoxLayout>

namespace Theme = VespertoneTheme;

SidebarView::SidebarView(RecordingLibraryStore &store, QWidget *parent)
    : QWidget(parent), m_store(store), m_theme(AppThemeChoices::stored(store.settings())),
      m_model(new RecordingListModel(store, SidebarSortOrder(store.settings()), this)),
      m_delegate(new RecordingRowDelegate(this)), m_list(new QListView(this)), m_masthead(new GothicMasthead(this)),
      m_title(new QLabel(QStringLiteral("Recordings"), this)), m_gap(new QWidget(this)), m_header(new QWidget(this))
{
    m_title->setFont(TextStyles::caption(QFont::DemiBold));
    m_title->setContentsMargins(18, 10, 18, 0);
    m_gap->setFixedHeight(8);

    auto *headerRow = new QHBoxLayout(m_header);
    headerRow->setSpacing(int(SidebarColumns::spacing));
    // Over the row icons; a layout adds no spacing next to a spacer, so it holds the gap too.
    headerRow->addSpacing(int(SidebarColumns::iconWidth + SidebarColumns::spacing));
    for (auto column : SidebarSortColumns::all) {
        auto *header = new SortHeader(column, m_header);
        m_sortHeaders[std::size_t(column)] = header;
        connect(header, &SortHeader::clicked, this, [this, column] { setSort(column); });
    }
    headerRow->addWidget(m_sortHeaders[0], 1);
    m_sortHeaders[0]->setMinimumWidth(int(SidebarColumns::titleMinimumWidth));
    m_sortHeaders[1]->setFixedWidth(int(SidebarColumns::dateWidth));
    m_sortHeaders[2]->setFixedWidth(int(SidebarColumns::bpmWidth));
    m_sortHeaders[3]->setFixedWidth(int(SidebarColumns::keyWidth));
    for (std::size_t column = 1; column < m_sortHeaders.size(); ++column)
        headerRow->addWidget(m_sortHeaders[column]);

    m_list->setModel(m_model);
    m_list->setItemDelegate(m_delegate);
    m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_list->setUniformItemSizes(true);
    m_list->setFrameShape(QFrame::NoFrame);
    m_list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_list->setDragEnabled(true);
    m_list->setDragDropMode(QAbstractItemView::DragOnly);
    m_list->setDefaultDropAction(Qt::CopyAction);
    m_list->setContextMenuPolicy(Qt::CustomContextMenu);
    // A slim bar without arrows, closer to the desktop's overlay scrollers than the style's own.
    m_list->verticalScrollBar()->setStyleSheet(
        QStringLiteral("QScrollBar:vertical { background: transparent; width: 10px; margin: 2px; }"
                       "QScrollBar::handle:vertical { background: %1; border-radius: 3px; min-height: 24px; }"
                       "QScrollBar::add-line:vertical, QScrollBar::sub-line:vertical { height: 0; }"
                       "QScrollBar::add-page:vertical, QScrollBar::sub-page:vertical { background: transparent; }")
            .arg(VespertoneTheme::styleSheetColor(VespertoneTheme::scrollHandle())));
    m_list->viewport()->setAutoFillBackground(false);
    m_list->viewport()->installEventFilter(this);

    auto *stack = new QVBoxLayout;
    stack->setSpacing(8);
    stack->addWidget(m_title);
    stack->addWidget(m_gap);
    stack->addWidget(m_header);
    stack->addWidget(m_list, 1);
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(m_masthead);
    column->addLayout(stack, 1);

    connect(m_list->selectionModel(), &QItemSelectionModel::selectionChanged, this, &SidebarView::takeSelection);
    connect(&m_store, &RecordingLibraryStore::selectedIDsChanged, this, &SidebarView::showSelection);
    // The model follows each refresh first (it connected earlier); then rows the store still
    // selects are selected again.
    connect(&m_store, &RecordingLibraryStore::recordingsChanged, this, &SidebarView::showSelection);
    connect(m_list->verticalScrollBar(), &QScrollBar::rangeChanged, this, &SidebarView::scheduleHeaderAlignment);
    connect(m_list, &QListView::customContextMenuRequested, this, &SidebarView::openContextMenu);

    alignHeader();
    applyTheme(m_theme);
    showSort();
    showSelection();
}

const SidebarSortOrder &SidebarView::sortOrder() const
{
    return m_model->order();
}

void SidebarView::applyTheme(AppThemeChoice theme)
{
    m_theme = theme;
    const bool gothic = m_theme == AppThemeChoice::gothic;
    m_masthead->setVisible(gothic);
    m_title->setVisible(!gothic);
    m_gap->setVisible(gothic);
    QPalette palette = this->palette();
    palette.setColor(QPalette::WindowText, Theme::secondaryText());
    palette.setColor(QPalette::Base, Qt::transparent);
    palette.setColor(QPalette::Highlight, Theme::accent(m_theme));
    setPalette(palette);
    m_delegate->setTheme(m_theme);
    for (auto *header : m_sortHeaders)
        header->setTheme(m_theme);
    update();
    m_list->viewport()->update();
}

void SidebarView::setSort(SidebarSortColumn column)
{
    auto order = m_model->order();
    order.choose(column);
    try {
        order.save(m_store.settings());
    } catch (const std::exception &error) {
        m_store.setStatusMessage(errorText(error));
    }
    m_model->setOrder(std::move(order));
    showSort();
}

void SidebarView::followStoredSort()
{
    SidebarSortOrder stored(m_store.settings());
    if (stored.column() == sortOrder().column() && stored.isAscending() == sortOrder().isAscending())
        return;
    m_model->setOrder(std::move(stored));
    showSort();
}

void SidebarView::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::ActivationChange)
        followStoredSort();
    QWidget::changeEvent(event);
}

void SidebarView::showSort()
{
    for (auto *header : m_sortHeaders)
        header->showSort(sortOrder().column(), sortOrder().isAscending());
}

void SidebarView::showSelection()
{
    if (m_takingSelection)
        return;
    const QScopedValueRollback applying(m_applyingSelection, true);
    const auto &ids = m_store.selectedIDs();
    QItemSelection selection;
    QModelIndex first;
    for (int row = 0; row < m_model->rowCount(); ++row) {
        if (!ids.contains(m_model->item(row).id()))
            continue;
        const auto index = m_model->index(row);
        selection.select(index, index);
        if (!first.isValid())
            first = index;
    }
    auto *selectionModel = m_list->selectionModel();
    selectionModel->select(selection, QItemSelectionModel::ClearAndSelect);
    // A selection made elsewhere moves the keyboard focus row to it and brings it into view;
    // one made here keeps the anchor of the user's extended selection.
    if (first.isValid() && !selectionModel->isSelected(selectionModel->currentIndex())) {
        selectionModel->setCurrentIndex(first, QItemSelectionModel::NoUpdate);
        m_list->scrollTo(first);
    }
}

void SidebarView::takeSelection()
{
    if (m_applyingSelection || m_model->isUpdating())
        return;
    QSet<QString> ids;
    for (const auto &index : m_list->selectionModel()->selectedIndexes())
        ids.insert(index.data(RecordingListModel::IdRole).toString());
    const QScopedValueRollback taking(m_takingSelection, true);
    m_store.setSelectedIDs(ids);
}

QMenu *SidebarView::contextMenu(const RecordingItem &item)
{
    auto *menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    auto *store = &m_store;
    menu->addAction(QStringLiteral("Rename"), store, [store, item] { store->promptRename(item); });
    menu->addAction(QStringLiteral("Show in Folder"), store, [item] { FileBrowser::showInFolder(item.url); });
    menu->addAction(QStringLiteral("Analyze Again"), store, [store, item] { store->analyze(item.url); });
    const auto &selected = m_store.selectedIDs();
    if (selected.size() > 1 && selected.contains(item.id())) {
        menu->addAction(QStringLiteral("Move Selected to Trash"), store,
                        [store] { store->deleteRecordings(store->selectedItems()); });
    }
    menu->addAction(QStringLiteral("Move to Trash"), store, [store, item] { store->deleteRecordings({item}); });
    return menu;
}

void SidebarView::openContextMenu(const QPoint &position)
{
    const auto index = m_list->indexAt(position);
    if (index.isValid())
        contextMenu(m_model->item(index.row()))->popup(m_list->viewport()->mapToGlobal(position));
}

void SidebarView::scheduleHeaderAlignment()
{
    // The scroll bar comes and goes while the list lays itself out; measure once that settles.
    if (std::exchange(m_headerAlignmentPending, true))
        return;
    QTimer::singleShot(0, this, [this] {
        m_headerAlignmentPending = false;
        alignHeader();
    });
}

void SidebarView::alignHeader()
{
    // The rows end where the viewport ends, left of a scroll bar when one shows.
    const int scrollBar = m_list->width() - m_list->viewport()->width();
    const int inset = int(SidebarColumns::sideInset);
    m_header->layout()->setContentsMargins(inset, 0, inset + scrollBar, 4);
}

bool SidebarView::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_list->viewport() && event->type() == QEvent::Resize)
        scheduleHeaderAlignment();
    return QWidget::eventFilter(watched, event);
}

void SidebarView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const QRectF area = rect();
    auto material = Theme::material(Theme::Material::sidebar);
    material.setAlphaF(material.alphaF() * float(Theme::sidebarBlurOpacity(m_theme)));
    painter.fillRect(area, material);
    QLinearGradient shade(area.topLeft(), area.bottomLeft());
    shade.setStops(Theme::sidebarGradient(m_theme));
    painter.fillRect(area, shade);
}
