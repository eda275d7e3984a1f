#include "ui/library/StatusPill.h"

#include "ui/common/BusySpinner.h"
#include "ui/style/PanelPainter.h"
#include "ui/style/TextStyles.h"

#include <QEvent>
#include <QFontMetricsF>
#include <QPainter>

namespace {
constexpr double horizontalPadding = 14;
constexpr double verticalPadding = 9;
constexpr double spacing = 9;
constexpr double spinnerSize = 14;
constexpr double pillMaximumWidth = 520;
constexpr double bottomInset = 18;
constexpr int transitionMs = 180;
} // namespace

StatusPill::StatusPill(AppThemeChoice theme, QWidget *parent) : QWidget(parent), m_theme(theme)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::NoFocus);
    hide();
    parent->installEventFilter(this);
    for (auto *animation : {&m_presenceAnimation, &m_widthAnimation}) {
        animation->setDuration(transitionMs);
        animation->setEasingCurve(QEasingCurve::InOutQuad);
    }
    connect(&m_presenceAnimation, &QVariantAnimation::valueChanged, this, [this](const QVariant &value) {
        m_presence = value.toDouble();
        place();
    });
    connect(&m_presenceAnimation, &QVariantAnimation::finished, this, [this] {
        if (!m_wanted) {
            hide();
            m_spinnerTimer.stop();
        }
    });
    connect(&m_widthAnimation, &QVariantAnimation::valueChanged, this, [this](const QVariant &value) {
        m_panelWidth = value.toDouble();
        place();
    });
    m_spinnerTimer.setInterval(100);
    connect(&m_spinnerTimer, &QTimer::timeout, this, [this] {
        m_spinnerStep = (m_spinnerStep + 1) % 8;
        update();
    });
}

void StatusPill::setMessage(const std::optional<QString> &message)
{
    const auto text = message.value_or(QString());
    if (text.isEmpty()) {
        animateTo(false);
        return;
    }
    m_text = text;
    setAccessibleName(text);
    animateTo(true);
}

void StatusPill::setBusy(bool busy)
{
    if (m_busy == busy)
        return;
    m_busy = busy;
    if (busy)
        m_spinnerTimer.start();
    else
        m_spinnerTimer.stop();
    animateTo(m_wanted);
}

void StatusPill::setTheme(AppThemeChoice theme)
{
    m_theme = theme;
    place();
}

QSizeF StatusPill::panelSize() const
{
    const QFontMetricsF metrics(TextStyles::callout(QFont::Medium));
    const double content = metrics.horizontalAdvance(m_text) + (m_busy ? spinnerSize + spacing : 0);
    return {std::min(pillMaximumWidth, content + 2 * horizontalPadding),
            std::max(metrics.height(), spinnerSize) + 2 * verticalPadding};
}

QString StatusPill::shownText() const
{
    const auto room = m_panelWidth - 2 * horizontalPadding - (m_busy ? spinnerSize + spacing : 0);
    return QFontMetricsF(TextStyles::callout(QFont::Medium)).elidedText(m_text, Qt::ElideMiddle, room);
}

void StatusPill::animateTo(bool present)
{
    const double width = panelSize().width();
    if (present && m_wanted && isVisible()) {
        // Already in place: a longer text widens the pill at once, so it never shows cut; a
        // shorter one fits the wider pill while it narrows.
        m_widthAnimation.stop();
        if (width > m_panelWidth) {
            m_panelWidth = width;
            place();
        } else {
            m_widthAnimation.setStartValue(m_panelWidth);
            m_widthAnimation.setEndValue(width);
            m_widthAnimation.start();
        }
    } else if (present) {
        m_panelWidth = width;
    }
    if (present == m_wanted && (isVisible() || !present))
        return;
    m_wanted = present;
    if (present) {
        show();
        raise();
        if (m_busy)
            m_spinnerTimer.start();
    }
    m_presenceAnimation.stop();
    m_presenceAnimation.setStartValue(m_presence);
    m_presenceAnimation.setEndValue(present ? 1.0 : 0.0);
    m_presenceAnimation.start();
    place();
}

void StatusPill::place()
{
    const auto margins = PanelPainter::shadowMargins(m_theme);
    const QSizeF panel(m_panelWidth, panelSize().height());
    const QSizeF outer = panel.grownBy(margins);
    const auto *host = parentWidget();
    // Away, the pill sits just below the bottom edge; in place, 18 points above it.
    const double restingTop = host->height() - bottomInset - panel.height() - margins.top();
    const double awayTop = host->height() - margins.top();
    const double top = awayTop + (restingTop - awayTop) * m_presence;
    setGeometry(QRectF(QPointF((host->width() - outer.width()) / 2, top), outer).toAlignedRect());
    update();
}

bool StatusPill::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == parentWidget() && event->type() == QEvent::Resize)
        place();
    return QWidget::eventFilter(watched, event);
}

void StatusPill::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setOpacity(m_presence);
    const auto margins = PanelPainter::shadowMargins(m_theme);
    const QRectF panel(margins.left(), margins.top(), m_panelWidth, panelSize().height());
    const auto parameters = VespertoneTheme::panel(VespertoneTheme::PanelUse::statusPill, m_theme);
    PanelPainter::paintBackground(painter, panel, parameters, m_theme);
    auto content = panel.adjusted(horizontalPadding, verticalPadding, -horizontalPadding, -verticalPadding);
    const auto textColor = VespertoneTheme::primaryText();
    if (m_busy) {
        BusySpinner::paint(painter,
                           QRectF(content.left(), content.center().y() - spinnerSize / 2, spinnerSize, spinnerSize),
                           spinnerSize, m_spinnerStep, textColor);
        content.setLeft(content.left() + spinnerSize + spacing);
    }
    painter.setFont(TextStyles::callout(QFont::Medium));
    painter.setPen(textColor);
    painter.drawText(content, Qt::AlignVCenter | Qt::AlignLeft, shownText());
    PanelPainter::paintBorder(painter, panel, parameters, m_theme);
}
