#include "gui/Language.h"

#include <QCoreApplication>
#include <QDir>
#include <QTranslator>
#include <memory>
#include <vector>

namespace kelm {

namespace {

// GUI thread only, like every translator change.
UiLanguage g_language = UiLanguage::Chinese;
std::vector<std::unique_ptr<QTranslator>> g_translators;

}  // namespace

std::optional<UiLanguage> ParseUiLanguage(const QString& code) {
    const QString c = code.trimmed().toLower();
    if (c == QLatin1String("en") || c.startsWith(QLatin1String("en_")) ||
        c.startsWith(QLatin1String("en-")) || c == QLatin1String("english"))
        return UiLanguage::English;
    if (c == QLatin1String("zh") || c.startsWith(QLatin1String("zh_")) ||
        c.startsWith(QLatin1String("zh-")) || c == QLatin1String("cn") ||
        c == QLatin1String("chinese"))
        return UiLanguage::Chinese;
    return std::nullopt;
}

QString UiLanguageCode(UiLanguage lang) {
    return lang == UiLanguage::English ? QStringLiteral("en") : QStringLiteral("zh");
}

UiLanguage CurrentUiLanguage() {
    return g_language;
}

bool SetUiLanguage(UiLanguage lang) {
    if (lang == g_language) return true;
    std::vector<std::unique_ptr<QTranslator>> loaded;
    if (lang != UiLanguage::Chinese) {
        const QString suffix = QLatin1Char('_') + UiLanguageCode(lang) + QStringLiteral(".qm");
        const QDir dir(QStringLiteral(":/i18n"));
        for (const QString& name : dir.entryList(QDir::Files, QDir::Name)) {
            if (!name.endsWith(suffix)) continue;
            auto t = std::make_unique<QTranslator>();
            if (t->load(dir.filePath(name))) loaded.push_back(std::move(t));
        }
        if (loaded.empty()) return false;
    }
    for (auto& t : g_translators) QCoreApplication::removeTranslator(t.get());
    g_translators = std::move(loaded);
    for (auto& t : g_translators) QCoreApplication::installTranslator(t.get());
    g_language = lang;
    return true;
}

QString TrText(const char* context, const QString& source) {
    if (g_language == UiLanguage::Chinese) return source;
    return QCoreApplication::translate(context, source.toUtf8().constData());
}

}  // namespace kelm
