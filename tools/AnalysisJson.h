#pragma once

#include "analysis/KeyCandidate.h"
#include "analysis/TempoCandidate.h"

#include <QJsonObject>
#include <QVector>
#include <optional>

/// Adds the precise analysis's figures to \a object under the sidecar's keys: "bpmConfidence",
/// "bpmAlternatives", "keyConfidence" and "keyAlternatives", each only when present.
void insertConfidences(QJsonObject &object, std::optional<double> bpmConfidence,
                       const QVector<TempoCandidate> &bpmAlternatives, std::optional<double> keyConfidence,
                       const QVector<KeyCandidate> &keyAlternatives);
