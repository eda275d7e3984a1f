#include "analysis/AnalysisMode.h"

#include "base/RawValues.h"

namespace AnalysisModes {

QString rawValue(AnalysisMode mode)
{
    return mode == AnalysisMode::precise ? QStringLiteral("precise") : QStringLiteral("standard");
}

std::optional<AnalysisMode> fromRawValue(const QString &raw)
{
    return caseForRawValue(all, raw, [](auto value) { return rawValue(value); });
}

QString title(AnalysisMode mode)
{
    return mode == AnalysisMode::precise ? QStringLiteral("Precise") : QStringLiteral("Standard");
}

} // namespace AnalysisModes
