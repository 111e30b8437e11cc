#pragma once

#include <memory>
#include <string>

#include "foundation/MainQueue.h"
#include "platform/CaptureSession.h"

namespace velmarune {

// The capture session on a PulseAudio server (PipeWire's pulse server too).
// Runs the client on its own threaded main loop; queries wait a bounded time.
// When the server goes away it says so and keeps trying to reconnect, every
// half second, until it is back. Events are posted to `mainQueue`.
class PulseCaptureSession : public CaptureSession {
  public:
    // `server` empty: the default ($PULSE_SERVER, then the user's socket).
    explicit PulseCaptureSession(MainQueue& mainQueue, std::string server = {});
    ~PulseCaptureSession() override;
    PulseCaptureSession(const PulseCaptureSession&) = delete;
    PulseCaptureSession& operator=(const PulseCaptureSession&) = delete;

    // Starts the client thread and the first connection attempt.
    void start();
    bool isConnected() const;
    // Waits at most `timeoutSeconds` for a connection; true when connected.
    bool waitUntilConnected(double timeoutSeconds);

    std::vector<CaptureDevice> devices() override;
    std::optional<std::string> defaultDeviceID() override;
    std::optional<CaptureDevice> device(const std::string& id) override;
    std::unique_ptr<CaptureStream> openStream(const std::string& deviceID,
                                              SerialQueue& deliveryQueue, BufferHandler handler,
                                              std::string& error) override;
    Subscription subscribe(EventHandler handler) override;

    // A source that filters noise out of another counts as voice isolation.
    static bool looksLikeNoiseSuppression(const std::string& name, const std::string& description);

    class Impl;

  private:
    std::shared_ptr<Impl> m_impl;
};

}  // namespace velmarune
