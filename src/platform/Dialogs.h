#pragma once

#include <QString>
#include <optional>

/// Modal questions put to the user; tests answer them.
class Dialogs {
public:
    virtual ~Dialogs() = default;

    /// An open panel for one folder; none when cancelled.
    [[nodiscard]] virtual std::optional<QString> chooseFolder(const QString &title, const QString &initialFolder) = 0;
    /// A text prompt; none when cancelled.
    [[nodiscard]] virtual std::optional<QString> askText(const QString &title, const QString &message,
                                                         const QString &initialText) = 0;
};
