#include "ui/editor/HeaderSourceView.h"

#include "ui/style/TextStyles.h"
#include "ui/style/VespertoneTheme.h"

#include <QPainter>
#include <QPainterPath>
#include <QUrl>

namespace {
constexpr double symbolSize = 12;
constexpr int spacing = 5;

bool counts(const std::optional<RecordingSourceContext> &source, const QSet<QString> &ignored)
{
    return source && !(source->bundleIdentifier && ignored.contains(*source->bundleIdentifier));
}
} // namespace

HeaderSourceView::HeaderSourceView(QWidget *parent) : QAbstractButton(parent)
{
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    setText(sourceText(std::nullopt));
}

std::optional<QUrl> HeaderSourceView::sourceURL(const RecordingSourceContext &source)
{
    if (!source.urlString)
        return std::nullopt;
    const QUrl url(*source.urlString, QUrl::StrictMode);
    if (!url.isValid() || url.scheme().isEmpty())
        return std::nullopt;
    return url;
}

QString HeaderSourceView::sourceText(const std::optional<RecordingSourceContext> &source,
                                     const QSet<QString> &ignoredBundleIdentifiers)
{
    if (!counts(source, ignoredBundleIdentifiers))
        return QStringLiteral("Source: not captured");
    const auto app = source->appName.value_or(QStringLiteral("Unknown app"));
    if (const auto url = sourceURL(*source)) {
        const auto host = url->host();
        return QStringLiteral("Source: ") + app + QStringLiteral(" - ") + (host.isEmpty() ? *source->urlString : host);
    }
    return QStringLiteral("Source: ") + app + QStringLiteral(" - ") + source->displayTitle();
}

void HeaderSourceView::setSource(const std::optional<RecordingSourceContext> &source,
                                 const QSet<QString> &ignoredBundleIdentifiers)
{
    m_hasURL = counts(source, ignoredBundleIdentifiers) && sourceURL(*source).has_value();
    setText(sourceText(source, ignoredBundleIdentifiers));
    setEnabled(m_hasURL);
    setCursor(m_hasURL ? Qt::PointingHandCursor : Qt::ArrowCursor);
    setToolTip(m_hasURL ? QStringLiteral("Open source URL") : QString());
    setAccessibleName(text());
    updateGeometry();
    update();
}

void HeaderSourceView::setTheme(AppThemeChoice theme)
{
    m_theme = theme;
    update();
}

QSize HeaderSourceView::sizeHint() const
{
    const QFontMetrics metrics(TextStyles::caption(QFont::Medium));
    return {int(symbolSize) + spacing + metrics.horizontalAdvance(text()) + 2, std::max(metrics.height(), 16)};
}

void HeaderSourceView::paintEvent(QPaintEvent *)
{
    using namespace VespertoneTheme;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    auto tint =
        m_hasURL ? (m_theme == AppThemeChoice::gothic ? color(lavender) : color(studioAccent)) : secondaryText();
    if (isDown())
        tint = tint.lighter(130);
    const QRectF box(0, (height() - symbolSize) / 2, symbolSize, symbolSize);
    painter.setPen(QPen(tint, 1.4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(Qt::NoBrush);
    if (m_hasURL) {
        // Two chain links.
        painter.save();
        painter.translate(box.center());
        painter.rotate(-45);
        painter.drawRoundedRect(QRectF(-symbolSize * 0.55, -symbolSize * 0.2, symbolSize * 0.6, symbolSize * 0.4), 3,
                                3);
        painter.drawRoundedRect(QRectF(-symbolSize * 0.05, -symbolSize * 0.2, symbolSize * 0.6, symbolSize * 0.4), 3,
                                3);
        painter.restore();
    } else {
        auto pen = painter.pen();
        pen.setStyle(Qt::DashLine);
        pen.setDashPattern({1.5, 1.5});
        painter.setPen(pen);
        painter.drawRoundedRect(box.adjusted(1, 1, -1, -1), 3, 3);
    }
    painter.setFont(TextStyles::caption(QFont::Medium));
    painter.setPen(tint);
    const QRectF textBox(box.right() + spacing, 0, width() - box.right() - spacing, height());
    painter.drawText(textBox, Qt::AlignLeft | Qt::AlignVCenter,
                     painter.fontMetrics().elidedText(text(), Qt::ElideRight, int(textBox.width())));
}
