#pragma once

namespace velmarune {

// Starts the desktop application: checks the display, sets up logging and
// the Qt event loop, builds the object graph and runs until quit.
int runDesktopApplication(int argc, char** argv);

}  // namespace velmarune
