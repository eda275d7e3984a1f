#pragma once

#include <QFutureWatcher>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>
#include <qcoro/qcorosignal.h>
#include <qcoro/qcorotask.h>

#include <exception>
#include <optional>
#include <type_traits>
#include <utility>

namespace BackgroundTask {
namespace detail {
template <typename T>
struct Outcome {
    std::optional<T> value;
    std::exception_ptr error;
};
template <>
struct Outcome<void> {
    std::exception_ptr error;
};
} // namespace detail

/// Runs \a work on \a pool and resumes the awaiting coroutine on its own thread with the value,
/// or rethrows the exception \a work threw. It always resumes from the event loop, even when
/// the work is done before the caller awaits it, so callers never finish early.
template <typename Work, typename T = std::invoke_result_t<Work>>
QCoro::Task<T> run(QThreadPool &pool, Work work)
{
    auto future = QtConcurrent::run(&pool, [work = std::move(work)]() mutable {
        detail::Outcome<T> outcome;
        try {
            if constexpr (std::is_void_v<T>)
                work();
            else
                outcome.value.emplace(work());
        } catch (...) {
            outcome.error = std::current_exception();
        }
        return outcome;
    });
    QFutureWatcher<detail::Outcome<T>> watcher;
    watcher.setFuture(future);
    co_await qCoro(&watcher, &QFutureWatcher<detail::Outcome<T>>::finished);
    auto outcome = future.takeResult();
    if (outcome.error)
        std::rethrow_exception(outcome.error);
    if constexpr (!std::is_void_v<T>)
        co_return std::move(*outcome.value);
}

/// The same on the shared thread pool.
template <typename Work, typename T = std::invoke_result_t<Work>>
QCoro::Task<T> run(Work work)
{
    return run(*QThreadPool::globalInstance(), std::move(work));
}
} // namespace BackgroundTask
