#pragma once

#include "ui/style/AppThemeChoice.h"

#include <QBrush>
#include <QColor>
#include <QPalette>
#include <QPointF>
#include <QPolygonF>
#include <QSizeF>

/// The palette of both themes and the numbers of their panels, buttons and backgrounds.
namespace VespertoneTheme {

/// An sRGB colour at full opacity, components 0...1.
struct Rgb {
    double red;
    double green;
    double blue;
};

inline constexpr Rgb ink{0.025, 0.018, 0.035};            ///< gothic deep background
inline constexpr Rgb midnight{0.055, 0.035, 0.075};       ///< gothic background gradient
inline constexpr Rgb plum{0.18, 0.07, 0.28};              ///< gothic panel tint, background gradient
inline constexpr Rgb violet{0.54, 0.18, 0.96};            ///< gothic accent and tint
inline constexpr Rgb violetHot{0.86, 0.42, 1.0};          ///< gothic highlights, selected icons
inline constexpr Rgb lavender{0.78, 0.58, 1.0};           ///< gothic active headers, clock, logo
inline constexpr Rgb bone{0.87, 0.82, 0.92};              ///< gothic primary text
inline constexpr Rgb dimBone{0.58, 0.50, 0.68};           ///< gothic secondary text
inline constexpr Rgb studioInk{0.012, 0.014, 0.018};      ///< studio deep background
inline constexpr Rgb studioBlack{0.026, 0.030, 0.038};    ///< studio background
inline constexpr Rgb studioGraphite{0.075, 0.082, 0.095}; ///< studio panel tint
inline constexpr Rgb studioAccent{0.34, 0.58, 1.0};       ///< studio accent and tint
inline constexpr Rgb studioGlow{0.25, 0.42, 0.78};        ///< studio glow
inline constexpr Rgb studioSlate{0.07, 0.10, 0.16};       ///< studio waveform surface, top
inline constexpr Rgb studioSlateLight{0.10, 0.14, 0.22};  ///< studio waveform surface, bottom
inline constexpr Rgb studioLiveSurface{0.08, 0.10, 0.14}; ///< studio live waveform surface
inline constexpr Rgb recording{1.0, 0.23, 0.19};          ///< a running take
inline constexpr Rgb recordingPressed{0.84, 0.16, 0.13};  ///< the Stop button held down
inline constexpr Rgb destructive{1.0, 0.41, 0.38};        ///< the text and border of buttons that delete
inline constexpr Rgb destructiveFill{1.0, 0.27, 0.23};    ///< their fill
inline constexpr Rgb white{1, 1, 1};
inline constexpr Rgb black{0, 0, 0};

/// \a rgb at \a opacity.
[[nodiscard]] QColor color(Rgb rgb, double opacity = 1);
/// \a color as a style sheet writes it.
[[nodiscard]] QString styleSheetColor(const QColor &color);
/// Primary text of the window's dark appearance.
[[nodiscard]] QColor primaryText();
/// Secondary text of the window's dark appearance.
[[nodiscard]] QColor secondaryText();
/// The dark appearance every window, dialog, menu and tooltip takes whatever the desktop's
/// setting, accented for \a theme.
[[nodiscard]] QPalette darkAppearance(AppThemeChoice theme);
/// The surface of dialogs, menus, tooltips and popups.
[[nodiscard]] QColor surface(AppThemeChoice theme);
/// Text fields and lists on that surface.
[[nodiscard]] QColor field(AppThemeChoice theme);
/// Buttons and combo boxes on that surface.
[[nodiscard]] QColor control(AppThemeChoice theme);
/// The hairline round menus, tooltips, popups and fields, and a menu's dividers.
[[nodiscard]] QColor hairline(AppThemeChoice theme);
/// The red of a running take.
[[nodiscard]] QColor recordingRed(double opacity = 1);
/// The accent of lists and controls: violet (gothic) or the studio accent.
[[nodiscard]] QColor accent(AppThemeChoice theme);
/// Symbols and labels drawn on the toolbar's faces.
[[nodiscard]] QColor toolbarGlyph();
/// The faint divider between a toolbar face and its menu chevron.
[[nodiscard]] QColor toolbarDivider();
/// The menu chevron on a toolbar face.
[[nodiscard]] QColor toolbarChevron();
/// The window's toolbar icons, \a enabled or not.
[[nodiscard]] QColor toolbarIcon(bool enabled);
/// The wash under a toolbar button that is hovered, focused or \a pressed.
[[nodiscard]] QColor toolbarHover(bool pressed);
/// The fill of the settings window's buttons and fields.
[[nodiscard]] QColor settingsControl(AppThemeChoice theme);
/// The handle of the sidebar's scroll bar.
[[nodiscard]] QColor scrollHandle();

/// The translucent surfaces that stand in for the desktop's blur materials.
enum class Material { sidebar, underWindowBackground, thin, ultraThin };
/// The surface colour of \a material on the dark appearance.
[[nodiscard]] QColor material(Material material);

/// A blurred shadow: colour, blur radius and offset.
struct Shadow {
    QColor color;
    double radius;
    QPointF offset;
};

/// Where a themed panel is used; each use has its own numbers per theme.
enum class PanelUse { statusPill, emptyAndMultiSelection, liveWaveform, settingsForm, controlRail, chip };
/// The numbers of one panel; the shadow opacity is the glow opacity in the gothic theme.
struct PanelParameters {
    double cornerRadius; ///< 0 for the control rail, whose user gives it
    Material material;
    double tintOpacity;
    double borderOpacity;
    double shadowOpacity;
};
[[nodiscard]] PanelParameters panel(PanelUse use, AppThemeChoice theme);
/// Padding of the control rail's content on every side.
inline constexpr double controlRailPadding = 7;
/// Corners of the studio theme's rail buttons and of form buttons and fields.
inline constexpr double controlCornerRadius = 6;
/// Corners of the toolbar's buttons.
inline constexpr double toolbarButtonCornerRadius = 8;
/// Corners of the editor's waveform surface.
inline constexpr double waveformSurfaceRadius = 12;
/// Corners of the running take's waveform canvas.
inline constexpr double liveWaveformCanvasRadius = 8;
/// Opacity of a chip whose figure the analysis is unsure of.
inline constexpr double dimmedChipOpacity = 0.55;

/// Studio-glass panel layers, each a top-leading to bottom-trailing gradient.
[[nodiscard]] QGradientStops glassPanelFill(double tintOpacity);
[[nodiscard]] QGradientStops glassPanelBorder(double borderOpacity);
/// The glossy 1-point highlight, blended in screen mode.
[[nodiscard]] QGradientStops glassPanelHighlight();
[[nodiscard]] Shadow glassPanelGlow(double shadowOpacity);
[[nodiscard]] Shadow glassPanelDropShadow(double shadowOpacity);
inline constexpr double glassPanelBorderWidth = 1;

/// Gothic panel layers, each a top-leading to bottom-trailing gradient.
[[nodiscard]] QGradientStops gothicPanelFill(double tintOpacity);
[[nodiscard]] QGradientStops gothicPanelBorder(double borderOpacity);
[[nodiscard]] Shadow gothicPanelGlow(double glowOpacity);
[[nodiscard]] Shadow gothicPanelDropShadow();
inline constexpr double gothicPanelBorderWidth = 1.2;

/// Everything the gothic control button draws in one state.
struct GothicButtonLook {
    QColor label;
    QColor fill;          ///< the rounded shape's base fill
    QGradientStops sheen; ///< over the fill
    QGradientStops border;
    Shadow shadow;
    double opacity; ///< of the whole button
};
[[nodiscard]] GothicButtonLook gothicButton(bool enabled, bool active, bool pressed);
inline constexpr double gothicButtonCornerRadius = 7;
inline constexpr double gothicButtonMinimumHeight = 27;

/// A radial gradient centred on the window's top-trailing corner.
struct RadialLayer {
    double startRadius;
    double endRadius;
    QGradientStops stops;
};
/// Opacity of the blurred under-window material behind the window background.
[[nodiscard]] double backgroundBlurOpacity(AppThemeChoice theme);
[[nodiscard]] RadialLayer backgroundGlow(AppThemeChoice theme);
/// The top-leading to bottom-trailing shade over the glow.
[[nodiscard]] QGradientStops backgroundShade(AppThemeChoice theme);
/// Opacity of the ultra-thin material over the studio-glass background.
inline constexpr double studioBackgroundVeilOpacity = 0.18;

/// Opacity of the sidebar material under the sidebar gradient.
[[nodiscard]] double sidebarBlurOpacity(AppThemeChoice theme);
/// The sidebar's top-to-bottom gradient.
[[nodiscard]] QGradientStops sidebarGradient(AppThemeChoice theme);

/// The skyline outline in a \a size rectangle, y downwards, closed.
[[nodiscard]] QPolygonF gothicHorizon(QSizeF size);

} // namespace VespertoneTheme
