#pragma once

#include <QMenu>

class RecordingLibraryStore;

/// The menu of the record face: System Audio, Microphone and each application playing now,
/// rebuilt from the store each time it opens and while it is open.
class RecordMenu : public QMenu {
    Q_OBJECT
public:
    /// \a store outlives the menu.
    explicit RecordMenu(RecordingLibraryStore &store, QWidget *parent = nullptr);

private:
    void rebuild();

    RecordingLibraryStore &m_store;
};
