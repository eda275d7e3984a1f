#pragma once

#include "base/AppError.h"

#include <QEventLoop>
#include <QString>
#include <qcoro/qcorotask.h>

#include <concepts>
#include <exception>
#include <optional>
#include <type_traits>
#include <utility>

/// Runs \a task to its end in a local event loop and returns its value, rethrowing what it
/// threw (QCoro::waitFor never returns from a task that throws).
template <typename T>
T finish(QCoro::Task<T> task)
{
    QEventLoop loop;
    std::conditional_t<std::is_void_v<T>, bool, std::optional<T>> value{};
    std::exception_ptr error;
    bool done = false;
    auto run = [&]() -> QCoro::Task<> {
        try {
            if constexpr (std::is_void_v<T>)
                co_await std::move(task);
            else
                value.emplace(co_await std::move(task));
        } catch (...) {
            error = std::current_exception();
        }
        done = true;
        loop.quit();
    };
    auto running = run();
    if (!done)
        loop.exec();
    if (error)
        std::rethrow_exception(error);
    if constexpr (!std::is_void_v<T>)
        return std::move(*value);
}

/// The user-facing text of what \a task throws, or a null text when it succeeds.
template <typename T>
QString failureOf(QCoro::Task<T> task)
{
    try {
        finish(std::move(task));
    } catch (const std::exception &error) {
        return errorText(error);
    }
    return {};
}

/// The user-facing text of what \a function throws, or a null text when it returns.
template <std::invocable Function>
QString failureOf(Function function)
{
    try {
        function();
    } catch (const std::exception &error) {
        return errorText(error);
    }
    return {};
}
