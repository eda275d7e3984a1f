#include "ToolCommand.h"

#include "AnalysisJson.h"
#include "analysis/AudioAnalyzer.h"
#include "analysis/LoopFinderService.h"
#include "analysis/PreciseAnalyzer.h"
#include "analysis/WaveformService.h"
#include "library/MetadataStore.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <charconv>
#include <cmath>

namespace {

constexpr int editorEnvelopeSize = WaveformService::editorPeakCount;
constexpr int editorLoopLimit = 6;

/// The float's shortest decimal form as a double, so JSON shows 0.1 rather than 0.100000001.
double shortestDouble(float value)
{
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, value);
    double converted = value;
    std::from_chars(text, result.ptr, converted);
    return converted;
}

/// The single FILE argument, made absolute; none (after reporting) when missing or extra.
std::optional<QString> fileArgument(ToolContext &context, const QString &command)
{
    if (context.arguments().size() != 1 || context.arguments().first().startsWith(QLatin1String("--"))) {
        context.usage(QStringLiteral("%1 takes one audio file.").arg(command));
        return std::nullopt;
    }
    return QFileInfo(context.arguments().first()).absoluteFilePath();
}

/// The value of \a option as a number; false (after reporting) when present but not a positive number.
template <typename T>
bool numberOption(ToolContext &context, const QString &option, std::optional<T> &value)
{
    const auto text = context.takeOption(option);
    if (!text)
        return true;
    bool ok = false;
    if constexpr (std::is_same_v<T, int>)
        value = text->toInt(&ok);
    else
        value = text->toDouble(&ok);
    if (!ok || !std::isfinite(double(*value)))
        context.usage(QStringLiteral("%1 needs a number, not “%2”.").arg(option, *text));
    else if (*value <= 0)
        context.usage(QStringLiteral("%1 needs a positive number, not “%2”.").arg(option, *text));
    else
        return true;
    return false;
}

void printJson(ToolContext &context, const QJsonDocument &document)
{
    context.out() << document.toJson(QJsonDocument::Indented);
}

QCoro::Task<int> probe(ToolContext &context)
{
    const bool precise = context.takeFlag(QStringLiteral("--precise"));
    const auto file = fileArgument(context, QStringLiteral("probe"));
    if (!file)
        co_return 2;
    AudioAnalysisResult result;
    if (precise) {
        auto analysis = PreciseAnalyzer::analyze(*file);
        result = co_await std::move(analysis);
    } else {
        AudioAnalyzer analyzer;
        auto analysis = analyzer.analyze(*file);
        result = co_await std::move(analysis);
    }
    QJsonObject object{{QStringLiteral("duration"), result.duration}};
    if (result.bpm)
        object.insert(QStringLiteral("bpm"), *result.bpm);
    if (result.musicalKey)
        object.insert(QStringLiteral("musicalKey"), *result.musicalKey);
    insertConfidences(object, result.bpmConfidence, result.bpmAlternatives, result.keyConfidence,
                      result.keyAlternatives);
    printJson(context, QJsonDocument(object));
    co_return 0;
}

QCoro::Task<int> peaks(ToolContext &context)
{
    std::optional<int> target;
    if (!numberOption(context, QStringLiteral("--target"), target))
        co_return 2;
    const auto file = fileArgument(context, QStringLiteral("peaks"));
    if (!file)
        co_return 2;
    // The editor's envelope is the one a library remembers.
    QVector<float> envelope;
    if (target.value_or(editorEnvelopeSize) == WaveformService::editorPeakCount) {
        WaveformService waveforms;
        envelope = co_await waveforms.peaks(*file);
    } else {
        AudioAnalyzer analyzer;
        envelope = co_await analyzer.waveformPeaks(*file, *target);
    }
    QJsonArray values;
    for (const float value : envelope)
        values.append(shortestDouble(value));
    printJson(context, QJsonDocument(values));
    co_return 0;
}

QCoro::Task<int> loops(ToolContext &context)
{
    std::optional<int> limit;
    std::optional<double> bpm;
    if (!numberOption(context, QStringLiteral("--limit"), limit)
        || !numberOption(context, QStringLiteral("--bpm"), bpm))
        co_return 2;
    const auto file = fileArgument(context, QStringLiteral("loops"));
    if (!file)
        co_return 2;
    if (!bpm) {
        if (const auto metadata = MetadataStore::load(*file))
            bpm = metadata->bpm;
    }
    WaveformService waveforms;
    const auto envelope = co_await waveforms.peaks(*file);
    const double duration = AudioAnalyzer::duration(*file);
    LoopFinderService finder;
    const auto suggestions = co_await finder.findLoops(envelope, duration, bpm, limit.value_or(editorLoopLimit));
    QJsonArray array;
    for (const auto &suggestion : suggestions)
        array.append(QJsonObject{{QStringLiteral("start"), suggestion.start},
                                 {QStringLiteral("end"), suggestion.end},
                                 {QStringLiteral("confidence"), suggestion.confidence}});
    printJson(context, QJsonDocument(array));
    co_return 0;
}

} // namespace

std::vector<ToolCommand> analysisCommands()
{
    return {
        {QStringLiteral("probe"), QStringLiteral("probe FILE [--precise]"),
         QStringLiteral("Prints the duration, tempo and key of FILE as JSON; writes nothing. --precise uses the "
                        "precise analysis, which adds the confidences (0 to 1) and the alternatives it weighed."),
         probe},
        {QStringLiteral("peaks"), QStringLiteral("peaks FILE [--target N]"),
         QStringLiteral("Prints the normalised peak envelope of FILE (default 1100 values) as a JSON array."), peaks},
        {QStringLiteral("loops"), QStringLiteral("loops FILE [--limit N] [--bpm X]"),
         QStringLiteral("Prints loop suggestions for FILE, best first, as a JSON array (tempo from --bpm or the "
                        "sidecar)."),
         loops},
    };
}
