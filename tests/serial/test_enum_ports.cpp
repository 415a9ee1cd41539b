// Port list rules: ordered insertion, the active-port map, the three modes on
// a fake source, and the system source on a fake sysfs tree.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "serial/EnumPorts.h"
#include "serial/VirtualPortDir.h"

namespace fs = std::filesystem;
using namespace kelm;
using ::testing::ElementsAre;
using ::testing::Pair;

namespace {

class FakeSource : public PortSource {
  public:
    std::vector<PortMapValue> map;
    std::vector<PortDeviceRecord> records;
    std::vector<bool> asked;  // presentOnly of every DeviceRecords call

    std::vector<PortMapValue> ReadPortMap() override { return map; }
    std::vector<PortDeviceRecord> DeviceRecords(bool presentOnly) override {
        asked.push_back(presentOnly);
        return records;
    }
};

PortDeviceRecord Rec(std::string portName, std::string description, std::string service = "") {
    PortDeviceRecord r;
    r.PortName = std::move(portName);
    r.Description = std::move(description);
    r.Service = std::move(service);
    r.Driver = "drv";
    r.Manufacturer = "maker";
    return r;
}

std::vector<std::pair<int, std::string>> Texts(const std::vector<PortDeviceRecord>& list) {
    std::vector<std::pair<int, std::string>> out;
    for (const auto& r : list) out.emplace_back(r.Data, r.NameFriendly);
    return out;
}

}  // namespace

TEST(AddSorted, OrdersByNumberAndKeepsEqualNumbersInArrivalOrder) {
    NumberedList L;
    AddSorted("COM5", 5, L);
    AddSorted("COM10", 10, L);  // appended: last number is smaller
    AddSorted("COM3", 3, L);    // before the first greater one
    AddSorted("COM5b", 5, L);   // after the equal one, before COM10
    AddSorted("COM3", 3, L);    // exact string already there: nothing
    EXPECT_THAT(L,
                ElementsAre(Pair("COM3", 3), Pair("COM5", 5), Pair("COM5b", 5), Pair("COM10", 10)));
    AddSorted("COM10x", 10, L);  // equal to the last and nothing greater: dropped
    EXPECT_EQ(L.size(), 4u);
}

TEST(GetPortList, NumericOrderOnePerPortAndSkipsWhatIsNoComNumber) {
    const std::vector<PortMapValue> map = {{"/dev/ttyUSB7", "COM10"}, {"/dev/ttyS2", " com3 "},
                                           {"/dev/other", "COM3"},    {"/dev/lp0", "LPT1"},
                                           {"/dev/bad", "COMx"},      {"/dev/empty", "COM"}};
    NumberedList L;
    L.emplace_back("stale", 1);
    GetPortList(map, L, true);
    EXPECT_THAT(L, ElementsAre(Pair("COM3=/dev/ttyS2", 3), Pair("COM10=/dev/ttyUSB7", 10)));
    GetPortList(map, L, false);
    EXPECT_THAT(L, ElementsAre(Pair("COM3", 3), Pair("COM10", 10)));
}

TEST(AddDeviceSorted, InsertsByDataAndRefusesATakenNumber) {
    std::vector<PortDeviceRecord> list;
    auto with = [](int n) {
        PortDeviceRecord r;
        r.Data = n;
        r.NameFriendly = "COM" + std::to_string(n);
        return r;
    };
    EXPECT_EQ(AddDeviceSorted(list, with(7)), 0);
    EXPECT_EQ(AddDeviceSorted(list, with(9)), 1);
    EXPECT_EQ(AddDeviceSorted(list, with(2)), 0);
    EXPECT_EQ(AddDeviceSorted(list, with(8)), 2);
    EXPECT_EQ(AddDeviceSorted(list, with(8)), -1);
    EXPECT_EQ(AddDeviceSorted(list, with(9)), -1);
    ASSERT_EQ(list.size(), 4u);
    EXPECT_EQ(list[0].Data, 2);
    EXPECT_EQ(list[1].Data, 7);
    EXPECT_EQ(list[2].Data, 8);
    EXPECT_EQ(list[3].Data, 9);
}

TEST(BuildPortList, QuickModeListsBareNamesFromTheMapOnly) {
    FakeSource src;
    src.map = {{"/dev/ttyUSB0", "COM33"}, {"/dev/ttyS0", "COM1"}};
    src.records = {Rec("/dev/ttyS0", "16550A UART, /dev/ttyS0")};
    const auto list = LoadPortRecords(PortEnumMode::QuickAll, src);
    EXPECT_TRUE(src.asked.empty());  // device records are not consulted
    EXPECT_THAT(Texts(list), ElementsAre(Pair(1, "COM1"), Pair(33, "COM33")));
    EXPECT_EQ(list[0].PortName, "/dev/ttyS0");
    EXPECT_EQ(list[0].NamePDO, "/dev/ttyS0");
    EXPECT_EQ(list[0].NameDeviceDos, "COM1");
    EXPECT_EQ(list[1].Description, "");
}

TEST(BuildPortList, FullPresentDescribesMatchesAndDropsUnmatchedEntries) {
    FakeSource src;
    src.map = {{"/dev/ttyS0", "COM1"}, {"/dev/ttyUSB0", "COM33"}, {"/dev/gone", "COM40"}};
    src.records = {Rec("/dev/ttyUSB0", "FT232R USB UART, /dev/ttyUSB0", "ftdi_sio"),
                   Rec("/dev/ttyS0", "16550A UART, /dev/ttyS0", "serial"),
                   Rec("/dev/rfcomm0", "Bluetooth link, /dev/rfcomm0")};
    const auto list = LoadPortRecords(PortEnumMode::FullPresent, src);
    EXPECT_THAT(src.asked, ElementsAre(true));
    // COM40 has no device behind it while a record is still unmatched: dropped.
    // The Bluetooth record is a port of its own, numbered past 4096.
    EXPECT_THAT(Texts(list),
                ElementsAre(Pair(1, "COM1 (16550A UART, /dev/ttyS0)"),
                            Pair(33, "COM33 (FT232R USB UART, /dev/ttyUSB0)"),
                            Pair(4097, "/dev/rfcomm0 (Bluetooth link, /dev/rfcomm0)")));
    EXPECT_EQ(list[1].Service, "ftdi_sio");
    EXPECT_EQ(list[1].Driver, "drv");
    EXPECT_EQ(list[1].Manufacturer, "maker");
    EXPECT_EQ(list[1].PortName, "/dev/ttyUSB0");
    EXPECT_EQ(list[2].PortName, "/dev/rfcomm0");
    EXPECT_EQ(list[2].NameDeviceDos, "/dev/rfcomm0");
}

TEST(BuildPortList, FullPresentKeepsUnmatchedEntriesWhenNoRecordIsLeft) {
    FakeSource src;
    src.map = {{"/dev/ttyS0", "COM1"}, {"/dev/gone", "COM40"}};
    src.records = {Rec("/dev/ttyS0", "16550A UART, /dev/ttyS0")};
    // COM1 consumes the only record, so COM40 is kept.
    EXPECT_THAT(Texts(LoadPortRecords(PortEnumMode::FullPresent, src)),
                ElementsAre(Pair(1, "COM1 (16550A UART, /dev/ttyS0)"), Pair(40, "COM40")));
    src.records.clear();  // no device records at all: the map stands alone
    EXPECT_THAT(Texts(LoadPortRecords(PortEnumMode::FullPresent, src)),
                ElementsAre(Pair(1, "COM1"), Pair(40, "COM40")));
}

TEST(BuildPortList, FullInfoNeverDropsAndAsksForAbsentDevicesToo) {
    FakeSource src;
    src.map = {{"/dev/gone", "COM40"}};
    src.records = {Rec("/dev/x", "dev x")};
    const auto list = LoadPortRecords(PortEnumMode::FullInfo, src);
    EXPECT_THAT(src.asked, ElementsAre(false));
    EXPECT_THAT(Texts(list), ElementsAre(Pair(40, "COM40"), Pair(4097, "/dev/x (dev x)")));
}

TEST(BuildPortList, RecordsBecomePortsByTheirNames) {
    FakeSource src;
    src.records = {Rec("LPT1", "printer port"),   // never a port
                   Rec("", "no name at all"),     // nothing to open: skipped
                   Rec("COM7", "seven"),          // numbered by its COM name
                   Rec("/dev/ttyXR0", "exar"),    // 4097
                   Rec("COMx", "not a number"),   // number 0
                   Rec("/dev/ttyGS0", "gadget"),  // 4098
                   Rec("COM7", "second seven")};  // number taken: refused
    const auto list = LoadPortRecords(PortEnumMode::FullInfo, src);
    EXPECT_THAT(Texts(list),
                ElementsAre(Pair(0, "COMx (not a number)"), Pair(7, "COM7 (seven)"),
                            Pair(4097, "/dev/ttyXR0 (exar)"), Pair(4098, "/dev/ttyGS0 (gadget)")));
    EXPECT_EQ(list[1].PortName, "COM7");
}

TEST(BuildPortList, MatchesByComNameOrByNameInParentheses) {
    FakeSource src;
    src.map = {{"/dev/ttyUSB1", "COM34"}, {"/dev/ttyUSB2", "COM35"}};
    src.records = {Rec("", "Modem (COM35)"), Rec("com34", "by name")};
    const auto list = LoadPortRecords(PortEnumMode::FullPresent, src);
    EXPECT_THAT(Texts(list),
                ElementsAre(Pair(34, "COM34 (by name)"), Pair(35, "COM35 (Modem (COM35))")));
    EXPECT_EQ(list[0].PortName, "com34");
    // The record matched through its description has no node of its own:
    // the port is still opened by the device the map names.
    EXPECT_EQ(list[1].PortName, "/dev/ttyUSB2");
}

TEST(KernelNames, FixedNumberBlocks) {
    EXPECT_EQ(PortNumberOfKernelName("ttyS0"), 1);
    EXPECT_EQ(PortNumberOfKernelName("ttyS31"), 32);
    EXPECT_EQ(PortNumberOfKernelName("ttyUSB0"), 33);
    EXPECT_EQ(PortNumberOfKernelName("ttyUSB31"), 64);
    EXPECT_EQ(PortNumberOfKernelName("ttyACM2"), 67);
    EXPECT_EQ(PortNumberOfKernelName("ttyAMA0"), 97);
    EXPECT_EQ(PortNumberOfKernelName("ttyS32"), std::nullopt);
    EXPECT_EQ(PortNumberOfKernelName("ttyS01"), std::nullopt);
    EXPECT_EQ(PortNumberOfKernelName("ttySAC0"), std::nullopt);
    EXPECT_EQ(PortNumberOfKernelName("tty1"), std::nullopt);
    EXPECT_EQ(PortNumberOfKernelName("ttyUSB"), std::nullopt);
}

// A fake sysfs tree: the system source must list hardware ttys, skip UART
// slots without hardware and ttys without a device, and describe USB
// adaptors from their sysfs attributes when there is no udev database.
class FakeSysfs : public ::testing::Test {
  protected:
    void SetUp() override {
        root_ = fs::temp_directory_path() / ("kelm-sysfs-" + std::to_string(::getpid()));
        fs::remove_all(root_);
        fs::create_directories(root_ / "ports");
        ::setenv("KELM_PORTS_DIR", (root_ / "ports").c_str(), 1);
        sys_ = root_ / "sys";
        // The serial core's UART with hardware, and an empty slot.
        MakeTty("ttyS0", "devices/pnp0/00:00/00:00:0/00:00:0.0", "4");
        Driver("devices/pnp0/00:00/00:00:0/00:00:0.0", "port");
        Driver("devices/pnp0/00:00", "serial");
        MakeTty("ttyS1", "devices/platform/serial8250/serial8250:0/serial8250:0.1", "0");
        // A USB adaptor.
        const std::string usb = "devices/pci0000:00/usb1/1-1";
        Attr(usb + "/idVendor", "0403");
        Attr(usb + "/idProduct", "6001");
        Attr(usb + "/product", "FT232R USB UART");
        Attr(usb + "/manufacturer", "FTDI");
        MakeTty("ttyUSB0", usb + "/1-1:1.0/ttyUSB0", "");
        Driver(usb + "/1-1:1.0/ttyUSB0", "ftdi_sio");
        // A kind the numbering does not know, and a console without device.
        MakeTty("ttyXR0", "devices/pci0000:00/0000:00:1c.0", "");
        Driver("devices/pci0000:00/0000:00:1c.0", "exar_serial");
        fs::create_directories(sys_ / "class/tty/tty0");
    }
    void TearDown() override {
        ::unsetenv("KELM_PORTS_DIR");
        fs::remove_all(root_);
    }
    void Attr(const std::string& rel, const std::string& value) {
        fs::create_directories((sys_ / rel).parent_path());
        std::ofstream(sys_ / rel) << value << "\n";
    }
    void Driver(const std::string& devRel, const std::string& name) {
        fs::create_directories(sys_ / "bus/x/drivers" / name);
        fs::create_directory_symlink(sys_ / "bus/x/drivers" / name, sys_ / devRel / "driver");
    }
    void MakeTty(const std::string& name, const std::string& devRel, const std::string& type) {
        const fs::path cls = sys_ / "class/tty" / name;
        fs::create_directories(cls);
        fs::create_directories(sys_ / devRel);
        fs::create_directory_symlink(sys_ / devRel, cls / "device");
        if (!type.empty()) std::ofstream(cls / "type") << type << "\n";
        std::ofstream(cls / "dev") << "4:64\n";
    }
    std::vector<PortDeviceRecord> Load(PortEnumMode mode) {
        auto src = MakeSystemPortSource(sys_.string(), "/dev");
        return LoadPortRecords(mode, *src);
    }
    fs::path root_, sys_;
};

TEST_F(FakeSysfs, ListsHardwareWithDescriptionsInFullPresentMode) {
    const auto list = Load(PortEnumMode::FullPresent);
    EXPECT_THAT(Texts(list), ElementsAre(Pair(1, "COM1 (16550A UART, /dev/ttyS0)"),
                                         Pair(33, "COM33 (FT232R USB UART, /dev/ttyUSB0)"),
                                         Pair(4097, "/dev/ttyXR0 (exar_serial, /dev/ttyXR0)")));
    EXPECT_EQ(list[0].Service, "serial");  // past the serial core's "port" device
    EXPECT_EQ(list[0].PortName, "/dev/ttyS0");
    EXPECT_EQ(list[1].Service, "ftdi_sio");
    EXPECT_EQ(list[1].Manufacturer, "FTDI");
    EXPECT_EQ(list[1].PortName, "/dev/ttyUSB0");
    EXPECT_EQ(list[1].DevInst, static_cast<unsigned>(makedev(4, 64)));
}

TEST_F(FakeSysfs, QuickModeListsNumberedKernelNamesOnly) {
    EXPECT_THAT(Texts(Load(PortEnumMode::QuickAll)),
                ElementsAre(Pair(1, "COM1"), Pair(33, "COM33")));
}

TEST_F(FakeSysfs, HardwareKeepsItsNumberWhenAVirtualLinkClaimsIt) {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    char slave[128];
    ASSERT_EQ(::ptsname_r(master, slave, sizeof slave), 0);
    ASSERT_TRUE(VirtualPortDir::Publish(1, slave));
    const std::string link = (root_ / "ports/COM1").string();
    EXPECT_THAT(Texts(Load(PortEnumMode::FullPresent)),
                ElementsAre(Pair(1, "COM1 (16550A UART, /dev/ttyS0)"),
                            Pair(33, "COM33 (FT232R USB UART, /dev/ttyUSB0)"),
                            Pair(4097, "/dev/ttyXR0 (exar_serial, /dev/ttyXR0)"),
                            Pair(4098, link + " (virtual port, " + slave + ")")));
    // The quick list has no device records: the link is not listed at all.
    EXPECT_THAT(Texts(Load(PortEnumMode::QuickAll)),
                ElementsAre(Pair(1, "COM1"), Pair(33, "COM33")));
    ::close(master);
}
