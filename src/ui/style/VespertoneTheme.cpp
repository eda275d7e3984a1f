#include "ui/style/VespertoneTheme.h"

namespace VespertoneTheme {

namespace {
/// Colours spread evenly from 0 to 1.
QGradientStops evenly(std::initializer_list<QColor> colors)
{
    QGradientStops stops;
    const auto last = double(colors.size() - 1);
    int index = 0;
    for (const auto &stop : colors)
        stops.append({last > 0 ? index++ / last : 0.0, stop});
    return stops;
}

bool gothic(AppThemeChoice theme)
{
    return theme == AppThemeChoice::gothic;
}

/// \a from moved \a amount of the way to \a to, opaque.
QColor mix(const QColor &from, const QColor &to, double amount)
{
    const auto along = [amount](float a, float b) { return float(a + (b - a) * amount); };
    return QColor::fromRgbF(along(from.redF(), to.redF()), along(from.greenF(), to.greenF()),
                            along(from.blueF(), to.blueF()));
}
} // namespace

QColor color(Rgb rgb, double opacity)
{
    return QColor::fromRgbF(float(rgb.red), float(rgb.green), float(rgb.blue), float(opacity));
}

QColor primaryText()
{
    return color(white, 0.85);
}

QColor secondaryText()
{
    return color(white, 0.55);
}

QPalette darkAppearance(AppThemeChoice theme)
{
    const bool g = gothic(theme);
    const auto window = surface(theme);
    const auto button = control(theme);
    const auto primary = g ? color(bone) : primaryText();
    const auto secondary = g ? color(dimBone) : secondaryText();
    QPalette palette(button, window);
    palette.setColor(QPalette::Window, window);
    palette.setColor(QPalette::WindowText, primary);
    palette.setColor(QPalette::Base, field(theme));
    palette.setColor(QPalette::AlternateBase, mix(field(theme), window, 0.5));
    palette.setColor(QPalette::Button, button);
    palette.setColor(QPalette::ButtonText, primary);
    palette.setColor(QPalette::Text, primary);
    palette.setColor(QPalette::BrightText, color(white));
    palette.setColor(QPalette::PlaceholderText, secondary);
    palette.setColor(QPalette::ToolTipBase, window);
    palette.setColor(QPalette::ToolTipText, primary);
    // The style's bevels and outlines: lighter than the controls above, darker below.
    palette.setColor(QPalette::Light, mix(button, color(white), 0.18));
    palette.setColor(QPalette::Midlight, mix(button, color(white), 0.08));
    palette.setColor(QPalette::Mid, mix(window, color(black), 0.3));
    palette.setColor(QPalette::Dark, mix(window, color(black), 0.5));
    palette.setColor(QPalette::Shadow, color(black));
    palette.setColor(QPalette::Highlight, accent(theme));
    palette.setColor(QPalette::HighlightedText, color(white));
    const auto link = g ? color(lavender) : accent(theme).lighter(130);
    palette.setColor(QPalette::Link, link);
    palette.setColor(QPalette::LinkVisited, link);
    const auto disabledText = g ? color(dimBone, 0.7) : color(white, 0.35);
    for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText, QPalette::PlaceholderText})
        palette.setColor(QPalette::Disabled, role, disabledText);
    palette.setColor(QPalette::Disabled, QPalette::Button, mix(button, window, 0.5));
    palette.setColor(QPalette::Disabled, QPalette::Highlight, mix(accent(theme), window, 0.6));
    return palette;
}

QColor surface(AppThemeChoice theme)
{
    return gothic(theme) ? mix(color(midnight), color(plum), 0.3) : mix(color(studioGraphite), color(white), 0.035);
}

QColor field(AppThemeChoice theme)
{
    return gothic(theme) ? mix(color(ink), color(plum), 0.12) : mix(color(studioInk), color(studioGraphite), 0.5);
}

QColor control(AppThemeChoice theme)
{
    return gothic(theme) ? mix(surface(theme), color(violet), 0.16) : mix(surface(theme), color(white), 0.07);
}

QColor hairline(AppThemeChoice theme)
{
    return gothic(theme) ? color(violet, 0.45) : color(white, 0.14);
}

QColor recordingRed(double opacity)
{
    return color(recording, opacity);
}

QColor toolbarGlyph()
{
    return color(white, 0.94);
}

QColor toolbarDivider()
{
    return color(white, 0.14);
}

QColor toolbarChevron()
{
    return color(white, 0.7);
}

QColor toolbarIcon(bool enabled)
{
    return color(white, enabled ? 0.88 : 0.32);
}

QColor toolbarHover(bool pressed)
{
    return color(white, pressed ? 0.14 : 0.08);
}

QColor settingsControl(AppThemeChoice theme)
{
    return color(white, gothic(theme) ? 0.07 : 0.055);
}

QColor scrollHandle()
{
    return color(white, 0.22);
}

QString styleSheetColor(const QColor &color)
{
    return QStringLiteral("rgba(%1,%2,%3,%4)")
        .arg(color.red())
        .arg(color.green())
        .arg(color.blue())
        .arg(color.alphaF(), 0, 'f', 3);
}

QColor accent(AppThemeChoice theme)
{
    return color(gothic(theme) ? violet : studioAccent);
}

QColor material(Material material)
{
    switch (material) {
    case Material::sidebar: return QColor(38, 36, 42, 235);
    case Material::underWindowBackground: return QColor(28, 27, 31, 240);
    case Material::thin: return QColor(48, 46, 52, 200);
    case Material::ultraThin: return QColor(58, 56, 62, 150);
    }
    return QColor(28, 27, 31, 240);
}

PanelParameters panel(PanelUse use, AppThemeChoice theme)
{
    const bool g = gothic(theme);
    switch (use) {
    case PanelUse::statusPill:
        return g ? PanelParameters{18, Material::thin, 0.26, 0.32, 0.22}
                 : PanelParameters{18, Material::thin, 0.10, 0.18, 0.14};
    case PanelUse::emptyAndMultiSelection:
        return g ? PanelParameters{14, Material::thin, 0.26, 0.28, 0.22}
                 : PanelParameters{14, Material::thin, 0.10, 0.16, 0.14};
    case PanelUse::liveWaveform:
        return g ? PanelParameters{14, Material::thin, 0.18, 0.34, 0.22}
                 : PanelParameters{14, Material::thin, 0.06, 0.18, 0.14};
    case PanelUse::settingsForm:
        return g ? PanelParameters{14, Material::thin, 0.22, 0.30, 0.22}
                 : PanelParameters{14, Material::thin, 0.08, 0.16, 0.14};
    case PanelUse::controlRail:
        return g ? PanelParameters{0, Material::thin, 0.30, 0.34, 0.30}
                 : PanelParameters{0, Material::thin, 0.10, 0.18, 0.16};
    case PanelUse::chip:
        return g ? PanelParameters{6, Material::ultraThin, 0.30, 0.34, 0.14}
                 : PanelParameters{6, Material::ultraThin, 0.08, 0.16, 0.08};
    }
    return {14, Material::thin, 0.26, 0.28, 0.22};
}

QGradientStops glassPanelFill(double tintOpacity)
{
    return evenly({color(white, tintOpacity * 0.22), color(studioGraphite, tintOpacity + 0.12),
                   color(black, tintOpacity + 0.28)});
}

QGradientStops glassPanelBorder(double borderOpacity)
{
    return evenly({color(white, borderOpacity * 0.8), color(studioAccent, borderOpacity * 0.38), color(black, 0.46)});
}

QGradientStops glassPanelHighlight()
{
    return evenly({color(white, 0.24), color(white, 0)});
}

Shadow glassPanelGlow(double shadowOpacity)
{
    return {color(studioGlow, shadowOpacity * 0.34), 18, {0, 0}};
}

Shadow glassPanelDropShadow(double shadowOpacity)
{
    return {color(black, shadowOpacity + 0.18), 20, {0, 12}};
}

QGradientStops gothicPanelFill(double tintOpacity)
{
    return evenly({color(plum, tintOpacity), color(ink, tintOpacity + 0.14)});
}

QGradientStops gothicPanelBorder(double borderOpacity)
{
    return evenly({color(violetHot, borderOpacity), color(violet, borderOpacity * 0.72), color(black, 0.54)});
}

Shadow gothicPanelGlow(double glowOpacity)
{
    return {color(violet, glowOpacity), 20, {0, 0}};
}

Shadow gothicPanelDropShadow()
{
    return {color(black, 0.58), 22, {0, 14}};
}

GothicButtonLook gothicButton(bool enabled, bool active, bool pressed)
{
    const bool lit = active && enabled;
    GothicButtonLook look;
    look.label = !enabled ? color(dimBone) : (lit || pressed) ? color(white) : color(white, 0.94);
    look.fill = lit ? color(violet, pressed ? 0.72 : 0.58) : color(ink, pressed ? 0.86 : 0.68);
    look.sheen = evenly({color(white,
                               lit           ? 0.20
                                   : pressed ? 0.14
                                             : 0.08),
                         color(plum,
                               lit           ? 0.34
                                   : pressed ? 0.22
                                             : 0.12),
                         color(black, 0.20)});
    look.border = evenly({color(white,
                                lit           ? 0.54
                                    : enabled ? 0.30
                                              : 0.12),
                          color(violetHot,
                                lit           ? 0.70
                                    : enabled ? 0.34
                                              : 0.12),
                          color(black, 0.30)});
    look.shadow =
        lit ? Shadow{color(violet, 0.42), 12, {0, 0}} : Shadow{color(violet, pressed ? 0.22 : 0.12), 8, {0, 0}};
    look.opacity = enabled ? 1.0 : 0.52;
    return look;
}

double backgroundBlurOpacity(AppThemeChoice theme)
{
    return gothic(theme) ? 0.72 : 1.0;
}

RadialLayer backgroundGlow(AppThemeChoice theme)
{
    if (gothic(theme))
        return {80, 900, evenly({color(plum, 0.72), color(midnight, 0.92), color(ink)})};
    return {90, 760, evenly({color(studioGlow, 0.24), color(studioBlack, 0.88), color(studioInk)})};
}

QGradientStops backgroundShade(AppThemeChoice theme)
{
    if (gothic(theme))
        return evenly({color(black, 0.20), color(violet, 0.12), color(black, 0.46)});
    return evenly({color(black, 0.32), color(studioGraphite, 0.28), color(black, 0.72)});
}

double sidebarBlurOpacity(AppThemeChoice theme)
{
    return gothic(theme) ? 0.70 : 0.82;
}

QGradientStops sidebarGradient(AppThemeChoice theme)
{
    if (gothic(theme))
        return evenly({color(black, 0.72), color(midnight, 0.88), color(black, 0.82)});
    return evenly({color(studioBlack, 0.62), color(studioInk, 0.86)});
}

QPolygonF gothicHorizon(QSizeF size)
{
    static constexpr std::pair<double, double> points[] = {{0, 1},       {0, 0.82},    {0.18, 0.70}, {0.27, 0.30},
                                                           {0.34, 0.70}, {0.48, 0.64}, {0.58, 0.18}, {0.67, 0.62},
                                                           {0.82, 0.54}, {0.91, 0.36}, {1, 0.68},    {1, 1}};
    QPolygonF outline;
    for (const auto &[x, y] : points)
        outline << QPointF(x * size.width(), y * size.height());
    outline << outline.front();
    return outline;
}

} // namespace VespertoneTheme
