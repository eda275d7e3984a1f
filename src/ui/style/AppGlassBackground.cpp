#include "ui/style/AppGlassBackground.h"

#include "ui/style/GothicBackdrop.h"
#include "ui/style/VespertoneTheme.h"

#include <QPainter>
#include <QRadialGradient>

namespace Theme = VespertoneTheme;

AppGlassBackground::AppGlassBackground(AppThemeChoice theme, QWidget *parent) : QWidget(parent), m_theme(theme)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void AppGlassBackground::setTheme(AppThemeChoice theme)
{
    m_theme = theme;
    m_cache = {};
    update();
}

void AppGlassBackground::paint(QPainter &painter, const QRectF &area, AppThemeChoice theme)
{
    const bool gothic = theme == AppThemeChoice::gothic;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    // Nothing shows through a Linux window, so the blur material lies on the deep background.
    painter.fillRect(area, Theme::color(gothic ? Theme::ink : Theme::studioInk));
    auto material = Theme::material(Theme::Material::underWindowBackground);
    material.setAlphaF(material.alphaF() * Theme::backgroundBlurOpacity(theme));
    painter.fillRect(area, material);

    const auto glow = Theme::backgroundGlow(theme);
    QRadialGradient radial(area.topRight(), glow.endRadius);
    // Inside the start radius the first colour holds.
    QGradientStops stops;
    const double start = glow.startRadius / glow.endRadius;
    for (const auto &[at, color] : glow.stops)
        stops.append({start + at * (1 - start), color});
    stops.prepend({0, glow.stops.front().second});
    radial.setStops(stops);
    painter.fillRect(area, radial);

    QLinearGradient shade(area.topLeft(), area.bottomRight());
    shade.setStops(Theme::backgroundShade(theme));
    painter.fillRect(area, shade);
    if (gothic) {
        GothicBackdrop::paint(painter, area);
    } else {
        auto veil = Theme::material(Theme::Material::ultraThin);
        veil.setAlphaF(veil.alphaF() * Theme::studioBackgroundVeilOpacity);
        painter.fillRect(area, veil);
    }
    painter.restore();
}

void AppGlassBackground::paintEvent(QPaintEvent *)
{
    const double scale = devicePixelRatioF();
    if (m_cache.size() != size() * scale || m_cache.devicePixelRatio() != scale) {
        m_cache = QPixmap(size() * scale);
        m_cache.setDevicePixelRatio(scale);
        QPainter cache(&m_cache);
        paint(cache, QRectF(rect()), m_theme);
    }
    QPainter painter(this);
    painter.drawPixmap(0, 0, m_cache);
}
