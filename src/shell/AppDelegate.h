#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

class QApplication;

namespace velmarune {

struct AppGraph;

// Builds every long-lived object with the real backends, in start-up order,
// wires their callbacks and owns them for the life of the process.
class AppDelegate {
  public:
    explicit AppDelegate(QApplication& app);
    ~AppDelegate();
    AppDelegate(const AppDelegate&) = delete;
    AppDelegate& operator=(const AppDelegate&) = delete;

    // The launch sequence; afterwards the event loop runs everything.
    void launch();
    // Quit from the menu, or from the session (`systemReason`: never asks).
    void requestQuit(std::optional<std::string> systemReason = std::nullopt);
    // A second start asked this instance to show itself (main thread).
    void showYourself();
    // The push-to-talk control (`velmarune ptt`, compositor key bindings), main thread.
    enum class ControlRequest { press, release, toggle, pasteLast };
    void handleControlRequest(ControlRequest request);
    // Writes pending settings now; for an exit that skips the teardown.
    void flushSettings();

  private:
    // The launch steps, in start-up order.
    void startBackends();
    void buildViews();
    void startDiagnostics();
    void buildCaptureEngine();
    void buildDelivery();
    void buildPasteLastHotKey();
    void buildPipeline();
    void startPushToTalkListener();
    void startBootstrap();
    void startWatchdogs();
    // The requirements window on a new installation; `next` goes on with start-up.
    void presentRequirementsThen(std::function<void()> next);
    void startFirstDownloads();
    void wireSessionEvents();
    void buildQuitController();
    // Stops dictation, flushes the settings and ends the event loop; the
    // objects are then destroyed in reverse order of their creation.
    void terminate();

    QApplication& m_app;
    std::unique_ptr<AppGraph> m_graph;
};

}  // namespace velmarune
