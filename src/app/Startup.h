#pragma once
// Program start-up: the GUI application, the main window, the hidden scan
// dialog and About box, and the message loop until the main window closes.

#include <functional>

namespace kelm {

class TFMmain;

// The whole program; returns the process exit code. onShown, when given, runs
// once from the message loop right after the main window has been shown (the
// start-up benchmark measures with it).
int RunApplication(int argc, char** argv, const std::function<void(TFMmain&)>& onShown = {});

}  // namespace kelm
