#pragma once

#include <string>
#include <vector>

namespace velmarune {

// `velmarune transcribe FILE [--language auto|he|en] [--hebrew-model PATH]
// [--multilingual-model PATH] [--json]`: runs a dictation's decode step
// (trim, route, detect, transcribe, clean up) on an audio file and prints the
// cleaned text. Returns the process exit status.
int runTranscribeCommand(const std::vector<std::string>& args);

}  // namespace velmarune
