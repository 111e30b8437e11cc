#pragma once

#include <QColor>
#include <QIcon>
#include <QObject>
#include <QPixmap>
#include <QString>
#include <cstdint>
#include <map>
#include <utility>
#include <vector>

#include "app/AppMode.h"

namespace velmarune {

// The tray microphone of every mode, with the queue count drawn as a badge
// (tray hosts show no text beside an icon; a count below 1 draws none, above
// 9 draws "9+"). Drawing a state the first time costs milliseconds (the
// first badge loads the whole font database), and a state begins at a key
// release: prepare() draws them all ahead, one per main-loop turn. Main
// thread only.
class TrayIcons {
  public:
    // Draws the icons not drawn yet, one per turn of `context`'s event loop.
    void prepare(QObject* context);
    // Drawn now if prepare() has not reached it yet.
    const QIcon& icon(AppMode mode, int64_t badgeCount);

  private:
    using Key = std::pair<AppMode, int64_t>;
    static Key keyOf(AppMode mode, int64_t badgeCount);
    void prepareNext(QObject* context);
    const std::vector<QPixmap>& microphone(AppMode mode);

    std::map<AppMode, std::vector<QPixmap>> m_microphones;  // one per tray size
    std::map<Key, QIcon> m_icons;
};
// The orange warning triangle of "Download Models…".
QIcon warningIcon();
// A monochrome icon from the resources drawn in `colour`.
QIcon symbolicIcon(const QString& name, const QColor& colour, int sizePx);

}  // namespace velmarune
