#pragma once

#include "hotkeys/HotKeyShortcut.h"

#include <QWidget>
#include <functional>
#include <optional>

class QKeyEvent;
class QLabel;
class QPushButton;
class QToolButton;

/// One hotkey of the settings: its title, a button that shows the shortcut and, once pressed,
/// takes the next key chord as the new one, and a button that clears it.
class ShortcutRow : public QWidget {
    Q_OBJECT
public:
    /// What one key press means while the row waits for a chord.
    struct Capture {
        enum class Outcome { cancel, ignore, shortcut };
        Outcome outcome = Outcome::ignore;
        HotKeyShortcut shortcut; ///< only for Outcome::shortcut
    };

    /// \a get reads the shortcut; \a set stores a new one (none clears it).
    ShortcutRow(const QString &title, std::function<std::optional<HotKeyShortcut>()> get,
                std::function<void(std::optional<HotKeyShortcut>)> set, QWidget *parent = nullptr);

    [[nodiscard]] bool isRecording() const { return m_recording; }
    /// Starts or ends waiting for a chord.
    void setRecording(bool recording);
    /// Shows the shortcut as it is now.
    void refresh();
    /// Escape cancels; a key needs Shift, Control, Alt or Super and a name, else it is ignored.
    [[nodiscard]] static Capture capture(int qtKey, Qt::KeyboardModifiers modifiers);

signals:
    /// The row started (true) or stopped waiting for a chord.
    void recordingChanged(bool recording);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void take(const QKeyEvent &event);

    std::function<std::optional<HotKeyShortcut>()> m_get;
    std::function<void(std::optional<HotKeyShortcut>)> m_set;
    QLabel *m_title = nullptr;
    QPushButton *m_button = nullptr;
    QToolButton *m_clear = nullptr;
    bool m_recording = false;
};
