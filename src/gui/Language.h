#pragma once
// The language of the window. Chinese, the language the texts are written
// in, needs no translator; English loads every translation built into the
// program (`:/i18n/*_en.qm`, one per area). Installing or removing a
// translator makes Qt send QEvent::LanguageChange to every widget, which
// retranslates itself in changeEvent().
#include <QString>
#include <optional>

namespace kelm {

enum class UiLanguage { Chinese, English };

// "en", "en_GB", "English" -> English; "zh", "zh_CN", "cn" -> Chinese.
std::optional<UiLanguage> ParseUiLanguage(const QString& code);
// The code kept in the settings and given to --lang: "zh" or "en".
QString UiLanguageCode(UiLanguage lang);

UiLanguage CurrentUiLanguage();
inline bool UiIsEnglish() {
    return CurrentUiLanguage() == UiLanguage::English;
}

// Switches the running program. False (and nothing changed) when the
// program has no translation for lang built in. Call on the GUI thread.
bool SetUiLanguage(UiLanguage lang);

// The translation of a source text that lives in a constant (marked for the
// translation tools with QT_TRANSLATE_NOOP under context).
QString TrText(const char* context, const QString& source);

}  // namespace kelm
