#include "ui/style/ApplicationAppearance.h"

#include "ui/style/ThemeController.h"
#include "ui/style/VespertoneStyle.h"
#include "ui/style/VespertoneTheme.h"

#include <QApplication>
#include <QToolTip>

ApplicationAppearance::ApplicationAppearance(ThemeController &theme, QObject *parent)
    : QObject(parent), m_style(new VespertoneStyle(theme.theme()))
{
    // The desktop's own file dialog would bring its own colours; Qt's takes ours.
    QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    QApplication::setStyle(m_style);
    apply(theme.theme());
    connect(&theme, &ThemeController::themeChanged, this, &ApplicationAppearance::apply);
}

void ApplicationAppearance::apply(AppThemeChoice theme)
{
    m_style->setTheme(theme);
    const auto palette = VespertoneTheme::darkAppearance(theme);
    // Tooltips keep a palette of their own.
    QToolTip::setPalette(palette);
    QApplication::setPalette(palette);
}
