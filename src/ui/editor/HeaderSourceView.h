#pragma once

#include "library/RecordingSourceContext.h"
#include "ui/style/AppThemeChoice.h"

#include <QAbstractButton>
#include <QSet>
#include <QUrl>
#include <optional>

/// The editor header's line saying where a recording's sound came from; with a source URL it
/// is a button that asks to open it.
class HeaderSourceView : public QAbstractButton {
    Q_OBJECT
public:
    explicit HeaderSourceView(QWidget *parent = nullptr);

    /// Shows \a source; a source of an application in \a ignoredBundleIdentifiers counts as none.
    void setSource(const std::optional<RecordingSourceContext> &source,
                   const QSet<QString> &ignoredBundleIdentifiers = {});
    void setTheme(AppThemeChoice theme);
    /// True when the line opens a URL.
    [[nodiscard]] bool hasURL() const { return m_hasURL; }

    /// "Source: Firefox - example.com", "Source: Music - Track title" or "Source: not captured".
    [[nodiscard]] static QString sourceText(const std::optional<RecordingSourceContext> &source,
                                            const QSet<QString> &ignoredBundleIdentifiers = {});
    /// The source's URL when its text parses as one with a scheme.
    [[nodiscard]] static std::optional<QUrl> sourceURL(const RecordingSourceContext &source);

    [[nodiscard]] QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    bool m_hasURL = false;
    AppThemeChoice m_theme = AppThemeChoice::gothic;
};
