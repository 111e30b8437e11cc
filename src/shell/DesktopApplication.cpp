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
#include "foundation/Paths.h"
#include "platform/linux/JournalLogSink.h"
#include "platform/linux/SingleInstance.h"
#include "shell/AppDelegate.h"
#include "shell/MainThreadWatch.h"
#include "shell/QtMainQueue.h"

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
            "session, or XWayland in a Wayland session, for its windows and tray icon.\n");
        return false;
    }
    xcb_connection_t* connection = xcb_connect(display, nullptr);
    const bool ok = xcb_connection_has_error(connection) == 0;
    xcb_disconnect(connection);
    if (!ok) {
        std::fprintf(stderr, "velmarune: cannot open the X display \"%s\".\n", display);
        return false;
    }
    // In a Wayland session the windows and the tray still run on XWayland;
    // the start-up log says which backend serves each service there.
    return true;
}

// The runtime folder holds the instance lock; without one, the settings
// folder (on the user's own disk, never a shared /tmp).
std::filesystem::path instanceLockFolder() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && runtime[0] == '/') {
        return runtime;
    }
    return Paths::fromEnvironment().settingsFile().parent_path();
}

AppDelegate* g_runningDelegate = nullptr;

// Qt ends the process with exit() from inside the event loop when its X
// connection breaks. Unwinding then would destroy objects under threads still
// blocked on that connection: save the settings and leave at once instead.
void onExitDuringEventLoop() {
    if (g_runningDelegate == nullptr) {
        return;
    }
    std::fprintf(stderr, "velmarune: the X display went away; quitting\n");
    g_runningDelegate->flushSettings();
    std::fflush(nullptr);
    _exit(1);
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

    // Two instances would both hear the chord and paste every dictation twice.
    SingleInstance instance(instanceLockFolder());
    if (const auto claim = instance.claim(); !claim.first) {
        std::fprintf(stderr, "%s\n", claim.message.c_str());
        return 0;
    }

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

    QtMainQueue shellQueue(&app);
    using Request = AppDelegate::ControlRequest;
    auto control = [&delegate](Request request) {
        return [&delegate, request] { delegate.handleControlRequest(request); };
    };
    instance.listen(shellQueue, {[&delegate] { delegate.showYourself(); }, control(Request::press),
                                 control(Request::release), control(Request::toggle),
                                 control(Request::pasteLast)});

    delegate.launch();
    watchMainThread(&app);
    // Registered after Qt's own exit handlers, so it runs before them.
    std::atexit(onExitDuringEventLoop);
    g_runningDelegate = &delegate;
    const int status = QApplication::exec();
    g_runningDelegate = nullptr;
    // Its thread posts to shellQueue, which goes first.
    instance.stop();
    return status;
}

}  // namespace velmarune
