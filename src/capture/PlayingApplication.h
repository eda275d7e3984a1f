#pragma once

#include "platform/CaptureTarget.h"

#include <QList>
#include <QString>
#include <optional>

/// One application that plays sound right now, as the record controls offer it.
struct PlayingApplication {
    QString name;                            ///< application.name, else its executable: what its capture target names
    QString title;                           ///< what the desktop calls it: its desktop entry's name, else name
    QString iconName;                        ///< its desktop entry's icon, else its stream's; may be empty
    std::optional<QString> bundleIdentifier; ///< application.id, else its executable
    QList<qint64> processIds;

    [[nodiscard]] CaptureTarget target() const { return CaptureTarget::application(name); }

    bool operator==(const PlayingApplication &) const = default;
};
