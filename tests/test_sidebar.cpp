// The recording sidebar on a real store: sort rules and their persistence, selection bound both
// ways, rows that follow refreshes in place, files dragged out and the row menu.

#include "library/MetadataStore.h"
#include "store/RecordingLibraryStore.h"
#include "store/StoreSettings.h"
#include "support/AudioFixtures.h"
#include "support/TaskRunner.h"
#include "support/TestEnvironment.h"
#include "support/WidgetLookup.h"
#include "ui/library/GothicMasthead.h"
#include "ui/library/RecordingListModel.h"
#include "ui/library/SidebarView.h"
#include "ui/library/SortHeader.h"

#include <QAction>
#include <QListView>
#include <QMenu>
#include <QMimeData>
#include <QSignalSpy>
#include <QTest>

using WidgetLookup::menuAction;

namespace {
struct Fixture {
    const char *name;
    int minutes; ///< creation time after the first recording
    std::optional<double> bpm;
    std::optional<QString> key;
};

// Numbers in names, equal and missing tempi, keys whose plain order differs from a
// case-insensitive one ("c major" after "F# minor").
const Fixture fixtures[] = {
    {"Take 10", 1, 120, QStringLiteral("F# minor")},
    {"Take 2", 2, std::nullopt, QStringLiteral("A minor")},
    {"take 3", 3, 120, std::nullopt},
    {"Alpha", 4, 90.5, QStringLiteral("c major")},
    {"Zed", 0, std::nullopt, std::nullopt},
};

const QDateTime firstRecording(QDate(2024, 5, 1), QTime(12, 0), Qt::UTC);

QStringList rowNames(const QAbstractItemModel &model)
{
    QStringList names;
    for (int row = 0; row < model.rowCount(); ++row)
        names << model.index(row, 0).data().toString();
    return names;
}

QStringList menuTexts(const QMenu &menu)
{
    QStringList texts;
    for (auto *action : menu.actions()) {
        if (action->isEnabled())
            texts << action->text();
    }
    return texts;
}

} // namespace

class SidebarTest : public QObject {
    Q_OBJECT

private:
    TestEnvironment m_env;
    std::unique_ptr<RecordingLibraryStore> m_store;

    [[nodiscard]] QString idOf(const QString &name) const { return m_env.path(name + QStringLiteral(".wav")); }
    QItemSelectionModel &selectionOf(SidebarView &view) { return *view.findChild<QListView *>()->selectionModel(); }
    QAbstractItemModel &modelOf(SidebarView &view) { return *view.findChild<QListView *>()->model(); }

    /// Clicks the headers named by \a columns in turn.
    void click(SidebarView &view, const QStringList &columns)
    {
        const auto headers = view.findChildren<SortHeader *>();
        for (const auto &raw : columns) {
            const auto column = SidebarSortColumns::fromRawValue(raw);
            const auto found = std::find_if(headers.begin(), headers.end(),
                                            [&](SortHeader *header) { return header->column() == column; });
            QVERIFY(found != headers.end());
            QTest::mouseClick(*found, Qt::LeftButton);
        }
    }

private slots:
    void initTestCase()
    {
        for (const auto &fixture : fixtures) {
            const auto path = AudioFixtures::tone(idOf(QString::fromLatin1(fixture.name)), 0.1);
            auto metadata = RecordingMetadata::fresh(firstRecording.addSecs(60 * fixture.minutes));
            metadata.bpm = fixture.bpm;
            metadata.musicalKey = fixture.key;
            MetadataStore::save(metadata, path);
        }
        m_store = startStore(m_env.storeEnvironment());
        QCOMPARE(m_store->recordings().size(), qsizetype(std::size(fixtures)));
    }

    void init()
    {
        m_env.settings->remove(QLatin1String(StoreSettings::sortColumnKey));
        m_env.settings->remove(QLatin1String(StoreSettings::sortAscendingKey));
        m_env.settings->remove(QLatin1String(StoreSettings::themeKey));
    }

    void sortsAndKeepsTheSort_data()
    {
        QTest::addColumn<QString>("storedColumn");
        QTest::addColumn<QStringList>("clicks");
        QTest::addColumn<QStringList>("expected");
        const QStringList newestFirst{"Alpha", "take 3", "Take 2", "Take 10", "Zed"};
        QTest::newRow("first launch: newest first") << QString() << QStringList() << newestFirst;
        QTest::newRow("unknown stored column is the date")
            << "tempo" << QStringList() << QStringList{"Zed", "Take 10", "Take 2", "take 3", "Alpha"};
        QTest::newRow("name starts A to Z, numbers by value")
            << QString() << QStringList{"title"} << QStringList{"Alpha", "Take 2", "take 3", "Take 10", "Zed"};
        QTest::newRow("name again: Z to A")
            << QString() << QStringList{"title", "title"} << QStringList{"Zed", "Take 10", "take 3", "Take 2", "Alpha"};
        QTest::newRow("date after name starts newest first")
            << QString() << QStringList{"title", "title", "date"} << newestFirst;
        QTest::newRow("tempo ascending: missing last, ties newest first")
            << QString() << QStringList{"bpm"} << QStringList{"Alpha", "take 3", "Take 10", "Take 2", "Zed"};
        QTest::newRow("stored tempo descending: missing first")
            << "bpm" << QStringList() << QStringList{"Take 2", "Zed", "take 3", "Take 10", "Alpha"};
        QTest::newRow("key ascending: plain character order, missing last")
            << QString() << QStringList{"key"} << QStringList{"Take 2", "Take 10", "Alpha", "take 3", "Zed"};
    }

    void sortsAndKeepsTheSort()
    {
        QFETCH(QString, storedColumn);
        QFETCH(QStringList, clicks);
        QFETCH(QStringList, expected);
        if (!storedColumn.isEmpty()) {
            m_store->settings().setText(StoreSettings::sortColumnKey, storedColumn);
            m_store->settings().setFlag(StoreSettings::sortAscendingKey, storedColumn != "bpm");
        }
        SidebarView view(*m_store);
        SidebarView another(*m_store);
        click(view, clicks);
        QCOMPARE(rowNames(modelOf(view)), expected);
        // Another window takes the same order when it comes to the front, and a new one opens
        // with it; the order does not lean on the store's.
        QEvent activated(QEvent::ActivationChange);
        QCoreApplication::sendEvent(&another, &activated);
        QCOMPARE(rowNames(modelOf(another)), expected);
        QCOMPARE(rowNames(modelOf(*std::make_unique<SidebarView>(*m_store))), expected);
        auto reversed = m_store->recordings();
        std::reverse(reversed.begin(), reversed.end());
        QStringList names;
        for (const auto &item : view.sortOrder().sorted(reversed))
            names << QFileInfo(item.url).completeBaseName();
        QCOMPARE(names, expected);
    }

    void bindsTheSelectionBothWays()
    {
        SidebarView view(*m_store);
        auto &selection = selectionOf(view);
        auto &model = modelOf(view);
        QSignalSpy storeChanges(m_store.get(), &RecordingLibraryStore::selectedIDsChanged);

        m_store->setSelectedIDs({idOf("Zed"), idOf("Take 2")});
        const auto selectedNames = [&] {
            QStringList names;
            for (const auto &index : selection.selectedIndexes())
                names << index.data().toString();
            names.sort();
            return names;
        };
        QCOMPARE(selectedNames(), (QStringList{"Take 2", "Zed"}));
        // Showing a selection never writes it back, not even one the list cannot show in full.
        const QSet<QString> unlisted{idOf("Zed"), m_env.path(QStringLiteral("Gone.wav"))};
        m_store->setSelectedIDs(unlisted);
        QCOMPARE(selectedNames(), QStringList{"Zed"});
        QCOMPARE(m_store->selectedIDs(), unlisted);
        QCOMPARE(storeChanges.size(), 2);

        selection.select(model.index(0, 0), QItemSelectionModel::ClearAndSelect);
        QCOMPARE(m_store->selectedIDs(), QSet<QString>{idOf("Alpha")});
        selection.select(model.index(4, 0), QItemSelectionModel::Select);
        QCOMPARE(m_store->selectedIDs(), (QSet<QString>{idOf("Alpha"), idOf("Zed")}));
        QCOMPARE(storeChanges.size(), 4);

        // A new order moves the selected rows with their recordings.
        click(view, {"title"});
        QCOMPARE(selectedNames(), (QStringList{"Alpha", "Zed"}));
    }

    void followsTheStoredTheme_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<bool>("studioGlass");
        QTest::newRow("missing") << QString() << false;
        QTest::newRow("studio glass") << "studioGlass" << true;
        QTest::newRow("other case") << "StudioGlass" << false;
    }

    void followsTheStoredTheme()
    {
        QFETCH(QString, stored);
        QFETCH(bool, studioGlass);
        if (!stored.isNull())
            m_store->settings().setText(StoreSettings::themeKey, stored);
        SidebarView view(*m_store);
        QCOMPARE(view.findChild<GothicMasthead *>()->isHidden(), studioGlass);
    }

    void followsRefreshesInPlaceAndDragsFiles()
    {
        SidebarView view(*m_store);
        auto &model = modelOf(view);
        const auto alpha = model.index(rowNames(model).indexOf("Alpha"), 0);
        QCOMPARE(alpha.data(RecordingListModel::BpmTextRole).toString(), "91"); // halves away from zero
        QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);
        const auto firstRow = QPersistentModelIndex(model.index(0, 0));

        const auto added = AudioFixtures::tone(idOf("Take 7"), 0.1);
        finish(m_store->refresh(added));
        QCOMPARE(firstRow.row(), 1); // inserted above it, the newest first, not reset
        QVERIFY(selectionOf(view).isRowSelected(0));

        selectionOf(view).select(model.index(3, 0), QItemSelectionModel::Select);
        auto *data = model.mimeData(selectionOf(view).selectedIndexes());
        QSet<QString> files;
        for (const auto &url : data->urls())
            files << url.toLocalFile();
        delete data;
        QCOMPARE(files.size(), 2);
        QCOMPARE(files, m_store->selectedIDs());
        QVERIFY(model.flags(model.index(0, 0)).testFlag(Qt::ItemIsDragEnabled));

        m_store->setSelectedIDs({added});
        QSignalSpy refreshed(m_store.get(), &RecordingLibraryStore::refreshFinished);
        auto *menu = view.contextMenu(m_store->selectedItems().front());
        menuAction(*menu, QStringLiteral("Move to Trash"))->trigger();
        QVERIFY(refreshed.wait(10000));
        QCOMPARE(m_env.trash.trashed, QStringList{added});
        QCOMPARE(removed.size(), 1);
    }

    void offersTheRowMenu()
    {
        SidebarView view(*m_store);
        const auto item = [&](const QString &name) {
            for (const auto &recording : m_store->recordings()) {
                if (recording.id() == idOf(name))
                    return recording;
            }
            return RecordingItem{};
        };
        const QStringList single{"Rename", "Show in Folder", "Analyze Again", "Move to Trash"};
        m_store->setSelectedIDs({idOf("Zed")});
        QCOMPARE(menuTexts(*view.contextMenu(item("Zed"))), single);
        m_store->setSelectedIDs({idOf("Zed"), idOf("Alpha")});
        QCOMPARE(menuTexts(*view.contextMenu(item("Zed"))),
                 (QStringList{"Rename", "Show in Folder", "Analyze Again", "Move Selected to Trash", "Move to Trash"}));
        QCOMPARE(menuTexts(*view.contextMenu(item("Take 2"))), single);
    }
};

QTEST_MAIN(SidebarTest)
#include "test_sidebar.moc"
