#include "AnalysisJson.h"

#include <QJsonArray>

void insertConfidences(QJsonObject &object, std::optional<double> bpmConfidence,
                       const QVector<TempoCandidate> &bpmAlternatives, std::optional<double> keyConfidence,
                       const QVector<KeyCandidate> &keyAlternatives)
{
    if (bpmConfidence)
        object.insert(QStringLiteral("bpmConfidence"), *bpmConfidence);
    if (!bpmAlternatives.isEmpty()) {
        QJsonArray tempi;
        for (const auto &alternative : bpmAlternatives)
            tempi.append(QJsonObject{{QStringLiteral("bpm"), alternative.bpm},
                                     {QStringLiteral("confidence"), alternative.confidence}});
        object.insert(QStringLiteral("bpmAlternatives"), tempi);
    }
    if (keyConfidence)
        object.insert(QStringLiteral("keyConfidence"), *keyConfidence);
    if (!keyAlternatives.isEmpty()) {
        QJsonArray keys;
        for (const auto &alternative : keyAlternatives)
            keys.append(QJsonObject{{QStringLiteral("musicalKey"), alternative.musicalKey},
                                    {QStringLiteral("confidence"), alternative.confidence}});
        object.insert(QStringLiteral("keyAlternatives"), keys);
    }
}
