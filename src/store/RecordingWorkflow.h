#pragma once

#include "base/AudioBitRate.h"
#include "capture/CaptureState.h"
#include "capture/RecordingOutputFormat.h"
#include "import/SourceContextService.h"
#include "library/RecordingInputSource.h"
#include "library/RecordingSourceContext.h"
#include "platform/RunningApplication.h"
#include "store/ActiveTake.h"

#include <QObject>
#include <QString>
#include <memory>
#include <optional>
#include <qcoro/qcorotask.h>
#include <vector>

class AudioCaptureService;
class EditingCommands;
class ForegroundApplicationMonitor;
class SoundServer;
class StoreContext;
class StoreSettings;
class TakeFinalizer;
class Timer;

/// Starts and stops takes: the elapsed clock, the running take's settings, source and lock,
/// the saving of a finished or interrupted take, and the guess of where its sound comes from.
class RecordingWorkflow : public QObject {
    Q_OBJECT
public:
    /// What the workflow works with; everything outlives it. No sound server means none can
    /// be reached; no monitor means no reports of applications coming to the front.
    struct Services {
        StoreContext &context;
        StoreSettings &settings;
        TakeFinalizer &finalizer;
        EditingCommands &editing;
        SoundServer *soundServer = nullptr;
        ForegroundApplicationMonitor *foregroundMonitor = nullptr;
        SourceContextService::Sources sources = {};
    };

    /// The identifier this program's own windows and streams carry.
    static constexpr auto ownBundleIdentifier = "vespertone";

    explicit RecordingWorkflow(Services services, QObject *parent = nullptr);
    ~RecordingWorkflow() override;

    [[nodiscard]] const CaptureState &captureState() const { return m_captureState; }
    [[nodiscard]] const QString &elapsedText() const { return m_elapsedText; }
    [[nodiscard]] std::optional<RecordingInputSource> activeInputSource() const;
    [[nodiscard]] const std::optional<ActiveTake> &activeTake() const { return m_take; }
    /// Peak levels 0...1 of the running take's latest buffers, oldest first.
    [[nodiscard]] const std::vector<float> &livePeaks() const;
    [[nodiscard]] const std::optional<QString> &activeCaptureURL() const;
    [[nodiscard]] const std::optional<RunningApplication> &latestForegroundSourceApp() const
    {
        return m_latestForegroundSourceApp;
    }
    /// True while a take starts, runs or is being finished by the capture service.
    /// The sound server takes are recorded from (a failing one when none was given).
    [[nodiscard]] SoundServer &soundServer() const { return m_soundServer; }
    [[nodiscard]] bool isBusy() const;
    [[nodiscard]] bool isRecording(RecordingInputSource source) const;
    [[nodiscard]] bool canToggle(RecordingInputSource source) const;

    void toggle(RecordingInputSource source);
    /// Starts a take with the stored format and bit rate, or with these for this take only.
    QCoro::Task<> start(RecordingInputSource source, std::optional<RecordingOutputFormat> format = {},
                        std::optional<AudioBitRate> bitRate = {});
    /// Finishes the take, saves it with its source and selects it, then analyses it when
    /// \a analyze. Returns its final path, or none on failure.
    QCoro::Task<std::optional<QString>> stop(bool analyze = true);
    /// Saves a running take without analysing it; for the way out of the program.
    QCoro::Task<> finishForExit();

signals:
    void captureStateChanged();
    void elapsedTextChanged();
    void activeInputSourceChanged();
    void livePeaksChanged();
    void activeCaptureURLChanged();
    /// A take that ended by itself has been kept and listed as \a url.
    void interruptedTakeSaved(const QString &url);

private:
    QCoro::Task<std::optional<RecordingSourceContext>> lookUpSource(RecordingInputSource input);
    QCoro::Task<> keepInterruptedTake(QString url, QString message);
    /// Saves the finished capture file of \a take into the library; throws AppError.
    QCoro::Task<QString> save(QString captureURL, ActiveTake take);
    std::optional<ActiveTake> takeActiveTake();
    /// A take with the stored settings, for a file whose own take is gone.
    [[nodiscard]] ActiveTake storedSettingsTake() const;
    /// Remembers the levels of the take captured into \a captureURL and saved as \a saved.
    QCoro::Task<> rememberWaveform(QString captureURL, QString saved);
    void mirrorCaptureState();
    void updateElapsedText();
    void lockActiveFile();
    void noteForegroundApplication(const RunningApplication &application);

    StoreContext &m_context;
    StoreSettings &m_settings;
    TakeFinalizer &m_finalizer;
    EditingCommands &m_editing;
    SoundServer &m_soundServer;
    SourceContextService::Sources m_sources;
    std::unique_ptr<AudioCaptureService> m_capture;
    Timer *m_elapsedTimer;
    CaptureState m_captureState;
    QString m_elapsedText = QStringLiteral("00:00");
    std::optional<ActiveTake> m_take;
    quint64 m_takeNumber = 0; ///< tells a late source lookup which take it belongs to
    std::optional<RunningApplication> m_latestForegroundSourceApp;
};
