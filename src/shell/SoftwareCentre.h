#pragma once

#include <functional>

class QObject;

namespace velmarune {

// Packaged applications on Linux are updated by the system's package
// manager, never by themselves: "Check for Updates…" opens the software
// centre on the application's AppStream page ("appstream:" link), and is
// offered only where something handles those links.
inline constexpr const char* kAppStreamLink = "appstream:com.quorin.velmarune";

// Asks xdg-mime, without blocking, for the handler of appstream: links and,
// only when there is one, calls `found` on the main thread with the action
// that opens the page. An xdg-mime that does not answer within
// `timeoutSeconds` counts as no handler. `owner` bounds the query's life.
void findSoftwareCentre(QObject* owner, std::function<void(std::function<void()> open)> found,
                        double timeoutSeconds = 5.0);

}  // namespace velmarune
