#pragma once

#include <QMainWindow>

class QAction;
class QLabel;
class RecordingLibraryStore;
class SidebarView;

/// The library window: record toggles, the recording sidebar and the status line.
class LibraryWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit LibraryWindow(RecordingLibraryStore &store, QWidget *parent = nullptr);

private:
    void showStatus();
    void showRecordingState();

    RecordingLibraryStore &m_store;
    SidebarView *m_sidebar = nullptr;
    QLabel *m_status = nullptr;
    QLabel *m_elapsed = nullptr;
    QAction *m_recordMac = nullptr;
    QAction *m_recordMic = nullptr;
};
