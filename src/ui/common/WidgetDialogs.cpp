#include "ui/common/WidgetDialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>
#include <QPushButton>
#include <coroutine>
#include <memory>

namespace {
/// Awaits the end of an open dialog and resumes from the event loop. The resume is queued on an
/// object of the awaiter's own: queued on the dialog, it would be dropped with the dialog.
/// A dialog destroyed unanswered (its window went first) ends as rejected.
class DialogEnd {
public:
    explicit DialogEnd(QDialog &dialog) : m_dialog(&dialog) {}

    [[nodiscard]] bool await_ready() const noexcept { return !m_dialog; }
    void await_suspend(std::coroutine_handle<> awaiting)
    {
        // Shared, as the promise may copy the awaiter.
        auto state = m_state;
        state->awaiting = awaiting;
        auto *context = &state->context;
        state->finished = QObject::connect(
            m_dialog, &QDialog::finished, context, [state](int result) { state->resume(result); },
            Qt::QueuedConnection);
        state->destroyed = QObject::connect(
            m_dialog, &QObject::destroyed, context, [state] { state->resume(QDialog::Rejected); },
            Qt::QueuedConnection);
    }
    [[nodiscard]] int await_resume() const noexcept { return m_state->result; }

private:
    struct State {
        QObject context;
        QMetaObject::Connection finished, destroyed;
        std::coroutine_handle<> awaiting;
        int result = QDialog::Rejected;

        void resume(int answer)
        {
            if (!awaiting)
                return;
            result = answer;
            // The connections hold this state: dropping them ends it once the resume is done.
            QObject::disconnect(finished);
            QObject::disconnect(destroyed);
            std::exchange(awaiting, nullptr).resume();
        }
    };

    QPointer<QDialog> m_dialog;
    std::shared_ptr<State> m_state = std::make_shared<State>();
};

/// Shows \a dialog window-modally, awaits its answer and deletes it once the answer is read.
template <typename Dialog>
class OpenDialog {
public:
    explicit OpenDialog(Dialog *dialog) : m_dialog(dialog) {}
    OpenDialog(const OpenDialog &) = delete;
    OpenDialog &operator=(const OpenDialog &) = delete;
    ~OpenDialog()
    {
        if (m_dialog)
            m_dialog->deleteLater();
    }

    Dialog *operator->() const { return m_dialog.data(); }
    /// The dialog's result, or Rejected when it was destroyed unanswered.
    QCoro::Task<int> answer()
    {
        m_dialog->open();
        DialogEnd end(*m_dialog);
        co_return co_await end;
    }
    /// False once the dialog is gone.
    [[nodiscard]] explicit operator bool() const { return bool(m_dialog); }

private:
    QPointer<Dialog> m_dialog;
};
} // namespace

QWidget *WidgetDialogs::parentWindow() const
{
    // The question belongs over the window the person works in: the library, or the settings.
    auto *active = QApplication::activeWindow();
    if (active && active->isVisible() && !active->windowFlags().testFlag(Qt::Popup))
        return active;
    return m_parent;
}

QCoro::Task<std::optional<QString>> WidgetDialogs::chooseFolder(QString title, QString initialFolder)
{
    OpenDialog dialog(new QFileDialog(parentWindow(), title, initialFolder));
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setOption(QFileDialog::ShowDirsOnly);
    auto answer = dialog.answer();
    const int result = co_await std::move(answer);
    if (!dialog || result != QDialog::Accepted || dialog->selectedFiles().isEmpty())
        co_return std::nullopt;
    co_return dialog->selectedFiles().constFirst();
}

QCoro::Task<std::optional<QString>> WidgetDialogs::askText(QString title, QString message, QString initialText)
{
    OpenDialog dialog(new QInputDialog(parentWindow()));
    dialog->setWindowTitle(title);
    dialog->setLabelText(message);
    dialog->setTextValue(initialText);
    auto answer = dialog.answer();
    const int result = co_await std::move(answer);
    if (!dialog || result != QDialog::Accepted)
        co_return std::nullopt;
    co_return dialog->textValue();
}

QCoro::Task<bool> WidgetDialogs::confirm(QString title, QString message, QString confirmButton)
{
    OpenDialog box(new QMessageBox(QMessageBox::Warning, title, message, QMessageBox::NoButton, parentWindow()));
    QPushButton *accept = box->addButton(confirmButton, QMessageBox::AcceptRole);
    box->addButton(QMessageBox::Cancel);
    box->setDefaultButton(accept);
    auto answer = box.answer();
    co_await std::move(answer);
    co_return box && box->clickedButton() == accept;
}
