#include "store/StoreSettings.h"

#include "base/AppError.h"
#include "base/NumberRange.h"
#include "library/FolderAccess.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>

RecordingOutputFormat StoreSettings::recordingFormat() const
{
    return RecordingOutputFormats::fromRawValue(text(formatKey)).value_or(RecordingOutputFormat::aacM4A);
}

void StoreSettings::setRecordingFormat(RecordingOutputFormat format)
{
    setText(formatKey, RecordingOutputFormats::rawValue(format));
}

AudioBitRate StoreSettings::aacBitRate() const
{
    const auto raw = NumberRange::integerSetting(m_settings.value(QLatin1String(bitRateKey)));
    return (raw ? AudioBitRates::fromRawValue(*raw) : std::nullopt).value_or(AudioBitRate::kbps192);
}

void StoreSettings::setAacBitRate(AudioBitRate rate)
{
    write(bitRateKey, qint64(AudioBitRates::rawValue(rate)));
}

AnalysisMode StoreSettings::analysisMode() const
{
    return AnalysisModes::fromRawValue(text(analysisModeKey)).value_or(AnalysisMode::standard);
}

void StoreSettings::setAnalysisMode(AnalysisMode mode)
{
    setText(analysisModeKey, AnalysisModes::rawValue(mode));
}

QString StoreSettings::saveFolder(const std::optional<QString> &override) const
{
    if (override)
        return QDir::cleanPath(QDir(*override).absolutePath());
    return FolderAccess::resolveSavedFolder(m_settings);
}

void StoreSettings::setSaveFolder(const QString &folder)
{
    setText(FolderAccess::pathKey, folder);
}

QString StoreSettings::text(const char *key) const
{
    return m_settings.value(QLatin1String(key)).toString();
}

void StoreSettings::setText(const char *key, const QString &value)
{
    write(key, value);
}

bool StoreSettings::flag(const char *key, bool fallback) const
{
    return m_settings.value(QLatin1String(key), fallback).toBool();
}

void StoreSettings::setFlag(const char *key, bool value)
{
    write(key, value);
}

QByteArray StoreSettings::data(const char *key) const
{
    return m_settings.value(QLatin1String(key)).toByteArray();
}

void StoreSettings::setData(const char *key, const QByteArray &value)
{
    write(key, value);
}

void StoreSettings::remove(const char *key)
{
    m_settings.remove(QLatin1String(key));
    checkSynced();
}

void StoreSettings::write(const char *key, const QVariant &value)
{
    m_settings.setValue(QLatin1String(key), value);
    checkSynced();
}

void StoreSettings::checkSynced()
{
    m_settings.sync();
    if (m_settings.status() != QSettings::NoError
        || m_files.syncFolder(QFileInfo(m_settings.fileName()).absolutePath()) != 0)
        throw AppError(QStringLiteral("The settings could not be saved."));
}
