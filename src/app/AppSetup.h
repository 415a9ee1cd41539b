#pragma once
// Settings of the application object that the program and the tests share.

class QApplication;

namespace kelm {

// Fonts the program relies on: the window's SimSun and the About box's Times
// New Roman fall back to the installed CJK font, so Chinese text renders.
void DeclareFonts();

// Name, version, icon and fonts of the application object.
void ConfigureApplication(QApplication& app);

}  // namespace kelm
