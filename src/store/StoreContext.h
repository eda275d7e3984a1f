#pragma once

#include "base/AppError.h"
#include "base/Logging.h"

#include <QString>
#include <exception>
#include <optional>
#include <qcoro/qcorotask.h>

class Clock;
class WaveformService;
class FileOperations;

/// What the store's collaborators see of it: the folder, the status line, the clock, rescans
/// and the file operations that publish.
class StoreContext {
public:
    virtual ~StoreContext() = default;

    /// The library folder now.
    [[nodiscard]] virtual QString folder() const = 0;
    /// Shows \a text as the status.
    virtual void setStatus(const QString &text) = 0;
    /// Shows \a error's text as the status and logs it in \a category.
    void showFailure(const QLoggingCategory &category, const std::exception &error)
    {
        logShownFailure(category, error);
        setStatus(errorText(error));
    }
    /// Rescans the folder, then selects \a url, else keeps what still exists.
    virtual QCoro::Task<> refresh(std::optional<QString> url) = 0;
    [[nodiscard]] virtual Clock &clock() const = 0;
    /// The waveform levels of the library's files.
    [[nodiscard]] virtual WaveformService &waveforms() const = 0;
    /// Has the levels of the new file \a url computed and remembered now, where wanted.
    virtual void prepareWaveform(const QString &url) = 0;
    [[nodiscard]] virtual FileOperations &files() const = 0;
};
