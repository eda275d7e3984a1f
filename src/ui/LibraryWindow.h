#pragma once

#include <QMainWindow>

class QAction;
class QLabel;
class QListWidget;
class RecordingLibraryStore;

/// The library window: record toggles, the recordings of the save folder and the status line.
class LibraryWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit LibraryWindow(RecordingLibraryStore &store, QWidget *parent = nullptr);

private:
    void showRecordings();
    void showSelection();
    void showStatus();
    void showRecordingState();

    RecordingLibraryStore &m_store;
    QListWidget *m_list = nullptr;
    QLabel *m_status = nullptr;
    QLabel *m_elapsed = nullptr;
    QAction *m_recordMac = nullptr;
    QAction *m_recordMic = nullptr;
};
