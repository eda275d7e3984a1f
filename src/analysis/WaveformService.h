#pragma once

#include "analysis/WaveformLevels.h"

#include <QFuture>
#include <QHash>
#include <QObject>
#include <QString>
#include <qcoro/qcorotask.h>

#include <exception>
#include <memory>
#include <optional>

class EnvelopeJob;
struct HeldWaveformFile;

/// The editor's waveform levels of audio files: from the library's cache while the file is
/// unchanged since they were computed, else decoded on every core (EnvelopeJob) and remembered
/// there. One computation per file at a time: a second request for a file joins the first.
/// Lives on the GUI thread; files are read on the decode pool.
class WaveformService : public QObject {
    Q_OBJECT
public:
    /// Buckets of the editor's envelope of a whole take.
    static constexpr int editorPeakCount = 1100;

    explicit WaveformService(QObject *parent = nullptr);
    /// Cancels the computations in flight.
    ~WaveformService() override;

    /// The editor's envelope of \a url. Throws AudioFileError; empty when cancelled.
    QCoro::Task<QVector<float>> peaks(QString url);
    /// Both resolutions of \a url's levels; none when cancelled. Throws AudioFileError.
    QCoro::Task<std::optional<WaveformLevels>> levels(QString url);
    /// Remembers the levels of the 16-bit PCM take \a url from the fine peaks kept while it was
    /// written (EnvelopeJob::fromFinePeaks); when they do not fit the file, computes them. Ends
    /// once the file has been read; they are stored after. Never throws.
    QCoro::Task<> rememberFinePeaks(QString url, QVector<float> finePeaks, qint64 fineFrames, qint64 frames);
    /// Computes and remembers \a url's levels now (a take just saved), unless they are.
    void prepare(const QString &url);
    /// Stops the computation for \a url; its requests end empty, and the next one starts anew.
    void cancel(const QString &url);

signals:
    /// The computation for \a url has more parts done: \a peaks is the envelope so far (0 where
    /// nothing is known yet), \a coverage the share of the file it covers.
    void refined(const QString &url, const QVector<float> &peaks, double coverage);
    /// The levels computed for \a url have been stored in its library's cache, if it has one.
    void remembered(const QString &url);

private:
    /// What a computation ends with: levels, an error, or neither when it was cancelled.
    struct Result {
        std::optional<WaveformLevels> levels;
        std::exception_ptr error;
    };
    struct Computation {
        QFuture<Result> result;
        std::shared_ptr<EnvelopeJob> job; ///< none while the cache is being looked in
    };
    struct Relay;

    QCoro::Task<> compute(QString url, std::shared_ptr<class QPromise<Result>> promise);
    QCoro::Task<> storeLevels(QString url, HeldWaveformFile held, WaveformLevels levels);

    QHash<QString, std::shared_ptr<Computation>> m_computations;
    std::shared_ptr<Relay> m_relay;
};
