#include "ui/library/MultiSelectionView.h"

#include "ui/common/SymbolLabel.h"
#include "ui/style/TextStyles.h"

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
        Symbols::glyph(painter, Symbols::Glyph::trash, QRectF(0, 0, 14, 14), 13, QColor(255, 105, 97));
    }
    trash->setIcon(glyph);
    trash->setStyleSheet(QStringLiteral("QPushButton { color: rgb(255, 105, 97); padding: 5px 12px; border-radius: 6px;"
                                        " border: 1px solid rgba(255, 105, 97, 0.45);"
                                        " background: rgba(255, 69, 58, 0.10); }"
                                        "QPushButton:pressed { background: rgba(255, 69, 58, 0.22); }"));
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
