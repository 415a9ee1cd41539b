#pragma once
// Program start-up: the GUI application, the main window, the hidden scan
// dialog and About box, and the message loop until the main window closes.

namespace kelm {

// The whole program; returns the process exit code.
int RunApplication(int argc, char** argv);

}  // namespace kelm
