#pragma once

#include <QString>
#include <stdexcept>

/// Base of every failure a service reports; what() holds the user-facing sentence in UTF-8.
class AppError : public std::runtime_error {
public:
    explicit AppError(const QString &text);

    /// The user-facing sentence shown as the status text.
    [[nodiscard]] QString text() const;
};

/// The user-facing text of any exception: an AppError's sentence, else what() as UTF-8.
[[nodiscard]] QString errorText(const std::exception &error);
