#include "shell/PttCommand.h"

#include <cstdio>
#include <utility>

#include "platform/linux/ControlClient.h"

namespace velmarune {

namespace {

const char* const kUsage =
    "usage: velmarune ptt press|release|toggle|paste-last\n"
    "\n"
    "Drives the running Velmarune from a key binding of your desktop:\n"
    "  press       start dictating (as if the chord went down)\n"
    "  release     stop and transcribe (as if the chord came up)\n"
    "  toggle      press when not dictating, release when dictating\n"
    "  paste-last  paste the last dictation again\n"
    "\n"
    "sway:     bindsym F9 exec velmarune ptt press\n"
    "          bindsym --release F9 exec velmarune ptt release\n"
    "Hyprland: bind = , F9, exec, velmarune ptt press\n"
    "          bindr = , F9, exec, velmarune ptt release\n";

}  // namespace

int runPttCommand(const std::vector<std::string>& args) {
    const std::pair<const char*, const char*> actions[] = {
        {"press", "PushToTalkPress"},
        {"release", "PushToTalkRelease"},
        {"toggle", "Toggle"},
        {"paste-last", "PasteLast"},
    };
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (args.size() == 1) {
        for (const auto& [word, method] : actions) {
            if (args[0] == word) {
                if (const auto failure = sendControlRequest(method)) {
                    std::fprintf(stderr, "velmarune ptt: %s.\n", failure->c_str());
                    return 1;
                }
                return 0;
            }
        }
    }
    std::fprintf(stderr, "velmarune ptt: %s\n%s",
                 args.empty() ? "say what to do" : ("unknown request '" + args[0] + "'").c_str(),
                 kUsage);
    return 64;
}

}  // namespace velmarune
