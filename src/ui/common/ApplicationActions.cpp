#include "ui/common/ApplicationActions.h"

#include "capture/PlayingApplication.h"
#include "store/RecordingLibraryStore.h"
#include "ui/style/Symbols.h"
#include "ui/style/VespertoneTheme.h"

#include <QFileInfo>
#include <QMenu>
#include <QPainter>

void ApplicationActions::add(QMenu &menu, const RecordingLibraryStore &store,
                             const std::function<void(const CaptureTarget &)> &record)
{
    const auto &applications = store.playingApplications();
    if (applications.empty()) {
        menu.addAction(QStringLiteral("No application is playing"))->setEnabled(false);
        return;
    }
    for (const auto &application : applications) {
        const auto target = application.target();
        auto *item =
            menu.addAction(icon(application),
                           store.isRecording(target) ? QStringLiteral("Stop ") + application.title : application.title);
        item->setEnabled(store.canToggleRecording(target));
        QObject::connect(item, &QAction::triggered, &menu, [record, target] { record(target); });
    }
}

QIcon ApplicationActions::icon(const PlayingApplication &application)
{
    // An entry may name its icon by path.
    if (QFileInfo(application.iconName).isAbsolute()) {
        const QIcon file(application.iconName);
        if (!file.isNull())
            return file;
    } else if (!application.iconName.isEmpty() && QIcon::hasThemeIcon(application.iconName)) {
        return QIcon::fromTheme(application.iconName);
    }
    QIcon icon;
    for (const double scale : {1.0, 2.0}) {
        QPixmap pixmap(QSize(16, 16) * scale);
        pixmap.setDevicePixelRatio(scale);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        Symbols::glyph(painter, Symbols::Glyph::application, QRectF(0, 0, 16, 16), 14, VespertoneTheme::primaryText());
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}
