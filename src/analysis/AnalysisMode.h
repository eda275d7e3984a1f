#pragma once

#include <QString>
#include <array>
#include <optional>

/// Which analysis finds tempo and key: the standard one, or the precise one that also says how
/// sure it is and what else the tempo and key could be.
enum class AnalysisMode { standard, precise };

namespace AnalysisModes {
/// Every mode, in picker order.
inline constexpr std::array all{AnalysisMode::standard, AnalysisMode::precise};

/// The case name, as stored in settings.
[[nodiscard]] QString rawValue(AnalysisMode mode);
/// Exactly the raw names, case-sensitive.
[[nodiscard]] std::optional<AnalysisMode> fromRawValue(const QString &raw);
/// The picker text, "Standard" or "Precise".
[[nodiscard]] QString title(AnalysisMode mode);
} // namespace AnalysisModes
