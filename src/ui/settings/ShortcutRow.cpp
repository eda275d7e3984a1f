#include "ui/settings/ShortcutRow.h"

#include "hotkeys/MacKeyCodes.h"
#include "ui/style/VespertoneTheme.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>

namespace {
/// The "xmark.circle" symbol: a ring with a cross.
QIcon clearIcon(const QColor &color)
{
    QIcon icon;
    for (const int size : {16, 32}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(color, size / 14.0, Qt::SolidLine, Qt::RoundCap));
        const QRectF box(size * 0.1, size * 0.1, size * 0.8, size * 0.8);
        painter.drawEllipse(box);
        const double inset = size * 0.32;
        painter.drawLine(QPointF(inset, inset), QPointF(size - inset, size - inset));
        painter.drawLine(QPointF(size - inset, inset), QPointF(inset, size - inset));
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}
} // namespace

ShortcutRow::ShortcutRow(const QString &title, std::function<std::optional<HotKeyShortcut>()> get,
                         std::function<void(std::optional<HotKeyShortcut>)> set, QWidget *parent)
    : QWidget(parent), m_get(std::move(get)), m_set(std::move(set)), m_title(new QLabel(title, this)),
      m_button(new QPushButton(this)), m_clear(new QToolButton(this))
{
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_title);
    layout->addStretch(1);
    layout->addWidget(m_button);
    layout->addWidget(m_clear);
    m_button->setMinimumWidth(140);
    m_button->installEventFilter(this);
    m_clear->setAutoRaise(true);
    m_clear->setIcon(clearIcon(VespertoneTheme::secondaryText()));
    m_clear->setToolTip(QStringLiteral("Clear"));
    m_clear->setAccessibleName(QStringLiteral("Clear"));
    connect(m_button, &QPushButton::clicked, this, [this] { setRecording(true); });
    connect(m_clear, &QToolButton::clicked, this, [this] {
        setRecording(false);
        m_set(std::nullopt);
        refresh();
    });
    refresh();
}

void ShortcutRow::setRecording(bool recording)
{
    const bool changed = recording != m_recording;
    m_recording = recording;
    if (recording)
        m_button->setFocus(Qt::OtherFocusReason);
    refresh();
    if (changed)
        emit recordingChanged(recording);
}

void ShortcutRow::refresh()
{
    const auto shortcut = m_get();
    m_button->setText(m_recording    ? QStringLiteral("Press keys")
                          : shortcut ? shortcut->displayText()
                                     : QStringLiteral("None"));
    m_clear->setEnabled(shortcut.has_value());
}

ShortcutRow::Capture ShortcutRow::capture(int qtKey, Qt::KeyboardModifiers modifiers)
{
    if (qtKey == Qt::Key_Escape)
        return {Capture::Outcome::cancel, {}};
    quint64 flags = 0;
    if (modifiers & Qt::ShiftModifier)
        flags |= HotKeyShortcut::shiftFlag;
    if (modifiers & Qt::ControlModifier)
        flags |= HotKeyShortcut::controlFlag;
    if (modifiers & Qt::AltModifier)
        flags |= HotKeyShortcut::optionFlag;
    if (modifiers & Qt::MetaModifier)
        flags |= HotKeyShortcut::commandFlag;
    const auto key = MacKeyCodes::fromQtKey(qtKey);
    if (flags == 0 || !key)
        return {};
    const auto name = HotKeyShortcut::keyName(key->code, QString::fromLatin1(key->text));
    if (name.isEmpty())
        return {};
    return {Capture::Outcome::shortcut, {key->code, flags, name}};
}

bool ShortcutRow::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != m_button || !m_recording)
        return QWidget::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::ShortcutOverride:
        // Every chord comes to the row, none to the window's shortcuts.
        event->accept();
        return true;
    case QEvent::KeyPress: take(static_cast<const QKeyEvent &>(*event)); return true;
    case QEvent::FocusOut: setRecording(false); return false;
    default: return QWidget::eventFilter(watched, event);
    }
}

void ShortcutRow::take(const QKeyEvent &event)
{
    const auto result = capture(event.key(), event.modifiers());
    switch (result.outcome) {
    case Capture::Outcome::ignore: return;
    case Capture::Outcome::cancel: QTimer::singleShot(0, this, [this] { setRecording(false); }); return;
    case Capture::Outcome::shortcut:
        // The new shortcut re-registers the hotkeys; that waits for the key event to end.
        QTimer::singleShot(0, this, [this, shortcut = result.shortcut] {
            m_set(shortcut);
            setRecording(false);
        });
        return;
    }
}
