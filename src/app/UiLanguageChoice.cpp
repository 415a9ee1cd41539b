#include "app/UiLanguageChoice.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>

#include "app/NetworkPorts.h"

namespace kelm {

namespace {

const QString kKey = QStringLiteral("Interface/language");

// The value after "--lang"; null when the option is absent, empty when it
// has no value.
QString LangArgument(const QStringList& args, bool* present) {
    *present = false;
    QString value;
    for (int i = 1; i < args.size(); ++i) {
        const QString& a = args[i];
        if (a == QLatin1String("--lang") || a == QLatin1String("-lang")) {
            *present = true;
            value = i + 1 < args.size() ? args[i + 1] : QString();
            ++i;
        } else if (a.startsWith(QLatin1String("--lang="))) {
            *present = true;
            value = a.mid(7);
        }
    }
    return value;
}

}  // namespace

UiLanguageStart StartupUiLanguage(const QStringList& args) {
    UiLanguageStart out;
    bool present = false;
    const QString arg = LangArgument(args, &present);
    if (present) {
        if (auto lang = ParseUiLanguage(arg)) {
            out.language = *lang;
            return out;
        }
        out.warning = QStringLiteral("--lang: unknown language \"%1\" (use en or zh)").arg(arg);
    }
    const QString env = qEnvironmentVariable("KELM_LANG");
    if (!env.isEmpty()) {
        if (auto lang = ParseUiLanguage(env)) {
            out.language = *lang;
            return out;
        }
        if (!out.warning.isEmpty()) out.warning += QLatin1Char('\n');
        out.warning += QStringLiteral("KELM_LANG: unknown language \"%1\" (use en or zh)").arg(env);
    }
    if (auto lang = RememberedUiLanguage()) out.language = *lang;
    return out;
}

std::optional<UiLanguage> RememberedUiLanguage() {
    const QString path = NetworkPortSettings::FilePath();
    if (!QFileInfo::exists(path)) return std::nullopt;
    QSettings s(path, QSettings::IniFormat);
    return ParseUiLanguage(s.value(kKey).toString());
}

bool RememberUiLanguage(UiLanguage lang, QString* error) {
    const QString path = NetworkPortSettings::FilePath();
    const QString dir = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(dir)) {
        if (error) *error = dir;
        return false;
    }
    QSettings s(path, QSettings::IniFormat);
    s.setValue(kKey, UiLanguageCode(lang));
    s.sync();
    if (s.status() != QSettings::NoError) {
        if (error) *error = path;
        return false;
    }
    return true;
}

}  // namespace kelm
