#pragma once

#include <memory>

#include "platform/MachineFacts.h"

namespace velmarune {

class PulseCaptureSession;

// The capture sources of a running session, after waiting at most
// `waitSeconds` for it to connect. Any thread.
SystemFacts::Microphone microphoneFacts(PulseCaptureSession& session, double waitSeconds);

// Machine facts with the display and the sound server probed through the
// same backends the application uses. `session` is a running capture session;
// it is given `soundServerWaitSeconds` to connect.
std::unique_ptr<MachineFacts> makeDesktopFacts(PulseCaptureSession& session,
                                               double soundServerWaitSeconds);

}  // namespace velmarune
