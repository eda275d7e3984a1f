#include "ui/library/EmptyLibraryView.h"

#include "ui/common/SymbolLabel.h"
#include "ui/style/TextStyles.h"
#include "ui/style/VespertoneTheme.h"

#include <QLabel>
#include <QVBoxLayout>

EmptyLibraryView::EmptyLibraryView(AppThemeChoice theme, QWidget *parent)
    : PanelMessageView(theme, parent), m_symbol(new SymbolLabel(Symbols::Glyph::waveform, 44, this))
{
    auto *title = new QLabel(QStringLiteral("No recordings"), this);
    title->setFont(TextStyles::sized(15, QFont::DemiBold));
    auto *hint = new QLabel(QStringLiteral("Start a recording from the tray menu."), this);
    hint->setFont(TextStyles::callout());
    hint->setForegroundRole(QPalette::PlaceholderText);
    for (QWidget *item :
         {static_cast<QWidget *>(m_symbol), static_cast<QWidget *>(title), static_cast<QWidget *>(hint)})
        column()->addWidget(item, 0, Qt::AlignHCenter);
    setTheme(theme);
}

void EmptyLibraryView::setTheme(AppThemeChoice theme)
{
    PanelMessageView::setTheme(theme);
    m_symbol->setColor(theme == AppThemeChoice::gothic ? VespertoneTheme::color(VespertoneTheme::violetHot)
                                                       : VespertoneTheme::secondaryText());
}
