#include "ui/library/MultiSelectionView.h"

#include "ui/common/SymbolLabel.h"
#include "ui/style/TextStyles.h"
#include "ui/style/VespertoneTheme.h"

#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

MultiSelectionView::MultiSelectionView(AppThemeChoice theme, QWidget *parent)
    : PanelMessageView(theme, parent), m_title(new QLabel(this))
{
    auto *symbol = new SymbolLabel(Symbols::Glyph::checklist, 44, this);
    m_title->setFont(TextStyles::sized(15, QFont::DemiBold));
    auto *trash = new QPushButton(QStringLiteral("Move Selected to Trash"), this);
    QPixmap glyph(QSize(14, 14) * devicePixelRatioF());
    glyph.setDevicePixelRatio(devicePixelRatioF());
    glyph.fill(Qt::transparent);
    {
        QPainter painter(&glyph);
        Symbols::glyph(painter, Symbols::Glyph::trash, QRectF(0, 0, 14, 14), 13,
                       VespertoneTheme::color(VespertoneTheme::destructive));
    }
    trash->setIcon(glyph);
    const auto css = [](VespertoneTheme::Rgb rgb, double opacity) {
        return VespertoneTheme::styleSheetColor(VespertoneTheme::color(rgb, opacity));
    };
    using VespertoneTheme::destructive, VespertoneTheme::destructiveFill;
    trash->setStyleSheet(
        QStringLiteral("QPushButton { color: %1; padding: 5px 12px; border-radius: %5px;"
                       " border: 1px solid %2; background: %3; }"
                       "QPushButton:pressed { background: %4; }")
            .arg(css(destructive, 1), css(destructive, 0.45), css(destructiveFill, 0.10), css(destructiveFill, 0.22))
            .arg(VespertoneTheme::controlCornerRadius));
    connect(trash, &QPushButton::clicked, this, &MultiSelectionView::confirmDelete);
    column()->addWidget(symbol, 0, Qt::AlignHCenter);
    column()->addWidget(m_title, 0, Qt::AlignHCenter);
    column()->addWidget(trash, 0, Qt::AlignHCenter);
}

void MultiSelectionView::setCount(int count)
{
    m_count = count;
    m_title->setText(QString::number(count) + QStringLiteral(" recordings selected"));
}

void MultiSelectionView::confirmDelete()
{
    if (m_confirmation)
        return;
    m_confirmation = new QMessageBox(QMessageBox::Warning, QStringLiteral("Delete Selected Recordings?"),
                                     QString::number(m_count) + QStringLiteral(" recordings will be moved to Trash."),
                                     QMessageBox::NoButton, this);
    m_confirmation->setAttribute(Qt::WA_DeleteOnClose);
    auto *confirm = m_confirmation->addButton(QStringLiteral("Move to Trash"), QMessageBox::DestructiveRole);
    m_confirmation->addButton(QStringLiteral("Cancel"), QMessageBox::RejectRole);
    m_confirmation->setWindowModality(Qt::WindowModal);
    connect(m_confirmation, &QMessageBox::finished, this, [this, confirm] {
        const bool confirmed = m_confirmation->clickedButton() == static_cast<QAbstractButton *>(confirm);
        m_confirmation = nullptr;
        if (confirmed)
            emit deleteConfirmed();
    });
    m_confirmation->open();
}
