#pragma once
// Where the window's language comes from at start: `--lang <code>` (or
// `--lang=<code>`), else the environment's KELM_LANG, else the choice the
// user made in the window last time (the settings file), else Chinese.
// The system's locale plays no part.
#include <QString>
#include <QStringList>

#include "gui/Language.h"

namespace kelm {

struct UiLanguageStart {
    UiLanguage language = UiLanguage::Chinese;
    // Set when a given code was not understood (that source is then passed
    // over): the text to tell the user on the terminal.
    QString warning;
};

// args: the program's arguments, the program's name first.
UiLanguageStart StartupUiLanguage(const QStringList& args);

// The choice remembered in the settings file (`[Interface] language=en`),
// or nothing when there is none or it is not understood.
std::optional<UiLanguage> RememberedUiLanguage();
// Remembers the choice for the next start; false with *error when the
// settings file cannot be written.
bool RememberUiLanguage(UiLanguage lang, QString* error);

}  // namespace kelm
