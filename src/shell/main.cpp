// The `velmarune` executable: the desktop application, and subcommands for
// the terminal.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "foundation/Log.h"
#include "shell/CheckCommand.h"
#include "shell/DesktopApplication.h"
#include "shell/ModelsCommand.h"
#include "shell/PttCommand.h"
#include "shell/TranscribeCommand.h"

namespace {

int usage(FILE* out) {
    std::fprintf(out,
                 "usage: velmarune [COMMAND]\n"
                 "       velmarune --version | --help\n"
                 "\n"
                 "Without a command, starts the push-to-talk dictation application.\n"
                 "\n"
                 "  check [--json]\n"
                 "            check whether this computer can run Velmarune (exit status:\n"
                 "            0 ready, 1 ready with warnings, 2 blocked)\n"
                 "  models    list, download or choose the speech models\n"
                 "  ptt press|release|toggle|paste-last\n"
                 "            drive the running Velmarune from a desktop key binding\n"
                 "  transcribe FILE [--language auto|he|en] [--hebrew-model PATH]\n"
                 "            [--multilingual-model PATH] [--json]\n"
                 "            transcribe an audio file as a dictation would be\n"
                 "\n"
                 "See velmarune(1) for more.\n");
    return out == stdout ? 0 : 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (!args.empty() && (args[0] == "--help" || args[0] == "-h" || args[0] == "help")) {
        return usage(stdout);
    }
    if (!args.empty() && args[0] == "check") {
        return velmarune::CheckCommand::main({args.begin() + 1, args.end()});
    }
    if (!args.empty() && args[0] == "--version") {
        std::printf("velmarune %s\n", VELMARUNE_VERSION);
        return 0;
    }
    if (!args.empty() && args[0] == "models") {
        return velmarune::ModelsCommand::main({args.begin() + 1, args.end()});
    }
    if (!args.empty() && args[0] == "ptt") {
        return velmarune::runPttCommand({args.begin() + 1, args.end()});
    }
    if (!args.empty() && args[0] == "transcribe") {
        return velmarune::runTranscribeCommand({args.begin() + 1, args.end()});
    }
    if (!args.empty()) {
        std::fprintf(stderr, "velmarune: unknown command '%s'\n", args[0].c_str());
        return usage(stderr);
    }
    return velmarune::runDesktopApplication(argc, argv);
}
