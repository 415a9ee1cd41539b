#pragma once
// Settings of the application object that the program and the tests share.

#include <QStringList>

class QApplication;

namespace kelm {

// Fonts the program relies on: the window's SimSun and the About box's Times
// New Roman fall back to the installed CJK font, so Chinese text renders.
void DeclareFonts();

// The window font's families: SimSun where it is installed, then the CJK
// fonts that stand in for it. Families that are not installed are left out,
// so that every font lookup does not first ask for a missing family.
QStringList WindowFontFamilies();

// Name, version, icon and fonts of the application object.
void ConfigureApplication(QApplication& app);

}  // namespace kelm
