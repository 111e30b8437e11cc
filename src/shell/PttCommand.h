#pragma once

#include <string>
#include <vector>

namespace velmarune {

// `velmarune ptt press|release|toggle|paste-last`: drives the running
// instance from a compositor key binding or a desktop shortcut. `args`
// follow the word "ptt". Exit status 0 when the request was delivered, 1
// when it could not be (not running, no bus), 64 on a usage error.
int runPttCommand(const std::vector<std::string>& args);

}  // namespace velmarune
