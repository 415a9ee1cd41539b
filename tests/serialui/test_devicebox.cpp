// The port selector bound to a serial component whose list comes from a
// fake port source: items and selection, user choices, reloads through the
// component's notices, and the lifetimes of box and component.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <memory>
#include <thread>

#include "serial/EnumPorts.h"
#include "serial/LoopExecutor.h"
#include "serial/ksComm.h"
#include "serialui/TksDeviceBox.h"

using namespace kelm;
using ::testing::ElementsAre;

namespace {

QApplication& App() {
    static int argc = 1;
    static char arg0[] = "test_devicebox";
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

TEST_F(DeviceBox, DeviceIndexOutsideTheListChangesNothing) {
    comm->SetComPortNo(5);
    comm->GetDeviceList(nullptr);
    ASSERT_EQ(comm->DeviceCount(), 3);
    EXPECT_EQ(comm->DeviceIndex(), 1);
    comm->SetDeviceIndex(-1);
    comm->SetDeviceIndex(3);
    EXPECT_EQ(comm->ComPortNo(), 5);
    comm->SetDeviceIndex(0);
    EXPECT_EQ(comm->ComPortNo(), 3);
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
    EXPECT_TRUE(box.ResetOnChanged());
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
