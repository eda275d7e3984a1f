#include "store/EditingCommands.h"

#include "analysis/AudioAnalyzer.h"
#include "analysis/MusicalKeys.h"
#include "analysis/PreciseAnalyzer.h"
#include "base/AppError.h"
#include "library/Formatters.h"
#include "library/LibraryFileMoves.h"
#include "library/MetadataStore.h"
#include "library/RecordingScanner.h"
#include "library/UniqueFileNamer.h"
#include "library/WorkFile.h"
#include "media/AudioTrimmer.h"
#include "media/AudioTrimmerError.h"
#include "platform/BackgroundTask.h"
#include "platform/Clock.h"
#include "platform/Dialogs.h"
#include "platform/FileOperations.h"
#include "store/StoreContext.h"
#include "store/StoreSettings.h"
#include "store/TakeLock.h"
#include "store/TrimUndo.h"

#include <QFileInfo>
#include <QPointer>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>

namespace {
QString fileName(const QString &url)
{
    return QFileInfo(url).fileName();
}

/// True when \a base is \a tempoBase itself or the name the unique-name rule gave it.
bool carriesTempoName(const QString &base, const QString &tempoBase)
{
    if (base == tempoBase)
        return true;
    static const QRegularExpression counter(QStringLiteral("^ [0-9]+$"));
    return base.startsWith(tempoBase) && counter.match(base.mid(tempoBase.size())).hasMatch();
}

/// The sidecar content of \a url, or a fresh one; throws AppError when the file is gone.
RecordingMetadata metadataOf(const QString &url)
{
    if (!QFileInfo::exists(url))
        throw AppError(QStringLiteral("“%1” no longer exists.").arg(fileName(url)));
    return MetadataStore::load(url).value_or(RecordingMetadata::fresh(RecordingScanner::fileCreationDate(url)));
}

bool sameTempo(const double &a, const double &b)
{
    return std::abs(a - b) < 0.05;
}

bool sameKey(const QString &a, const QString &b)
{
    return a == b;
}

/// Makes \a chosen the \a value: the value it replaces joins the \a alternatives with its
/// confidence, \a chosen leaves them, and \a confidence becomes the one it had there.
template <typename Candidate, typename Value>
void promote(std::optional<Value> &value, std::optional<double> &confidence, QVector<Candidate> &alternatives,
             Value Candidate::*field, const Value &chosen, bool (*same)(const Value &, const Value &))
{
    if (value && same(*value, chosen))
        return;
    std::optional<double> chosenConfidence;
    const auto found = std::find_if(alternatives.begin(), alternatives.end(),
                                    [&](const Candidate &candidate) { return same(candidate.*field, chosen); });
    if (found != alternatives.end()) {
        chosenConfidence = found->confidence;
        alternatives.erase(found);
    }
    if (value) {
        Candidate replaced;
        replaced.*field = *value;
        replaced.confidence = confidence.value_or(0);
        alternatives.append(replaced);
        std::stable_sort(alternatives.begin(), alternatives.end(),
                         [](const Candidate &a, const Candidate &b) { return a.confidence > b.confidence; });
    }
    value = chosen;
    confidence = chosenConfidence;
}

/// A work file for a trim of a file in \a folder; throws AudioTrimmerError naming the cause.
WorkFile workFileForTrim(const QString &folder)
{
    try {
        return WorkFile::create(folder, QStringLiteral("m4a"));
    } catch (const AppError &error) {
        throw AudioTrimmerError(AudioTrimmerError::Code::exportFailed, error.text());
    }
}
} // namespace

EditingCommands::EditingCommands(StoreContext &context, StoreSettings &settings, Trash &trash, Dialogs &dialogs,
                                 QObject *parent)
    : QObject(parent), m_context(context), m_settings(settings), m_trash(trash), m_dialogs(dialogs),
      m_analyzer(new AudioAnalyzer(this)), m_trimmer(new AudioTrimmer(this)), m_trimUndo(new TrimUndo(this))
{}

namespace {
/// The refusal of an edit of \a url while a take still writes it.
std::optional<QString> runningTakeRefusal(const QString &url)
{
    if (!TakeLock::isHeld(url))
        return std::nullopt;
    return QStringLiteral("“%1” is still being recorded.").arg(fileName(url));
}
} // namespace

bool EditingCommands::refuseRunningTake(const QString &url)
{
    const auto refusal = runningTakeRefusal(url);
    if (refusal)
        m_context.setStatus(*refusal);
    return refusal.has_value();
}

QCoro::Task<std::optional<QString>> EditingCommands::analyze(QString url, std::optional<AnalysisMode> mode)
{
    if (refuseRunningTake(url))
        co_return std::nullopt;
    QPointer self(this);
    const bool precise = mode.value_or(m_settings.analysisMode()) == AnalysisMode::precise;
    const auto cancellations = m_cancellations;
    setIsAnalyzing(true);
    m_context.setStatus(QStringLiteral("Analyzing ") + fileName(url));
    QString target = url;
    try {
        AudioAnalysisResult result;
        if (precise) {
            auto analysis = PreciseAnalyzer::analyze(url);
            result = co_await std::move(analysis);
        } else {
            auto analysis = m_analyzer->analyze(url);
            result = co_await std::move(analysis);
        }
        if (!self)
            co_return std::nullopt;
        if (m_cancellations != cancellations)
            throw AppError(QStringLiteral("The analysis was cancelled."));
        const auto analyzedAt = m_context.clock().now();
        auto store = BackgroundTask::run([url, result, analyzedAt, files = &m_context.files()] {
            auto metadata = metadataOf(url);
            metadata.duration = result.duration;
            metadata.bpm = result.bpm;
            metadata.musicalKey = result.musicalKey;
            metadata.analyzedAt = analyzedAt;
            // The standard analysis clears what an earlier precise one said of its own figures.
            metadata.bpmConfidence = result.bpmConfidence;
            metadata.bpmAlternatives = result.bpmAlternatives;
            metadata.keyConfidence = result.keyConfidence;
            metadata.keyAlternatives = result.keyAlternatives;
            const auto target = result.bpm ? renameForBPMIfNeeded(url, *result.bpm, *files) : url;
            MetadataStore::save(metadata, target, *files);
            return target;
        });
        target = co_await std::move(store);
    } catch (const std::exception &error) {
        if (self) {
            m_context.showFailure(lcLibrary(), error);
            setIsAnalyzing(false);
        }
        co_return std::nullopt;
    }
    if (!self)
        co_return std::nullopt;
    if (target != url)
        emit recordingMoved(url, target);
    m_context.setStatus(QStringLiteral("Analysis saved"));
    co_await m_context.refresh(target);
    if (self)
        setIsAnalyzing(false);
    co_return target;
}

QCoro::Task<std::optional<QString>> EditingCommands::chooseTempo(QString url, double bpm)
{
    if (refuseRunningTake(url))
        co_return std::nullopt;
    QPointer self(this);
    QString target = url;
    try {
        if (!(bpm >= 1 && bpm <= 1000))
            throw AppError(QStringLiteral("A tempo must lie between 1 and 1000 BPM."));
        auto store = BackgroundTask::run([url, bpm, files = &m_context.files()] {
            auto metadata = metadataOf(url);
            promote(metadata.bpm, metadata.bpmConfidence, metadata.bpmAlternatives, &TempoCandidate::bpm, bpm,
                    sameTempo);
            const auto target = renameForBPMIfNeeded(url, bpm, *files);
            MetadataStore::save(metadata, target, *files);
            return target;
        });
        target = co_await std::move(store);
    } catch (const std::exception &error) {
        if (self)
            m_context.showFailure(lcLibrary(), error);
        co_return std::nullopt;
    }
    if (!self)
        co_return std::nullopt;
    m_context.setStatus(QStringLiteral("Tempo set to ") + roundedBPMText(bpm));
    co_await m_context.refresh(target);
    co_return target;
}

QCoro::Task<std::optional<QString>> EditingCommands::chooseKey(QString url, QString musicalKey)
{
    if (refuseRunningTake(url))
        co_return std::nullopt;
    QPointer self(this);
    try {
        if (!MusicalKeys::isKeyName(musicalKey))
            throw AppError(QStringLiteral("“%1” is not a key.").arg(musicalKey));
        auto store = BackgroundTask::run([url, musicalKey, files = &m_context.files()] {
            auto metadata = metadataOf(url);
            promote(metadata.musicalKey, metadata.keyConfidence, metadata.keyAlternatives, &KeyCandidate::musicalKey,
                    musicalKey, sameKey);
            MetadataStore::save(metadata, url, *files);
        });
        co_await std::move(store);
    } catch (const std::exception &error) {
        if (self)
            m_context.showFailure(lcLibrary(), error);
        co_return std::nullopt;
    }
    if (!self)
        co_return std::nullopt;
    m_context.setStatus(QStringLiteral("Key set to ") + musicalKey);
    co_await m_context.refresh(url);
    co_return url;
}

QString EditingCommands::renameForBPMIfNeeded(const QString &url, double bpm, FileOperations &files)
{
    const double rounded = std::round(bpm);
    if (!std::isfinite(rounded) || rounded < 1)
        return url;
    const auto base = UniqueFileNamer::baseName(url);
    const auto newBase =
        UniqueFileNamer::withoutTempoSuffix(base) + QStringLiteral("_bpm_") + QString::number(rounded, 'f', 0);
    if (carriesTempoName(base, newBase))
        return url;
    const auto target = uniqueRenameURL(url, newBase);
    // A name past the file-name limit stays as it is; the tempo still goes into the sidecar.
    if (target == url || !UniqueFileNamer::fitsNameLimit(target))
        return url;
    LibraryFileMoves::moveWithSidecar(url, target, files);
    return target;
}

QCoro::Task<std::optional<QString>> EditingCommands::trim(RecordingItem item, double start, double end)
{
    if (refuseRunningTake(item.url))
        co_return std::nullopt;
    // The sidecar states the length the trimmer cuts: within the file, never negative.
    start = std::isfinite(start) ? std::max(start, 0.0) : 0.0;
    if (item.duration > 0)
        end = std::min(end, item.duration);
    end = std::max(end, start);
    QPointer self(this);
    setIsTrimming(true);
    m_context.setStatus(QStringLiteral("Saving trim"));
    m_trimUndo->set(std::nullopt);
    QString trimmed;
    try {
        const auto folder = QFileInfo(item.url).absolutePath();
        // Cut in the work folder under a lock; the library sees the trim only once complete.
        const auto work = workFileForTrim(folder);
        auto cut = m_trimmer->trim(item.url, start, end, work.path());
        co_await std::move(cut);
        if (!self)
            co_return std::nullopt;
        auto metadata = RecordingMetadata::fresh(m_context.clock().now());
        metadata.duration = end - start;
        metadata.trimStart = 0.0;
        metadata.trimEnd = end - start;
        metadata.source = item.metadata.source;
        // Its sidecar comes first: without it the trim would be listed as an unrelated recording.
        auto publish = BackgroundTask::run([from = work.path(), folder, base = UniqueFileNamer::baseName(item.url),
                                            metadata, files = &m_context.files()] {
            return LibraryFileMoves::publishWithSidecar(from, folder, base + QStringLiteral(" Trim"),
                                                        QStringLiteral("m4a"), metadata, *files);
        });
        trimmed = co_await std::move(publish);
    } catch (const std::exception &error) {
        if (self) {
            m_context.showFailure(lcLibrary(), error);
            setIsTrimming(false);
        }
        co_return std::nullopt;
    }
    if (!self)
        co_return std::nullopt;
    m_context.setStatus(QStringLiteral("Trim saved"));
    m_context.prepareWaveform(trimmed);
    co_await m_context.refresh(trimmed);
    if (!self)
        co_return std::nullopt;
    const auto final = (co_await analyze(trimmed)).value_or(trimmed);
    if (!self)
        co_return std::nullopt;
    m_trimUndo->set(SavedTrimUndo{item.url, final});
    m_context.setStatus(QStringLiteral("Trim saved. Undo available."));
    setIsTrimming(false);
    co_return final;
}

void EditingCommands::cancel()
{
    m_trimmer->cancel();
    // A running analysis sees this when it resumes and stores nothing.
    ++m_cancellations;
}

QCoro::Task<> EditingCommands::undoSavedTrim(RecordingItem item)
{
    if (!m_trimUndo->canUndo(item)) {
        m_context.setStatus(QStringLiteral("No saved trim to undo."));
        co_return;
    }
    const auto undo = *m_trimUndo->value();
    if (const auto error = LibraryFileMoves::trashWithSidecar(undo.trimmedURL, m_trash)) {
        m_context.setStatus(*error);
        co_return;
    }
    m_trimUndo->set(std::nullopt);
    m_context.setStatus(QStringLiteral("Trim undone"));
    // A temporary inside a co_await expression is destroyed twice by GCC 12: name it.
    std::optional<QString> select;
    if (QFileInfo::exists(undo.originalURL))
        select = undo.originalURL;
    co_await m_context.refresh(select);
}

QCoro::Task<> EditingCommands::promptRename(RecordingItem item)
{
    auto question = m_dialogs.askText(QStringLiteral("Rename Recording"),
                                      QStringLiteral("Enter a new filename. The audio extension will be preserved."),
                                      UniqueFileNamer::baseName(item.url));
    QPointer self(this);
    const auto answer = co_await std::move(question);
    if (self && answer)
        co_await rename(std::move(item), answer->trimmed());
}

QCoro::Task<std::optional<QString>> EditingCommands::rename(RecordingItem item, QString name)
{
    // A leading dot would hide the file from the library.
    auto clean = UniqueFileNamer::sanitizedBaseName(name);
    while (clean.startsWith(u'.'))
        clean = clean.mid(1).trimmed();
    if (clean.isEmpty()) {
        m_context.setStatus(QStringLiteral("Enter a name before renaming."));
        co_return std::nullopt;
    }
    const auto target = uniqueRenameURL(item.url, clean);
    if (target == item.url)
        co_return target;
    if (!UniqueFileNamer::fitsNameLimit(target)) {
        m_context.setStatus(UniqueFileNamer::nameTooLongMessage(fileName(target)));
        co_return std::nullopt;
    }
    if (refuseRunningTake(item.url))
        co_return std::nullopt;
    QPointer self(this);
    try {
        auto move = BackgroundTask::run([from = item.url, target, files = &m_context.files()] {
            LibraryFileMoves::moveWithSidecar(from, target, *files);
        });
        co_await std::move(move);
    } catch (const std::exception &error) {
        if (self)
            m_context.showFailure(lcLibrary(), error);
        co_return std::nullopt;
    }
    if (!self)
        co_return target;
    m_trimUndo->followRename(item.url, target);
    emit recordingMoved(item.url, target);
    m_context.setStatus(QStringLiteral("Renamed to ") + fileName(target));
    co_await m_context.refresh(target);
    co_return target;
}

QCoro::Task<bool> EditingCommands::deleteRecordings(QVector<RecordingItem> items)
{
    QStringList trashed;
    std::optional<QString> failure;
    for (const auto &item : items) {
        failure = runningTakeRefusal(item.url);
        if (!failure)
            failure = LibraryFileMoves::trashWithSidecar(item.url, m_trash);
        if (failure)
            break;
        trashed << item.url;
    }
    // What already went must not stay listed or undoable.
    m_trimUndo->forgetIfAmong(trashed);
    if (failure)
        m_context.setStatus(*failure);
    else if (!items.isEmpty())
        m_context.setStatus(items.size() == 1 ? QStringLiteral("Moved %1 to Trash").arg(fileName(items.front().url))
                                              : QStringLiteral("Moved %1 recordings to Trash").arg(items.size()));
    if (!trashed.isEmpty())
        co_await m_context.refresh(std::nullopt);
    co_return !failure;
}

QString EditingCommands::uniqueRenameURL(const QString &url, const QString &proposedName)
{
    const auto folder = QFileInfo(url).absolutePath();
    const auto extension = UniqueFileNamer::extension(url);
    const auto candidate = folder + u'/' + proposedName + (extension.isEmpty() ? QString() : u'.' + extension);
    if (candidate == url)
        return candidate;
    return UniqueFileNamer::uniqueURL(folder, proposedName, extension);
}

void EditingCommands::setIsAnalyzing(bool analyzing)
{
    if (analyzing == m_isAnalyzing)
        return;
    m_isAnalyzing = analyzing;
    emit isAnalyzingChanged();
}

void EditingCommands::setIsTrimming(bool trimming)
{
    if (trimming == m_isTrimming)
        return;
    m_isTrimming = trimming;
    emit isTrimmingChanged();
}
