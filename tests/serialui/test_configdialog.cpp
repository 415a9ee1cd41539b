// The port configuration dialog: it shows the record it is given, OK hands
// back the choices with the DCB flags rebuilt, Cancel changes nothing, and
// through a component it reaches the line settings.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QPushButton>
#include <QTimer>
#include <filesystem>

#include "serial/LoopExecutor.h"
#include "serial/VirtualPortDir.h"
#include "serial/posix/Pty.h"
#include "serialui/TksPortConfigDialog.h"

using namespace kelm;

namespace {

QApplication& App() {
    static int argc = 1;
    static char arg0[] = "test_configdialog";
    static char* argv[] = {arg0, nullptr};
    static QApplication* app = [] {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        return new QApplication(argc, argv);
    }();
    return *app;
}

TCommConfig Sample() {
    TCommConfig cfg;
    cfg.dcb.BaudRate = 9600;
    cfg.dcb.ByteSize = 7;
    cfg.dcb.Parity = 2;  // even
    cfg.dcb.StopBits = 2;
    cfg.dcb.Flags = dcbFlagProtocolHardware | DCB_fParity;
    cfg.dcb.XonLim = 80;
    return cfg;
}

// Answers the next modal dialog: edit runs on it, then OK or Cancel.
void AnswerNextDialog(std::function<void(TksPortConfigDialog&)> edit, bool ok) {
    QTimer::singleShot(0, [edit, ok] {
        auto* d = qobject_cast<TksPortConfigDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(d, nullptr);
        edit(*d);
        auto* box = d->findChild<QDialogButtonBox*>();
        box->button(ok ? QDialogButtonBox::Ok : QDialogButtonBox::Cancel)->click();
    });
}

}  // namespace

TEST(PortConfigDialog, ShowsTheRecordAndHandsBackTheChoices) {
    App();
    TksPortConfigDialog d("/dev/ttyUSB0", Sample());
    EXPECT_EQ(d.windowTitle(), QString("/dev/ttyUSB0 属性"));
    EXPECT_EQ(d.CmbBaud()->currentText(), "9600");
    EXPECT_EQ(d.CmbDataBits()->currentText(), "7");
    EXPECT_EQ(d.CmbParity()->currentText(), QString("偶"));
    EXPECT_EQ(d.CmbStopBits()->currentText(), "2");
    EXPECT_EQ(d.CmbFlow()->currentText(), QString("硬件"));

    TCommConfig same = d.Result();  // untouched: the same line settings
    EXPECT_EQ(same.dcb.BaudRate, 9600u);
    EXPECT_EQ(same.dcb.Flags, dcbFlagProtocolHardware | DCB_fParity);
    EXPECT_EQ(same.dcb.XonLim, 80);

    d.CmbBaud()->setCurrentText("115200");
    d.CmbDataBits()->setCurrentText("8");
    d.CmbParity()->setCurrentIndex(0);
    d.CmbStopBits()->setCurrentIndex(0);
    d.CmbFlow()->setCurrentIndex(0);  // Xon / Xoff
    const TCommConfig r = d.Result();
    EXPECT_EQ(r.dcb.BaudRate, 115200u);
    EXPECT_EQ(r.dcb.ByteSize, 8);
    EXPECT_EQ(r.dcb.Parity, 0);
    EXPECT_EQ(r.dcb.StopBits, 0);
    EXPECT_EQ(r.dcb.Flags, dcbFlagProtocolXOnXOff);  // parity flag cleared too

    TCommConfig odd = Sample();
    odd.dcb.BaudRate = 12345;  // not in the list: kept, not replaced
    TksPortConfigDialog d2("x", odd);
    EXPECT_EQ(d2.Result().dcb.BaudRate, 12345u);
}

TEST(PortConfigDialog, ThroughTheComponentOkAppliesAndCancelChangesNothing) {
    App();
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / ("kelm-cfgdlg-" + std::to_string(::getpid()));
    ::setenv("KELM_PORTS_DIR", dir.c_str(), 1);
    posix::Pty pty;
    pty.HoldSlaveOpen();
    ASSERT_TRUE(VirtualPortDir::Publish(88, pty.SlavePath()));
    LoopExecutor ex;
    {
        TksComm comm(&ex);
        comm.SetEnumPorts(TksEnumPorts::epFullPresent);
        comm.SetStreamProtocol(TStreamProtocol::spNone);
        comm.Update();
        comm.SetComPortNo(88);
        comm.SetActive(true);
        ASSERT_TRUE(comm.Active());
        comm.SetConfigDialogProvider(MakePortConfigDialogProvider(nullptr));

        AnswerNextDialog([](TksPortConfigDialog& d) { d.CmbBaud()->setCurrentText("4800"); },
                         false);
        comm.ConfigDialog();
        EXPECT_EQ(comm.BaudRate(), 19200u);

        AnswerNextDialog(
            [](TksPortConfigDialog& d) {
                d.CmbBaud()->setCurrentText("4800");
                d.CmbFlow()->setCurrentIndex(0);
            },
            true);
        comm.ConfigDialog();
        EXPECT_EQ(comm.BaudRate(), 4800u);
        EXPECT_EQ(comm.StreamProtocol(), TStreamProtocol::spXonXoff);
        EXPECT_TRUE(comm.Active());
    }
    ::unsetenv("KELM_PORTS_DIR");
    fs::remove_all(dir);
}
