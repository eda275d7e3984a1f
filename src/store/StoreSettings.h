#pragma once

#include "analysis/AnalysisMode.h"
#include "base/AudioBitRate.h"
#include "capture/RecordingOutputFormat.h"
#include "platform/FileOperations.h"

#include <QString>
#include <QVariant>
#include <optional>

class QSettings;

/// Every setting the program keeps, each read with its fallback and written back at once
/// (QSettings syncs the file before it replaces the old one; the folder is synced after);
/// a write that does not reach the disk throws AppError.
class StoreSettings {
public:
    static constexpr auto formatKey = "Vespertone.RecordingFormat";
    static constexpr auto bitRateKey = "Vespertone.AACBitRate";
    static constexpr auto themeKey = "Vespertone.AppearanceTheme";
    static constexpr auto sortColumnKey = "Vespertone.SidebarSortColumn";
    static constexpr auto sortAscendingKey = "Vespertone.SidebarSortAscending";
    static constexpr auto toggleRecordingHotKeyKey = "Vespertone.HotKey.ToggleRecording";
    static constexpr auto openLibraryHotKeyKey = "Vespertone.HotKey.OpenLibrary";
    static constexpr auto analysisModeKey = "Vespertone.AnalysisMode";

    /// \a settings and \a files outlive this object.
    explicit StoreSettings(QSettings &settings, FileOperations &files = FileOperations::system())
        : m_settings(settings), m_files(files)
    {}

    /// The stored format; "aacM4A" when absent or unknown.
    [[nodiscard]] RecordingOutputFormat recordingFormat() const;
    void setRecordingFormat(RecordingOutputFormat format);
    /// The stored bit rate; 192000 when absent or not one of the four rates.
    [[nodiscard]] AudioBitRate aacBitRate() const;
    void setAacBitRate(AudioBitRate rate);
    /// The analysis tempo and key come from; standard when absent or unknown.
    [[nodiscard]] AnalysisMode analysisMode() const;
    void setAnalysisMode(AnalysisMode mode);
    /// The library folder: \a override when given, else the stored one, else the default.
    [[nodiscard]] QString saveFolder(const std::optional<QString> &override) const;
    /// Stores \a folder as the library folder.
    void setSaveFolder(const QString &folder);
    /// The raw text stored under \a key; empty when absent.
    [[nodiscard]] QString text(const char *key) const;
    void setText(const char *key, const QString &value);
    /// The boolean stored under \a key, else \a fallback.
    [[nodiscard]] bool flag(const char *key, bool fallback) const;
    void setFlag(const char *key, bool value);
    /// The binary value stored under \a key; empty when absent.
    [[nodiscard]] QByteArray data(const char *key) const;
    void setData(const char *key, const QByteArray &value);
    /// Removes \a key.
    void remove(const char *key);

private:
    void write(const char *key, const QVariant &value);
    /// Throws unless the last sync reached the disk, its folder included.
    void checkSynced();

    QSettings &m_settings;
    FileOperations &m_files;
};
