#include "shell/DesktopApplication.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <QApplication>
#include <QSocketNotifier>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "foundation/Log.h"
#include "platform/linux/JournalLogSink.h"
#include "shell/AppDelegate.h"
#include "shell/MainThreadWatch.h"

namespace velmarune {

namespace {

int g_signalPipe[2] = {-1, -1};

void onTerminationSignal(int signal) {
    const char byte = static_cast<char>(signal);
    [[maybe_unused]] ssize_t n = ::write(g_signalPipe[1], &byte, 1);
}

// Fails early, with a message a person can act on, where Qt would abort.
bool checkDisplay() {
    const char* display = std::getenv("DISPLAY");
    if (display == nullptr || *display == '\0') {
        std::fprintf(
            stderr,
            "velmarune: no X display (DISPLAY is not set). Velmarune needs a graphical X11 "
            "session (or XWayland) to hear its keys and paste.\n");
        return false;
    }
    xcb_connection_t* connection = xcb_connect(display, nullptr);
    const bool ok = xcb_connection_has_error(connection) == 0;
    xcb_disconnect(connection);
    if (!ok) {
        std::fprintf(stderr, "velmarune: cannot open the X display \"%s\".\n", display);
        return false;
    }
    const char* sessionType = std::getenv("XDG_SESSION_TYPE");
    if ((sessionType && std::strcmp(sessionType, "wayland") == 0) ||
        std::getenv("WAYLAND_DISPLAY")) {
        std::fprintf(
            stderr,
            "velmarune: warning: this is a Wayland session. Velmarune runs through XWayland: "
            "it hears the chord and pastes only while an X11 application has the focus.\n");
    }
    return true;
}

}  // namespace

int runDesktopApplication(int argc, char** argv) {
    if (!checkDisplay()) {
        return 1;
    }
    // Our own backends speak X11; keep Qt on the same server.
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    LogSinks::add(std::make_shared<JournalLogSink>());
    LogSinks::add(std::make_shared<StderrLogSink>());

    QApplication app(argc, argv);
    QApplication::setApplicationName("Velmarune");
    QApplication::setQuitOnLastWindowClosed(false);

    AppDelegate delegate(app);

    // SIGTERM and SIGINT from the session quit without asking, through the
    // event loop rather than inside the signal handler.
    if (::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) == 0) {
        struct sigaction action {};
        action.sa_handler = onTerminationSignal;
        sigemptyset(&action.sa_mask);
        ::sigaction(SIGTERM, &action, nullptr);
        ::sigaction(SIGINT, &action, nullptr);
        auto* notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, &app);
        QObject::connect(notifier, &QSocketNotifier::activated, [&delegate] {
            char byte = 0;
            [[maybe_unused]] ssize_t n = ::read(g_signalPipe[0], &byte, 1);
            delegate.requestQuit(byte == SIGINT ? "SIGINT" : "SIGTERM");
        });
    }

    delegate.launch();
    watchMainThread(&app);
    return QApplication::exec();
}

}  // namespace velmarune
