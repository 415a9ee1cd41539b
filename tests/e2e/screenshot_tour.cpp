// kelm-screenshot-tour: starts the real main window on the current display
// (scripts/screenshots.sh runs it under Xvfb beside the simulator's demo bus)
// and saves what a reviewer wants to look at:
//   01-start.png        the start page
//   02-host-port.png    the host port panel, port open, link check box shown
//   03-scan.png         the scan dialog during a scan
//   04-module.png       a module panel after its version query, new-parameter box open
//   05-about.png        the About box
// Usage: kelm-screenshot-tour <output dir> <COM number>
#include <QApplication>
#include <QComboBox>
#include <QCursor>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QStackedWidget>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <cstdio>
#include <functional>

#include "app/AppSetup.h"
#include "app/TFMmain.h"
#include "app/TFmabout.h"
#include "host/Pnl_comset.h"
#include "host/TFMserching.h"

using namespace kelm;

namespace {

QString outDir;
int failures = 0;

void settle(int ms) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) QApplication::processEvents(QEventLoop::AllEvents, 20);
}

bool waitFor(const std::function<bool()>& cond, int ms) {
    QElapsedTimer t;
    t.start();
    while (!cond() && t.elapsed() < ms) QApplication::processEvents(QEventLoop::AllEvents, 20);
    return cond();
}

// The whole screen, cropped to the rectangle that holds the given windows.
void shoot(const QString& name, const QList<QWidget*>& windows) {
    settle(300);
    QRect area;
    for (QWidget* w : windows) area |= w->frameGeometry();
    QScreen* screen = QGuiApplication::primaryScreen();
    QPixmap pm = screen->grabWindow(0, area.x(), area.y(), area.width(), area.height());
    if (pm.isNull() || pm.width() < 10) pm = windows.front()->grab();
    const QString path = QDir(outDir).filePath(name);
    if (!pm.save(path)) {
        std::fprintf(stderr, "could not save %s\n", qPrintable(path));
        ++failures;
    } else {
        std::printf("saved %s (%dx%d)\n", qPrintable(path), pm.width(), pm.height());
    }
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    ConfigureApplication(app);
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s <output dir> <COM number>\n", argv[0]);
        return 2;
    }
    outDir = QString::fromLocal8Bit(argv[1]);
    const QString com = QStringLiteral("COM") + QString::fromLocal8Bit(argv[2]);
    QDir().mkpath(outDir);

    // Keep the pointer off the windows so that nothing shows a hover state.
    QCursor::setPos(1270, 790);
    TFMmain w;
    FMmain = &w;
    w.move(10, 10);
    w.show();
    settle(800);
    shoot("01-start.png", {&w});

    QTreeWidgetItem* root = w.TreeView1->topLevelItem(0);
    QTreeWidgetItem* port = nullptr;
    for (int i = 0; root && i < root->childCount(); ++i)
        if (root->child(i)->text(0).startsWith(com + " ") || root->child(i)->text(0) == com)
            port = root->child(i);
    if (!port) {
        std::fprintf(stderr, "%s is not in the port list\n", qPrintable(com));
        return 1;
    }
    w.TreeView1->setCurrentItem(port);
    Pnl_comset* host = w.PnlComset();
    host->Sbtn_com_open->click();
    host->btn_advanced->click();
    shoot("02-host-port.png", {&w});

    // The scan dialog is modal: drive it from inside its own loop.
    QTimer::singleShot(0, [&] {
        TFMserching* d = nullptr;
        waitFor([&] { return (d = w.ScanDialog()) != nullptr; }, 3000);
        if (!d) {
            ++failures;
            return;
        }
        d->move(w.x() + 360, w.y() + 200);
        d->findChild<QLineEdit*>("Edit_scan_time")->setText("500");
        d->findChild<QPushButton*>("Btn_start")->click();
        waitFor([&] { return port->childCount() >= 5; }, 8000);
        shoot("03-scan.png", {&w, d});
        waitFor([&] { return port->childCount() >= 8; }, 8000);
        d->findChild<QPushButton*>("Btn_stop")->click();
        d->reject();
    });
    w.ToolButton_Scan->click();

    QTreeWidgetItem* module = port->childCount() > 0 ? port->child(0) : nullptr;
    if (module) {
        w.TreeView1->setCurrentItem(module);
        QWidget* panel = w.PanelStack->currentWidget();
        for (auto* b : panel->findChildren<QToolButton*>())
            if (b->objectName().startsWith("SpeedButton")) b->click();
        settle(600);
        for (auto* b : panel->findChildren<QToolButton*>())
            if (b->objectName().endsWith("_newcom_info")) b->click();
        shoot("04-module.png", {&w});
    } else {
        std::fprintf(stderr, "the scan found no module\n");
        ++failures;
    }

    QTimer::singleShot(0, [&] {
        waitFor([&] { return w.AboutBox() != nullptr; }, 3000);
        if (TFmabout* a = w.AboutBox()) {
            a->move(w.x() + 360, w.y() + 180);
            shoot("05-about.png", {&w, a});
            a->close();
        }
    });
    w.ToolButton_About->click();

    // 06-monitor.png: the communication monitor after a scan of the demo bus
    // (and one version query, so that a reply row of a panel shows as well).
    {
        w.TreeView1->setCurrentItem(port);
        w.ToolButton_Monitor->click();
        QWidget* monitor = w.findChild<QWidget*>("FMmonitor");
        if (!monitor) {
            std::fprintf(stderr, "the monitor did not open\n");
            ++failures;
        } else {
            monitor->move(w.x() + 80, w.y() + 100);
            QTimer::singleShot(0, [&] {
                TFMserching* d = nullptr;
                waitFor([&] { return (d = w.ScanDialog()) != nullptr; }, 3000);
                if (!d) {
                    ++failures;
                    return;
                }
                d->move(w.x() + 360, w.y() + 200);
                d->findChild<QLineEdit*>("Edit_scan_time")->setText("500");
                d->findChild<QPushButton*>("Btn_start")->click();
                waitFor([&] { return port->childCount() >= 8; }, 10000);
                settle(1300);  // two addresses past the last module, with no answer
                d->findChild<QPushButton*>("Btn_stop")->click();
                d->reject();
            });
            w.ToolButton_Scan->click();
            if (port->childCount() > 0) {
                w.TreeView1->setCurrentItem(port->child(0));
                if (auto* panel = qobject_cast<ModulePanel*>(w.PanelStack->currentWidget()))
                    panel->Identity().QueryButton()->click();
                settle(600);
            }
            monitor->raise();
            shoot("06-monitor.png", {monitor});
            monitor->close();
        }
    }

    w.close();
    FMmain = nullptr;
    return failures == 0 ? 0 : 1;
}
