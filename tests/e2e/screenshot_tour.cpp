// kelm-screenshot-tour: starts the real main window on the current display
// (scripts/screenshots.sh runs it under Xvfb beside the simulator's demo bus)
// and saves what a reviewer wants to look at:
//   01-start.png        the start page
//   02-host-port.png    the host port panel, port open, link check box shown
//   03-scan.png         the scan dialog during a scan
//   04-module.png       a module panel after its version query, new-parameter box open
//   05-about.png        the About box
//   digital-*.png       the four digital panels with states read from the
//                       simulated modules (the KELM-8I8T in each control mode)
//   08-trend.png        the trend view polling analog and digital channels of
//                       several demo modules
//   10-config-diff.png  "载入配置...": a file against the KELM-8I8T, the differences
//   11-config-result.png  and each setting's outcome after the write
//   lang-<zh|en>-*.png  the main window (host port panel), a module panel, the
//                       monitor and the trend view in Chinese and in English,
//                       switched from the toolbar's language list
//   en-*.png            module and channel panels again, in English
// Usage: kelm-screenshot-tour <output dir> <COM number>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QCursor>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGroupBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollBar>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <QTranslator>
#include <QTreeWidget>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

#include "app/AppSetup.h"
#include "app/TFMmain.h"
#include "app/TFMtrend.h"
#include "app/TFmabout.h"
#include "config/ConfigFile.h"
#include "gui/Language.h"
#include "host/Pnl_comset.h"
#include "host/TFMserching.h"
#include "modbus/ModbusMaster.h"
#include "modules/ChannelParts.h"
#include "modules/ConfigTransfer.h"
#include "modules/DoControlMode.h"
#include "modules/LampColumn.h"

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

// The analog panels with readings from the demo bus:
//   06-2ao.png   KELM-2AO: modes and both values written, then read back
//   07-8ad.png   KELM-8AD: eight ranges written and read back, then the data
//   08-8as.png   KELM-8AS: current and voltage channels and their data
//   09-8asp.png  KELM-8ASP: the same modes, sixteen times the counts
// The writes' confirmations are closed as they come up.
void shootAnalogPanels(TFMmain& w, QTreeWidgetItem* port) {
    auto node = [&](const QString& model) -> QTreeWidgetItem* {
        for (int i = 0; i < port->childCount(); ++i)
            if (port->child(i)->text(0).startsWith(model + "(")) return port->child(i);
        std::fprintf(stderr, "the scan did not find a %s\n", qPrintable(model));
        ++failures;
        return nullptr;
    };
    QTimer closer;
    closer.setInterval(150);
    QObject::connect(&closer, &QTimer::timeout, [] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
            box->accept();
    });
    closer.start();
    auto select = [&](QTreeWidgetItem* n) {
        w.TreeView1->setCurrentItem(port);
        w.TreeView1->setCurrentItem(n);
    };
    auto userPick = [](QComboBox* c, int index) {
        c->setCurrentIndex(index);
        emit c->activated(index);
    };
    auto check = [](bool ok, const char* what) {
        if (!ok) {
            std::fprintf(stderr, "no reply: %s\n", what);
            ++failures;
        }
    };

    if (QTreeWidgetItem* n = node("KELM-2AO")) {
        select(n);
        TPnl2AO& p = *w.Modules().Pnl_2AO;
        p.Ch(0).mode0->click();
        p.Ch(1).mode1->click();
        p.WriteModeButton()->click();
        settle(400);
        const int values[] = {12000, 6500};
        for (int ch = 0; ch < 2; ++ch) {
            QScrollBar* bar = p.Ch(ch).bar;
            bar->setSliderDown(true);
            bar->setSliderPosition(values[ch]);
            bar->setSliderDown(false);
        }
        p.WriteDataButton()->click();
        settle(400);
        select(n);
        p.ReadModeButton()->click();
        check(waitFor([&] { return p.Ch(1).value->text() == "6500"; }, 3000), "2AO read");
        shoot("06-2ao.png", {&w});
    }

    struct Input {
        const char* model;
        AnalogInputPanel* panel;
        std::vector<int> modes;
        const char* file;
    };
    const Input inputs[] = {
        {"KELM-8AD", w.Modules().Pnl_8AD, {0, 1, 2, 3, 4, 5, 6, 7}, "07-8ad.png"},
        {"KELM-8AS", w.Modules().Pnl_8AS, {0, 0, 1, 1, 0, 1, 0, 1}, "08-8as.png"},
        {"KELM-8ASP", w.Modules().Pnl_8AS, {0, 0, 1, 1, 0, 1, 0, 1}, "09-8asp.png"},
    };
    for (const Input& in : inputs) {
        QTreeWidgetItem* n = node(in.model);
        if (!n) continue;
        select(n);
        AnalogInputPanel& p = *in.panel;
        p.EnableBox()->click();
        for (int ch = 0; ch < 8; ++ch) userPick(p.Ch(ch).mode, in.modes[ch]);
        p.ModeSetButton()->click();
        settle(400);
        select(n);
        p.ModeReadButton()->click();
        check(waitFor([&] { return p.Ch(7).mode->currentIndex() >= 0; }, 3000), "mode read");
        p.DataReadButton()->click();
        check(waitFor([&] { return p.Ch(7).raw->text() != "0"; }, 3000), "data read");
        shoot(in.file, {&w});
    }
}

// The two channel panels on the demo bus:
//   06-input-channel.png   KELM-16I DI0 with its filter time read and a count running
//   07-output-channel.png  KELM-16T DO15 as a pulse output, a continuous run started
// The confirmations and notices that come up on the way are answered with OK.
void channelShots(TFMmain& w, QTreeWidgetItem* port) {
    auto node = [&](const char* model) -> QTreeWidgetItem* {
        for (int i = 0; i < port->childCount(); ++i)
            if (port->child(i)->text(0).startsWith(QLatin1String(model) + "("))
                return port->child(i);
        std::fprintf(stderr, "the scan did not find %s\n", model);
        ++failures;
        return nullptr;
    };
    QTimer answer;
    answer.setInterval(100);
    QObject::connect(&answer, &QTimer::timeout, [] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
            if (QAbstractButton* ok = box->button(QMessageBox::Ok)) ok->click();
    });
    answer.start();

    if (QTreeWidgetItem* m16i = node("KELM-16I"); m16i && m16i->childCount() > 0) {
        w.TreeView1->setCurrentItem(m16i->child(0));
        TPnlXiType* xi = w.Pnl_Xi_type;
        xi->Btn_Xi_filter_read->click();
        waitFor([&] { return xi->Edit_Xi_filter_value->text() != "0"; }, 2000);
        xi->Sbtn_Xi_Counter_on->click();
        waitFor([&] { return w.Master().State().DIDO_Button_Status == 0; }, 2000);
        settle(2300);  // DI0 of the demo module rises every 2 s
        xi->Btn_Xi_Counter_Read->click();
        waitFor([&] { return xi->Shape_Counter_DI->IsRunning(); }, 2000);
        shoot("06-input-channel.png", {&w});
    }
    if (QTreeWidgetItem* m16t = node("KELM-16T"); m16t && m16t->childCount() > 15) {
        // DO15 becomes a pulse output, as the module panel's mode write makes it.
        w.TreeView1->setCurrentItem(m16t);
        w.Master().Modbus_Send_oneWord(6, 7, 0x8000);
        settle(600);
        w.TreeView1->setCurrentItem(m16t->child(15));
        TPnlYoType* yo = w.Pnl_Yo_type;
        if (!waitFor([&] { return !yo->Gro_pulse_mode->isHidden(); }, 2000)) {
            std::fprintf(stderr, "the pulse group of DO15 did not show\n");
            ++failures;
        }
        yo->Btn_pulse_time_read->click();
        waitFor([&] { return yo->Edit_pulse_timeH->text() != "0"; }, 2000);
        yo->RaB_pulse_out_continue->setChecked(true);
        yo->Sbtn_pulse_on->click();
        waitFor([&] { return yo->Shape_Pulse_DO->IsRunning(); }, 2000);
        settle(300);
        shoot("07-output-channel.png", {&w});
    }
}

// ---- the digital panels ------------------------------------------------------

// Waits for the reply to the request just sent.
bool replied(TFMmain& w) {
    const bool ok =
        waitFor([&] { return w.StatusText(0) == QStringLiteral("当前终端通讯响应正常!"); }, 3000);
    settle(100);
    return ok;
}

// Runs an action that shows message boxes, answering each with OK.
void withBoxesAccepted(const std::function<void()>& action) {
    QTimer accept;
    accept.setInterval(100);
    QObject::connect(&accept, &QTimer::timeout, [] {
        // The OK button itself: a confirmation reads the button, not accept().
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
            if (QAbstractButton* ok = box->button(QMessageBox::Ok)) ok->click();
    });
    accept.start();
    action();
    settle(600);
}

QTreeWidgetItem* moduleNode(QTreeWidgetItem* port, const QString& model) {
    for (int i = 0; port && i < port->childCount(); ++i)
        if (port->child(i)->text(0).startsWith(model + QLatin1Char('('))) return port->child(i);
    std::fprintf(stderr, "the scan found no %s\n", qPrintable(model));
    ++failures;
    return nullptr;
}

void tick(LampColumn& c, unsigned word) {
    for (int ch = 0; ch < c.Count(); ++ch) c.Box(ch)->setChecked(((word >> ch) & 1u) != 0);
}

// Switches the given outputs on through their lamp buttons, one request each.
void switchOn(TFMmain& w, LampColumn& outputs, std::initializer_list<int> channels) {
    for (int ch : channels) {
        if (outputs.Pressed(ch)) continue;
        outputs.Button(ch)->click();
        if (!replied(w)) ++failures;
    }
}

// Selects a module node as the user does (the port node first, so that a
// node that is already current is selected afresh and its panel reset), and
// reads the versions.
void selectModule(TFMmain& w, QTreeWidgetItem* port, QTreeWidgetItem* node) {
    w.TreeView1->setCurrentItem(port);
    w.TreeView1->setCurrentItem(node);
    ModulePanel* panel = qobject_cast<ModulePanel*>(w.PanelStack->currentWidget());
    if (!panel) {
        ++failures;
        return;
    }
    panel->Identity().QueryButton()->click();
    replied(w);
}

void shootDigitalPanels(TFMmain& w, QTreeWidgetItem* port) {
    const ModulePanels& panels = w.Modules();
    if (QTreeWidgetItem* node = moduleNode(port, QStringLiteral("KELM-8I8T"))) {
        selectModule(w, port, node);
        TPnl8I8T& p = *panels.Pnl_8I8T;
        DoControlMode& mode = p.ControlMode();
        auto pick = [&](int index) {
            mode.ModeList()->setCurrentIndex(index);
            emit mode.ModeList()->activated(index);
        };
        switchOn(w, p.Outputs(), {1, 4, 6});
        p.Btn8i8t_dis_read->click();
        replied(w);
        p.Btn8i8t_dos_read->click();
        replied(w);
        shoot("digital-8i8t-mode0-single.png", {&w});

        pick(DoControlMode::kMulti);
        tick(p.Outputs(), 0x93);
        shoot("digital-8i8t-mode1-multi.png", {&w});

        // The output mode word and the initial states: written, then read
        // back into the boxes.
        pick(DoControlMode::kOutputMode);
        tick(p.Outputs(), 0x80);
        withBoxesAccepted([&] { p.ControlMode().DoModeSet()->click(); });
        pick(DoControlMode::kOutputMode);
        mode.DoModeRead()->click();
        replied(w);
        shoot("digital-8i8t-mode2-output-mode.png", {&w});

        pick(DoControlMode::kInitialStates);
        tick(p.Outputs(), 0x05);
        withBoxesAccepted([&] { p.ControlMode().InfoModeSet()->click(); });
        pick(DoControlMode::kInitialStates);
        mode.InfoModeRead()->click();
        replied(w);
        shoot("digital-8i8t-mode3-initial.png", {&w});
    }
    if (QTreeWidgetItem* node = moduleNode(port, QStringLiteral("KELM-16I"))) {
        selectModule(w, port, node);
        panels.Pnl_16I->Btn16i_dis_read->click();
        replied(w);
        shoot("digital-16i.png", {&w});
    }
    if (QTreeWidgetItem* node = moduleNode(port, QStringLiteral("KELM-16T"))) {
        selectModule(w, port, node);
        TPnl16T& p = *panels.Pnl_16T;
        switchOn(w, p.Outputs(), {0, 5, 9, 10, 15});
        p.Btn16t_dos_read->click();
        replied(w);
        shoot("digital-16t.png", {&w});
    }
    if (QTreeWidgetItem* node = moduleNode(port, QStringLiteral("KELM-8RY"))) {
        selectModule(w, port, node);
        TPnl8RY& p = *panels.Pnl_8RY;
        switchOn(w, p.Relays(), {1, 2, 6});
        p.Btn_Rel_status_read->click();
        replied(w);
        tick(p.Relays(), 0x46);
        withBoxesAccepted([&] { p.Btn8R_Info_mode_set->click(); });
        p.Btn8R_Info_mode_read->click();
        replied(w);
        shoot("digital-8ry.png", {&w});
    }
}

// ---- the panels in English ---------------------------------------------------

// The module and channel panels again, switched to English at run time with
// every English translation the program carries; the Chinese shots above are
// their counterparts. Waits are for the panels' own values, whatever language
// the status bar speaks.
//   en-module-8i8t.png     KELM-8I8T: versions read, new-parameter box open,
//                          the output mode word read back
//   en-module-16t.png      KELM-16T: the initial states read back
//   en-module-8ry.png      KELM-8RY: relay states read
//   en-module-8as.png      KELM-8AS: current and voltage channels and their data
//   en-module-2ao.png      KELM-2AO: modes and values read back
//   en-input-channel.png   KELM-16I DI0: filter time and count read
//   en-output-channel.png  KELM-16T DO15: pulse times and run state read
void shootPanelsInEnglish(TFMmain& w, QTreeWidgetItem* port) {
    std::vector<std::unique_ptr<QTranslator>> translators;
    const QDir i18n(QStringLiteral(":/i18n"));
    for (const QString& f : i18n.entryList({QStringLiteral("*_en.qm")})) {
        auto t = std::make_unique<QTranslator>();
        if (t->load(i18n.filePath(f)) && QCoreApplication::installTranslator(t.get()))
            translators.push_back(std::move(t));
    }
    if (translators.empty()) {
        std::fprintf(stderr, "no English translation is built in\n");
        ++failures;
        return;
    }
    settle(300);
    auto check = [](bool ok, const char* what) {
        if (!ok) {
            std::fprintf(stderr, "no reply: %s\n", what);
            ++failures;
        }
    };
    auto select = [&](QTreeWidgetItem* node) -> ModulePanel* {
        w.TreeView1->setCurrentItem(port);
        w.TreeView1->setCurrentItem(node);
        auto* panel = qobject_cast<ModulePanel*>(w.PanelStack->currentWidget());
        if (!panel) {
            ++failures;
            return nullptr;
        }
        panel->Identity().QueryButton()->click();
        check(waitFor([&] { return !panel->Identity().EditHardware()->text().isEmpty(); }, 3000),
              "versions");
        return panel;
    };
    const ModulePanels& panels = w.Modules();

    if (QTreeWidgetItem* node = moduleNode(port, QStringLiteral("KELM-8I8T"));
        node && select(node)) {
        TPnl8I8T& p = *panels.Pnl_8I8T;
        p.Identity().NewComToggle()->click();
        DoControlMode& mode = p.ControlMode();
        mode.ModeList()->setCurrentIndex(DoControlMode::kOutputMode);
        emit mode.ModeList()->activated(DoControlMode::kOutputMode);
        mode.DoModeRead()->click();
        settle(600);
        shoot("en-module-8i8t.png", {&w});
    }
    if (QTreeWidgetItem* node = moduleNode(port, QStringLiteral("KELM-16T"));
        node && select(node)) {
        DoControlMode& mode = panels.Pnl_16T->ControlMode();
        mode.ModeList()->setCurrentIndex(DoControlMode::kInitialStates);
        emit mode.ModeList()->activated(DoControlMode::kInitialStates);
        mode.InfoModeRead()->click();
        settle(600);
        shoot("en-module-16t.png", {&w});
    }
    if (QTreeWidgetItem* node = moduleNode(port, QStringLiteral("KELM-8RY"));
        node && select(node)) {
        panels.Pnl_8RY->Btn_Rel_status_read->click();
        settle(600);
        shoot("en-module-8ry.png", {&w});
    }
    if (QTreeWidgetItem* node = moduleNode(port, QStringLiteral("KELM-8AS"));
        node && select(node)) {
        AnalogInputPanel& p = *panels.Pnl_8AS;
        p.EnableBox()->click();
        p.ModeReadButton()->click();
        check(waitFor([&] { return p.Ch(7).mode->currentIndex() >= 0; }, 3000), "8AS modes");
        p.DataReadButton()->click();
        check(waitFor([&] { return p.Ch(7).raw->text() != "0"; }, 3000), "8AS data");
        shoot("en-module-8as.png", {&w});
    }
    if (QTreeWidgetItem* node = moduleNode(port, QStringLiteral("KELM-2AO"));
        node && select(node)) {
        TPnl2AO& p = *panels.Pnl_2AO;
        p.ReadModeButton()->click();
        check(
            waitFor([&] { return p.Ch(0).mode0->isChecked() || p.Ch(0).mode1->isChecked(); }, 3000),
            "2AO modes");
        settle(300);
        shoot("en-module-2ao.png", {&w});
    }
    if (QTreeWidgetItem* m16i = moduleNode(port, QStringLiteral("KELM-16I"));
        m16i && m16i->childCount() > 0) {
        w.TreeView1->setCurrentItem(m16i->child(0));
        TPnlXiType* xi = w.Pnl_Xi_type;
        xi->Btn_Xi_filter_read->click();
        check(waitFor([&] { return xi->Edit_Xi_filter_value->text() != "0"; }, 3000), "filter");
        xi->Btn_Xi_Counter_Read->click();
        settle(600);
        shoot("en-input-channel.png", {&w});
    }
    if (QTreeWidgetItem* m16t = moduleNode(port, QStringLiteral("KELM-16T"));
        m16t && m16t->childCount() > 15) {
        w.TreeView1->setCurrentItem(m16t->child(15));
        TPnlYoType* yo = w.Pnl_Yo_type;
        check(waitFor([&] { return !yo->Gro_pulse_mode->isHidden(); }, 3000), "DO15 mode");
        yo->Btn_pulse_time_read->click();
        check(waitFor([&] { return yo->Edit_pulse_timeH->text() != "0"; }, 3000), "pulse times");
        yo->Btn_pulse_status_read->click();
        settle(600);
        shoot("en-output-channel.png", {&w});
    }

    for (auto& t : translators) QCoreApplication::removeTranslator(t.get());
    settle(300);
}

// The KELM-8I8T's configuration saved through its panel, four settings of it
// changed in the file, and the file loaded again: the difference dialog, then
// the result.
void shootConfigDialogs(TFMmain& w, QTreeWidgetItem* port) {
    QTreeWidgetItem* node = moduleNode(port, QStringLiteral("KELM-8I8T"));
    QTemporaryDir dir;
    if (!node || !dir.isValid()) {
        std::fprintf(stderr, "no KELM-8I8T for the configuration dialogs\n");
        ++failures;
        return;
    }
    selectModule(w, port, node);
    auto* panel = qobject_cast<ModulePanel*>(w.PanelStack->currentWidget());
    if (!panel) return;
    const QString path = dir.filePath(QStringLiteral("KELM-8I8T.json"));
    ConfigHooks& hooks = w.ConfigFileHooks();
    hooks.saveFileName = [&](QWidget*, const QString&) { return path; };
    hooks.openFileName = [&](QWidget*) { return path; };
    withBoxesAccepted([&] { panel->SaveConfigButton()->click(); });
    QFile f(path);
    std::string error;
    std::optional<config::ModuleConfig> c;
    if (f.open(QIODevice::ReadOnly)) c = config::ParseConfig(f.readAll().toStdString(), &error);
    f.close();
    if (!c) {
        std::fprintf(stderr, "the saved configuration does not read back: %s\n", error.c_str());
        ++failures;
        return;
    }
    for (auto& s : c->settings) {
        if (s.item->key == "pulse_on") s.values[3] = s.values[3] == 2500 ? 2400 : 2500;
        if (s.item->key == "pulse_off") s.values[3] = s.values[3] == 1200 ? 1100 : 1200;
        if (s.item->key == "do_init") s.values[0] ^= 1u;
        if (s.item->key == "di_filter") s.values[5] = s.values[5] == 300 ? 400 : 300;
    }
    const std::string text = config::ToJson(*c);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        f.write(text.data(), static_cast<qint64>(text.size())) !=
            static_cast<qint64>(text.size())) {
        ++failures;
        return;
    }
    f.close();
    // Looks for the dialog from a timer rather than a wait of its own: the
    // transfer waits for its replies in local event loops, which a wait here
    // would keep from returning.
    auto whenShown = [&w](const char* name, const std::function<void(QWidget*)>& act) {
        auto* poll = new QTimer(&w);
        auto* elapsed = new QElapsedTimer;
        elapsed->start();
        QObject::connect(poll, &QTimer::timeout, [&w, poll, elapsed, name, act] {
            QWidget* d = nullptr;
            for (QWidget* t : QApplication::topLevelWidgets())
                if (t->isVisible() && t->objectName() == QLatin1String(name)) d = t;
            if (!d && elapsed->elapsed() < 20000) return;
            poll->stop();
            poll->deleteLater();
            delete elapsed;
            if (!d) {
                std::fprintf(stderr, "%s did not show\n", name);
                ++failures;
                return;
            }
            d->move(w.x() + 140, w.y() + 120);
            act(d);
        });
        poll->start(50);
    };
    whenShown("DlgConfigDiff", [&](QWidget* d) {
        shoot("10-config-diff.png", {&w, d});
        whenShown("DlgConfigResult", [&](QWidget* r) {
            shoot("11-config-result.png", {&w, r});
            qobject_cast<QDialog*>(r)->accept();
        });
        qobject_cast<QDialog*>(d)->accept();
    });
    withBoxesAccepted([&] { panel->LoadConfigButton()->click(); });
    hooks.saveFileName = nullptr;
    hooks.openFileName = nullptr;
}

}  // namespace

// The same windows in both languages, open windows retranslated in place
// (switched directly rather than through the toolbar's list, which would
// remember the choice in the user's settings).
void shootLanguages(TFMmain& w, QTreeWidgetItem* port) {
    QTreeWidgetItem* module = nullptr;
    for (int i = 0; i < port->childCount(); ++i)
        if (port->child(i)->text(0).startsWith("KELM-8AD(")) module = port->child(i);
    if (!module && port->childCount() > 0) module = port->child(0);
    w.ToolButton_Monitor->click();
    w.ToolButton_Trend->click();
    QWidget* monitor = w.findChild<QWidget*>("FMmonitor");
    TFMtrend* trend = w.Trend();
    for (const char* code : {"zh", "en"}) {
        SetUiLanguage(*ParseUiLanguage(QString::fromLatin1(code)));
        settle(300);
        const QString prefix = QStringLiteral("lang-%1-").arg(QLatin1String(code));
        w.raise();
        w.TreeView1->setCurrentItem(port);
        shoot(prefix + "main.png", {&w});
        if (module) {
            w.TreeView1->setCurrentItem(module);
            shoot(prefix + "module.png", {&w});
        }
        if (monitor) {
            monitor->show();
            monitor->raise();
            shoot(prefix + "monitor.png", {monitor});
            monitor->hide();
        }
        if (trend) {
            trend->show();
            trend->raise();
            shoot(prefix + "trend.png", {trend});
            trend->hide();
        }
    }
    // Back to the language the tour started in.
    SetUiLanguage(UiLanguage::Chinese);
}

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
        shootAnalogPanels(w, port);
    } else {
        std::fprintf(stderr, "the scan found no module\n");
        ++failures;
    }

    shootDigitalPanels(w, port);
    // After the digital panels: it turns a demo output into a pulse output.
    channelShots(w, port);

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

    // 08-trend.png: the trend view over a few seconds of the demo bus: the
    // KELM-8AD's inputs, the KELM-8I8T's inputs and the KELM-2AO's outputs.
    {
        int added = 0;
        for (int i = 0; i < port->childCount(); ++i) {
            const QString t = port->child(i)->text(0);
            if (t.startsWith("KELM-8AD(") || t.startsWith("KELM-8I8T(") ||
                t.startsWith("KELM-2AO(")) {
                w.AddNodeToTrend(port->child(i));
                ++added;
            }
        }
        TFMtrend* trend = w.Trend();
        if (added < 3 || !trend) {
            std::fprintf(stderr, "the trend view has not got its three modules\n");
            ++failures;
        } else {
            trend->move(w.x() + 40, w.y() + 60);
            trend->resize(1180, 680);
            trend->Btn_start->click();
            waitFor([&] { return trend->Poller().Rounds() >= 12; }, 20000);
            trend->Btn_stop->click();
            const TrendStore& st = trend->Store();
            if (st.Size() > 2) trend->SetCursorTime((st.Time(0) + st.Time(st.Size() - 1)) / 2);
            settle(300);
            trend->raise();
            shoot("08-trend.png", {trend});
            trend->close();
        }
    }

    shootPanelsInEnglish(w, port);
    shootConfigDialogs(w, port);
    shootLanguages(w, port);

    w.close();
    FMmain = nullptr;
    return failures == 0 ? 0 : 1;
}
