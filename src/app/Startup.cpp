#include "app/Startup.h"

#include <QApplication>
#include <QScreen>
#include <QTimer>
#include <cstdio>
#include <memory>

#include "app/AppSetup.h"
#include "app/TFMmain.h"
#include "app/TFmabout.h"
#include "app/UiLanguageChoice.h"
#include "host/TFMserching.h"
#include "modbus/ModbusMaster.h"

namespace kelm {

int RunApplication(int argc, char** argv, const std::function<void(TFMmain&)>& onShown) {
    QApplication app(argc, argv);
    ConfigureApplication(app);

    // The language first, so that every window is built in it.
    const UiLanguageStart lang = StartupUiLanguage(QCoreApplication::arguments());
    if (!lang.warning.isEmpty())
        std::fprintf(stderr, "kelm-utility: %s\n", qUtf8Printable(lang.warning));
    if (!SetUiLanguage(lang.language))
        std::fprintf(stderr, "kelm-utility: no translation for \"%s\" is built in\n",
                     qUtf8Printable(UiLanguageCode(lang.language)));

    // The main window is created first and so is the application's main
    // window; its caption is what the taskbar shows.
    TFMmain window;
    FMmain = &window;

    // The start-up instances of the scan dialog and the About box stay hidden
    // for the whole run; every use creates a fresh one.
    std::unique_ptr<TFMserching> FMserching =
        std::make_unique<TFMserching>(window.MakeScanContext(), &window);
    FMserching->hide();
    std::unique_ptr<TFmabout> Fmabout = std::make_unique<TFmabout>(&window);
    Fmabout->hide();

    // Centred on the screen at start.
    if (QScreen* screen = window.screen()) {
        const QRect avail = screen->availableGeometry();
        window.move(avail.center() - QPoint(window.width() / 2, window.height() / 2));
    }
    window.show();
    if (onShown) QTimer::singleShot(0, &window, [&window, &onShown] { onShown(window); });
    const int rc = app.exec();
    Fmabout.reset();
    FMserching.reset();
    FMmain = nullptr;
    return rc;
}

}  // namespace kelm
