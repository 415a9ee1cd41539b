// The port selector bound to a serial component whose list comes from a
// fake port source: items and selection, user choices, reloads through the
// component's notices, and the lifetimes of box and component. The port
// configuration dialog: it shows the record it is given, OK hands back the
// choices with the DCB flags rebuilt, Cancel changes nothing, and through a
// component it reaches the line settings.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QPushButton>
#include <QTimer>
#include <filesystem>
#include <memory>
#include <thread>

#include "serial/EnumPorts.h"
#include "serial/LoopExecutor.h"
#include "serial/VirtualPortDir.h"
#include "serial/ksComm.h"
#include "serial/posix/Pty.h"
#include "serialui/TksDeviceBox.h"
#include "serialui/TksPortConfigDialog.h"

using namespace kelm;
using ::testing::ElementsAre;

namespace {

QApplication& App() {
    static int argc = 1;
    static char arg0[] = "test_serialui";
    static char* argv[] = {arg0, nullptr};
    static QApplication* app = [] {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        return new QApplication(argc, argv);
    }();
    return *app;
}

// The ports the fake source reports; tests change it between reloads.
std::vector<PortMapValue> gMap;

class FakeSource : public PortSource {
  public:
    std::vector<PortMapValue> ReadPortMap() override { return gMap; }
    std::vector<PortDeviceRecord> DeviceRecords(bool) override {
        std::vector<PortDeviceRecord> out;
        for (const auto& v : gMap) {
            PortDeviceRecord r;
            r.PortName = v.ValueName;
            r.Description = "dev " + v.ValueName;
            out.push_back(r);
        }
        return out;
    }
};

class DeviceBox : public ::testing::Test {
  protected:
    void SetUp() override {
        App();
        gMap = {{"/dev/a", "COM3"}, {"/dev/b", "COM10"}, {"/dev/c", "COM5"}};
        SetPortSourceFactory([] { return std::make_unique<FakeSource>(); });
        comm = std::make_unique<TksComm>(&ex);
        comm->SetEnumPorts(TksEnumPorts::epFullPresent);
    }
    void TearDown() override { SetPortSourceFactory({}); }

    std::vector<std::string> Items(const TksDeviceBox& box) {
        std::vector<std::string> out;
        for (int i = 0; i < box.count(); ++i) out.push_back(box.itemText(i).toStdString());
        return out;
    }

    LoopExecutor ex;
    std::unique_ptr<TksComm> comm;
};

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

TEST_F(DeviceBox, BindingListsThePortsAndSelectsTheCurrentOne) {
    TksDeviceBox box;
    EXPECT_FALSE(box.isEditable());
    comm->SetComPortNo(5);
    box.SetksComm(comm.get());
    EXPECT_THAT(Items(box),
                ElementsAre("COM3 (dev /dev/a)", "COM5 (dev /dev/c)", "COM10 (dev /dev/b)"));
    EXPECT_EQ(box.currentIndex(), 1);
    EXPECT_EQ(box.Device(2)->Data, 10);
    EXPECT_EQ(box.Device(2)->PortName, "/dev/b");
    EXPECT_EQ(box.Device(3), nullptr);
    EXPECT_EQ(box.Device(-1), nullptr);

    TksDeviceBox other;
    comm->SetComPortNo(7);  // not listed
    other.SetksComm(comm.get());
    EXPECT_EQ(other.count(), 3);
    EXPECT_EQ(other.currentIndex(), -1);
    EXPECT_EQ(box.currentIndex(), -1);  // the first box followed the change

    // A device index outside the list changes nothing.
    comm->SetComPortNo(5);
    EXPECT_EQ(comm->DeviceIndex(), 1);
    comm->SetDeviceIndex(-1);
    comm->SetDeviceIndex(3);
    EXPECT_EQ(comm->ComPortNo(), 5);
    comm->SetDeviceIndex(0);
    EXPECT_EQ(comm->ComPortNo(), 3);
}

TEST_F(DeviceBox, UserSelectionSetsThePortAndRaisesTheChangeEvent) {
    TksDeviceBox box;
    box.SetksComm(comm.get());
    int changes = 0;
    box.OnChange = [&](TksDeviceBox* s) {
        EXPECT_EQ(s, &box);
        ++changes;
    };
    int emitted = 0;
    QObject::connect(&box, &TksDeviceBox::changed, [&](int i) {
        EXPECT_EQ(i, 2);
        ++emitted;
    });
    emit box.activated(2);
    EXPECT_EQ(comm->ComPortNo(), 10);
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(emitted, 1);
    EXPECT_EQ(box.currentIndex(), 2);  // rebuilt and reselected
    EXPECT_EQ(box.count(), 3);

    box.setCurrentIndex(0);  // by program: not a change
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(comm->ComPortNo(), 10);

    TksDeviceBox unbound;
    unbound.addItem("x");
    unbound.OnChange = [&](TksDeviceBox*) { ++changes; };
    emit unbound.activated(0);
    EXPECT_EQ(changes, 1);
}

TEST_F(DeviceBox, ReloadsWhenTheComponentReloadsItsList) {
    TksDeviceBox box;
    comm->SetComPortNo(10);
    box.SetksComm(comm.get());
    gMap.push_back({"/dev/d", "COM4"});
    EXPECT_FALSE(box.WMDeviceChange(DBT_DEVICEARRIVAL, 2));  // not a port
    EXPECT_EQ(box.count(), 3);
    EXPECT_TRUE(box.WMDeviceChange(DBT_DEVICEARRIVAL, DBT_DEVTYP_PORT));
    EXPECT_THAT(Items(box), ElementsAre("COM3 (dev /dev/a)", "COM4 (dev /dev/d)",
                                        "COM5 (dev /dev/c)", "COM10 (dev /dev/b)"));
    EXPECT_EQ(box.currentIndex(), 3);
    gMap.erase(gMap.begin());
    EXPECT_TRUE(box.WMDeviceChange(DBT_DEVNODES_CHANGED, 0));
    EXPECT_EQ(box.count(), 3);
    EXPECT_EQ(box.currentIndex(), 2);

    // A notice raised on another thread is handed to the box's thread.
    gMap.push_back({"/dev/e", "COM1"});
    comm->DeviceListClear();
    comm->GetDeviceList(nullptr);
    std::thread([&] { box.DoNotify(comm.get(), csDeviceIdChanged); }).join();
    EXPECT_EQ(box.count(), 3);  // not yet: queued
    QCoreApplication::processEvents();
    EXPECT_EQ(box.count(), 4);
    box.DoNotify(comm.get(), csClosed);  // other codes: nothing
    EXPECT_EQ(box.count(), 4);

    TksDeviceBox unbound;
    EXPECT_FALSE(unbound.WMDeviceChange(DBT_DEVNODES_CHANGED, 0));
}

TEST_F(DeviceBox, ComponentDestroyedFirstLeavesTheItems) {
    TksDeviceBox box;
    box.SetResetOnChanged(true);
    comm->SetComPortNo(3);
    box.SetksComm(comm.get());
    comm.reset();
    EXPECT_EQ(box.ksComm(), nullptr);
    EXPECT_EQ(box.currentIndex(), -1);
    EXPECT_EQ(box.count(), 3);
    EXPECT_EQ(box.Device(0)->Data, 3);  // records outlive the component's list
    emit box.activated(1);              // unbound now: nothing happens
}

TEST_F(DeviceBox, BoxDestroyedOrReboundLeavesNoListenerBehind) {
    const int before = comm->NotifyList().Count();
    {
        TksDeviceBox box;
        box.SetksComm(comm.get());
        box.SetksComm(comm.get());  // once only
        EXPECT_EQ(comm->NotifyList().Count(), before + 1);
    }
    EXPECT_EQ(comm->NotifyList().Count(), before);

    TksComm second(&ex);
    {
        TksDeviceBox box;
        box.SetksComm(comm.get());
        box.SetksComm(&second);
        EXPECT_EQ(comm->NotifyList().Count(), before);
        EXPECT_EQ(second.NotifyList().Count(), 1);
        box.SetksComm(nullptr);
        EXPECT_EQ(second.NotifyList().Count(), 0);
        EXPECT_EQ(box.count(), 0);
    }
    comm->SetComPortNo(5);  // would call into a destroyed box if one were left
}

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
        comm.ConfigDialog();  // no dialog registered: nothing changes
        EXPECT_EQ(comm.BaudRate(), 19200u);
        comm.SetConfigDialogProvider(MakePortConfigDialogProvider(nullptr));

        AnswerNextDialog([](TksPortConfigDialog& d) { d.CmbBaud()->setCurrentText("4800"); },
                         false);
        comm.ConfigDialog();
        EXPECT_EQ(comm.BaudRate(), 19200u);

        AnswerNextDialog(
            [&](TksPortConfigDialog& d) {
                EXPECT_EQ(d.windowTitle().toStdString(), (dir / "COM88").string() + " 属性");
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
