#pragma once

#include "analysis/WaveformLevels.h"

#include <QFuture>
#include <QString>

#include <atomic>
#include <exception>
#include <functional>
#include <memory>
#include <optional>

class AudioFileReader;
struct AudioBuffer;

/// Hands on the decoded frames before \a until as a pass reads them, in order.
struct FrameTap {
    qint64 until = 0;
    std::function<void(qint64 firstFrame, const AudioBuffer &buffer, qint64 frames)> take;
};

/// One file's peak envelope decoded in parts on the decode pool, each part from a seek to its
/// start, so that every core shares a long file. Only files whose decoding from a seek is exact
/// are cut (AudioFileReader::seeksExactly: not AAC, whose noise substitution cannot be
/// reproduced from a seek point); each part's first frames are compared with the end of the part
/// before all the same, and a file whose parts disagree is decoded again in one pass. The result
/// always equals the one-pass envelope of waveformPeaksSync.
class EnvelopeJob : public std::enable_shared_from_this<EnvelopeJob> {
public:
    /// The levels; or the error that stopped the work; or neither when it was cancelled.
    struct Outcome {
        std::optional<WaveformLevels> levels;
        std::exception_ptr error;
    };

    /// The envelope of the whole file \a url for \a targetSamples, with its fine levels.
    [[nodiscard]] static std::shared_ptr<EnvelopeJob> create(QString url, int targetSamples);
    /// The envelope in one pass on the calling thread, of the first \a maxDuration seconds (the
    /// whole file when absent, then with fine levels). Throws AudioFileError.
    [[nodiscard]] static WaveformLevels sequential(const QString &url, int targetSamples,
                                                   std::optional<double> maxDuration = std::nullopt);
    /// The same through \a reader, just opened on \a url, handing \a tap the frames it asks for.
    [[nodiscard]] static WaveformLevels sequential(AudioFileReader &reader, const QString &url, int targetSamples,
                                                   std::optional<double> maxDuration, const FrameTap &tap);

    /// The levels of the 16-bit PCM file \a url from its fine peaks \a finePeaks, kept while it
    /// was written (\a frames frames in runs of \a fineFrames): the coarse buckets take the fine
    /// runs inside them, and read from the file only the frames of runs that straddle two. None
    /// when the file is not what the peaks describe (another length, not 16-bit PCM). Throws
    /// AudioFileError.
    [[nodiscard]] static std::optional<WaveformLevels> fromFinePeaks(const QString &url,
                                                                     const QVector<float> &finePeaks, qint64 fineFrames,
                                                                     qint64 frames, int targetSamples);

    ~EnvelopeJob();
    EnvelopeJob(const EnvelopeJob &) = delete;
    EnvelopeJob &operator=(const EnvelopeJob &) = delete;

    /// Called on a decoding thread whenever a part is done; set before start().
    void setProgressHandler(std::function<void()> handler);
    /// Starts the work on the decode pool; the future finishes when it is done, has failed or
    /// was cancelled. Call once.
    QFuture<Outcome> start();
    /// start(), then waits on this thread; throws what the work threw.
    WaveformLevels run();
    /// Makes the work stop soon; its outcome is then empty.
    void cancel();
    /// The envelope as far as the parts done so far show it (0 elsewhere), normalised to their
    /// loudest bucket, and the share of the file those parts cover; empty until the file is open.
    [[nodiscard]] std::pair<QVector<float>, double> preview() const;

private:
    struct State;
    struct Key {};

public:
    EnvelopeJob(Key, QString url, int targetSamples);

private:
    /// sequential(), stopping early (with empty levels) once \a cancelled is set.
    static WaveformLevels onePass(AudioFileReader &reader, const QString &url, int targetSamples,
                                  std::optional<double> maxDuration, const std::atomic<bool> *cancelled,
                                  const FrameTap *tap);
    void prepare();
    void work(std::optional<AudioFileReader> reader);
    void complete();

    std::unique_ptr<State> d;
};
