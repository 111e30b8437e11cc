#pragma once

#include <QColor>
#include <QIcon>
#include <QString>
#include <cstdint>

#include "app/AppMode.h"

namespace velmarune {

// The tray microphone for a mode, with the queue count drawn as a badge
// (tray hosts show no text beside an icon). A count below 1 draws none.
QIcon trayIcon(AppMode mode, int64_t badgeCount);
// The orange warning triangle of "Download Models…".
QIcon warningIcon();
// A monochrome icon from the resources drawn in `colour`.
QIcon symbolicIcon(const QString& name, const QColor& colour, int sizePx);

}  // namespace velmarune
