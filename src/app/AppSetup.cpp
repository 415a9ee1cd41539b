#include "app/AppSetup.h"

#include <QApplication>
#include <QFont>
#include <QFontDatabase>

#include "app/Version.h"
#include "gui/Pictures.h"

namespace kelm {

void DeclareFonts() {
    const QStringList cjk = {QStringLiteral("WenQuanYi Micro Hei"),
                             QStringLiteral("Noto Sans CJK SC"), QStringLiteral("AR PL UMing CN")};
    QFont::insertSubstitutions(QStringLiteral("SimSun"), cjk);
    QFont::insertSubstitutions(QStringLiteral("宋体"), cjk);
    QFont::insertSubstitutions(
        QStringLiteral("Times New Roman"),
        QStringList{QStringLiteral("Liberation Serif"), QStringLiteral("DejaVu Serif")} + cjk);
}

QStringList WindowFontFamilies() {
    QStringList families;
    for (const QString& f :
         {QStringLiteral("SimSun"), QStringLiteral("宋体"), QStringLiteral("WenQuanYi Micro Hei"),
          QStringLiteral("Noto Sans CJK SC"), QStringLiteral("AR PL UMing CN")})
        if (QFontDatabase::hasFamily(f)) families << f;
    // Nothing installed: keep the name, the substitutions still apply.
    if (families.isEmpty()) families << QStringLiteral("SimSun");
    return families;
}

void ConfigureApplication(QApplication& app) {
    app.setApplicationName(QStringLiteral("KELM-Utility"));
    app.setApplicationVersion(QLatin1String(kFileVersion));
    app.setOrganizationName(QStringLiteral("KELM"));
    app.setWindowIcon(ImageList2020Icon(kImgRoot));
    // Closing the main window ends the message loop and the program.
    app.setQuitOnLastWindowClosed(true);
    DeclareFonts();
}

}  // namespace kelm
