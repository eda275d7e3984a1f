#pragma once

#include <QString>
#include <optional>
#include <qcoro/qcorotask.h>

/// Questions put to the user, answered without blocking the caller's thread; tests answer them.
class Dialogs {
public:
    virtual ~Dialogs() = default;

    /// An open panel for one folder; none when cancelled.
    [[nodiscard]] virtual QCoro::Task<std::optional<QString>> chooseFolder(QString title, QString initialFolder) = 0;
    /// A text prompt; none when cancelled.
    [[nodiscard]] virtual QCoro::Task<std::optional<QString>> askText(QString title, QString message,
                                                                      QString initialText) = 0;
    /// A warning with the buttons \a confirmButton (first) and "Cancel"; true only for the first.
    /// Where no one can answer, it declines.
    [[nodiscard]] virtual QCoro::Task<bool> confirm(QString title, QString message, QString confirmButton)
    {
        Q_UNUSED(title);
        Q_UNUSED(message);
        Q_UNUSED(confirmButton);
        co_return false;
    }
};
