// Port list rules: ordered insertion, the active-port map, the three modes on
// a fake source, and the system source on a fake sysfs tree. Virtual ports on
// real pseudo-terminals: publishing in the virtual-port directory, finding
// them in the port list with the right numbers and port names, and the
// device-change notice when a link comes or goes.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "SerialTestSupport.h"
#include "serial/EnumPorts.h"
#include "serial/EnumWatcher.h"
#include "serial/LoopExecutor.h"
#include "serial/VirtualPortDir.h"
#include "serial/ksComm.h"
#include "serial/posix/Pty.h"

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

    bool openByValueName = true;

    std::vector<PortMapValue> ReadPortMap() override { return map; }
    std::vector<PortDeviceRecord> DeviceRecords(bool presentOnly) override {
        asked.push_back(presentOnly);
        return records;
    }
    bool OpenByMapValueName() const override { return openByValueName; }
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

// A virtual port's record as the system source makes it.
PortDeviceRecord VirtualRec(std::string comName, std::string link, std::string description) {
    PortDeviceRecord r = Rec(std::move(link), std::move(description), "pty");
    r.NameDeviceDos = std::move(comName);
    r.Present = false;
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

// Windows' shape of the sources: the map names kernel devices
// ("\Device\Serial0") and the port opens by its "COM<n>" name.
TEST(BuildPortList, PortsOpenByTheirComNameWhereTheMapSaysSo) {
    FakeSource src;
    src.openByValueName = false;
    src.map = {{"\\Device\\VCP0", "COM10"}, {"\\Device\\Serial0", "COM3"}};
    src.records = {Rec("COM3", "Communications Port", "Serial")};
    for (const auto mode : {PortEnumMode::QuickAll, PortEnumMode::FullInfo}) {
        const auto list = LoadPortRecords(mode, src);
        ASSERT_EQ(list.size(), 2u);
        EXPECT_EQ(list[0].PortName, "COM3");
        EXPECT_EQ(list[0].NamePDO, "\\Device\\Serial0");
        EXPECT_EQ(list[1].PortName, "COM10");
        EXPECT_EQ(list[1].NameFriendly, "COM10");
    }
    EXPECT_EQ(LoadPortRecords(PortEnumMode::FullInfo, src)[0].NameFriendly,
              "COM3 (Communications Port)");
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

TEST(BuildPortList, ModesMatchDescribeDropAndNumberRecords) {
    using M = PortEnumMode;
    const auto ttyS0 = Rec("/dev/ttyS0", "16550A UART, /dev/ttyS0", "serial");
    struct Case {
        const char* what;
        M mode;
        std::vector<PortMapValue> map;
        std::vector<PortDeviceRecord> records;
        std::vector<bool> asked;        // presentOnly of each records request
        std::vector<std::string> rows;  // "number text @PortName"
    } cases[] = {
        {"quick: bare names from the map only, records not consulted",
         M::QuickAll,
         {{"/dev/ttyUSB0", "COM33"}, {"/dev/ttyS0", "COM1"}},
         {ttyS0},
         {},
         {"1 COM1 @/dev/ttyS0", "33 COM33 @/dev/ttyUSB0"}},
        // COM40 has no device behind it while a record is still unmatched:
        // dropped. The Bluetooth record is a port of its own, past 4096.
        {"present: described, unmatched entry dropped",
         M::FullPresent,
         {{"/dev/ttyS0", "COM1"}, {"/dev/ttyUSB0", "COM33"}, {"/dev/gone", "COM40"}},
         {Rec("/dev/ttyUSB0", "FT232R USB UART, /dev/ttyUSB0", "ftdi_sio"), ttyS0,
          Rec("/dev/rfcomm0", "Bluetooth link, /dev/rfcomm0")},
         {true},
         {"1 COM1 (16550A UART, /dev/ttyS0) @/dev/ttyS0",
          "33 COM33 (FT232R USB UART, /dev/ttyUSB0) @/dev/ttyUSB0",
          "4097 COM4097 (Bluetooth link, /dev/rfcomm0) @/dev/rfcomm0"}},
        {"present: unmatched entry kept when no record is left",
         M::FullPresent,
         {{"/dev/ttyS0", "COM1"}, {"/dev/gone", "COM40"}},
         {ttyS0},
         {true},
         {"1 COM1 (16550A UART, /dev/ttyS0) @/dev/ttyS0", "40 COM40 @/dev/gone"}},
        {"present: no records at all, the map stands alone",
         M::FullPresent,
         {{"/dev/ttyS0", "COM1"}, {"/dev/gone", "COM40"}},
         {},
         {true},
         {"1 COM1 @/dev/ttyS0", "40 COM40 @/dev/gone"}},
        {"info: never drops, asks for absent devices too",
         M::FullInfo,
         {{"/dev/gone", "COM40"}},
         {Rec("/dev/x", "dev x")},
         {false},
         {"40 COM40 @/dev/gone", "4097 COM4097 (dev x) @/dev/x"}},
        // LPT never; no name: nothing to open; COMx: number 0; a taken
        // number refused.
        {"records become ports by their names",
         M::FullInfo,
         {},
         {Rec("LPT1", "printer port"), Rec("", "no name at all"), Rec("COM7", "seven"),
          Rec("/dev/ttyXR0", "exar"), Rec("COMx", "not a number"), Rec("/dev/ttyGS0", "gadget"),
          Rec("COM7", "second seven")},
         {false},
         {"0 COMx (not a number) @COMx", "7 COM7 (seven) @COM7", "4097 COM4097 (exar) @/dev/ttyXR0",
          "4098 COM4098 (gadget) @/dev/ttyGS0"}},
        // A dangling virtual link keeps the number it was published under,
        // unless a present port has it.
        {"a device known under a COM name keeps its number while it is free",
         M::FullInfo,
         {{"/dev/ttyUSB0", "COM7"}},
         {VirtualRec("COM5", "/p/COM5", "virtual port, /dev/pts/9 missing"),
          VirtualRec("COM7", "/p/COM7", "virtual port, /dev/pts/8 missing"),
          Rec("/dev/ttyUSB0", "adaptor")},
         {false},
         {"5 COM5 (virtual port, /dev/pts/9 missing) @/p/COM5", "7 COM7 (adaptor) @/dev/ttyUSB0",
          "4097 COM4097 (virtual port, /dev/pts/8 missing) @/p/COM7"}},
        // Matched through its description a record has no node of its own:
        // the port is still opened by the device the map names.
        {"matched by COM name or by the name in parentheses",
         M::FullPresent,
         {{"/dev/ttyUSB1", "COM34"}, {"/dev/ttyUSB2", "COM35"}},
         {Rec("", "Modem (COM35)"), Rec("com34", "by name")},
         {true},
         {"34 COM34 (by name) @com34", "35 COM35 (Modem (COM35)) @/dev/ttyUSB2"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        FakeSource src;
        src.map = c.map;
        src.records = c.records;
        const auto list = LoadPortRecords(c.mode, src);
        std::vector<std::string> rows;
        for (const auto& r : list)
            rows.push_back(std::to_string(r.Data) + " " + r.NameFriendly + " @" + r.PortName);
        EXPECT_EQ(rows, c.rows);
        EXPECT_EQ(src.asked, c.asked);
    }
    // The fields a record brings along, and the names of a bare map entry.
    FakeSource src;
    src.map = {{"/dev/ttyUSB0", "COM33"}};
    src.records = {Rec("/dev/ttyUSB0", "FT232R", "ftdi_sio"), Rec("/dev/rfcomm0", "BT")};
    auto list = LoadPortRecords(PortEnumMode::FullPresent, src);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].Service + "|" + list[0].Driver + "|" + list[0].Manufacturer,
              "ftdi_sio|drv|maker");
    EXPECT_EQ(list[1].NameDeviceDos, "COM4097");
    list = LoadPortRecords(PortEnumMode::QuickAll, src);
    EXPECT_EQ(list[0].NamePDO, "/dev/ttyUSB0");
    EXPECT_EQ(list[0].NameDeviceDos, "COM33");
    EXPECT_EQ(list[0].Description, "");
}

TEST(KernelNames, SortByTheNumberThatEndsThem) {
    std::vector<std::string> names = {"ttyXR10", "ttyUSB1", "ttyXR2", "ttyS10", "ttyXR02",
                                      "ttyS2",   "rfcomm0", "ttyXR",  "ttyXR1"};
    std::sort(names.begin(), names.end(), KernelNameLess);
    EXPECT_THAT(names, ElementsAre("rfcomm0", "ttyS2", "ttyS10", "ttyUSB1", "ttyXR", "ttyXR1",
                                   "ttyXR02", "ttyXR2", "ttyXR10"));
}

TEST(PortDescription, ProductStringFirstChipNameAfterNoNestedParentheses) {
    const struct {
        const char *product, *chip, *node, *text;
    } cases[] = {
        {"USB-RS485 Cable", "FT232 Serial (UART) IC", "/dev/ttyUSB0",
         "USB-RS485 Cable, FT232 Serial [UART] IC, /dev/ttyUSB0"},
        {"", "CP210x UART Bridge", "/dev/ttyUSB1", "CP210x UART Bridge, /dev/ttyUSB1"},
        {"FT232R USB UART", "", "/dev/ttyUSB2", "FT232R USB UART, /dev/ttyUSB2"},
        {" USB Serial ", "usb serial", "/dev/ttyUSB3", "USB Serial, /dev/ttyUSB3"},  // said once
        {"Cable (v2)", "", "", "Cable [v2]"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ComposePortDescription(c.product, c.chip, c.node), c.text);
}

TEST(PortAccess, ToldWithWhatToDoAboutIt) {
    PortAccess ok;
    ok.allowed = true;
    EXPECT_EQ(DescribePortAccess(ok), "yes");
    PortAccess denied{false, EACCES, "Permission denied", "dialout", false};
    EXPECT_EQ(DescribePortAccess(denied),
              "no (the port belongs to group dialout; you are not a member: sudo usermod -aG "
              "dialout $USER, then log out and in again)");
    denied.inGroup = true;
    EXPECT_THAT(DescribePortAccess(denied), ::testing::HasSubstr("you are a member"));
    PortAccess gone{false, ENOENT, "No such file or directory", "", false};
    EXPECT_EQ(DescribePortAccess(gone), "no (No such file or directory)");

    // A real check: a node of a group this user is not in, mode 0660.
    kelm::test::TempPortsDir tmp("access");
    fs::create_directories(tmp.root);
    const std::string node = (tmp.root / "node").string();
    std::ofstream(node) << "";
    ::chmod(node.c_str(), 0660);
    ::chmod(tmp.root.c_str(), 0755);
    EXPECT_TRUE(CheckPortAccess(node).allowed);
    EXPECT_FALSE(CheckPortAccess(node + "-missing").allowed);
    if (::geteuid() != 0) GTEST_SKIP() << "the denied case needs root to change users";
    ASSERT_EQ(::chown(node.c_str(), 0, 0), 0);
    const pid_t pid = ::fork();
    if (pid == 0) {
        // A user outside group 0 (nobody): denied, and told the group.
        if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0) _exit(3);
        const PortAccess a = CheckPortAccess(node);
        _exit(!a.allowed && a.error == EACCES && !a.inGroup && !a.group.empty() ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(KernelNames, FixedNumberBlocks) {
    const std::pair<const char*, std::optional<int>> cases[] = {
        {"ttyS0", 1},    {"ttyS31", 32},  {"ttyUSB0", 33}, {"ttyUSB31", 64},
        {"ttyACM2", 67}, {"ttyAMA0", 97}, {"ttyS32", {}},  {"ttyS01", {}},
        {"ttySAC0", {}}, {"tty1", {}},    {"ttyUSB", {}}};
    for (const auto& [name, number] : cases)
        EXPECT_EQ(PortNumberOfKernelName(name), number) << name;
}

// A fake sysfs tree: the system source must list hardware ttys, skip UART
// slots without hardware and ttys without a device, and describe USB
// adaptors from their sysfs attributes when there is no udev database.
class FakeSysfs : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::create_directories(root_ / "ports");
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
    kelm::test::TempPortsDir tmp_{"sysfs"};
    fs::path root_ = tmp_.root, sys_ = root_ / "sys";
};

TEST_F(FakeSysfs, ListsHardwareWithDescriptionsInFullPresentMode) {
    const auto list = Load(PortEnumMode::FullPresent);
    EXPECT_THAT(Texts(list), ElementsAre(Pair(1, "COM1 (16550A UART, /dev/ttyS0)"),
                                         Pair(33, "COM33 (FT232R USB UART, /dev/ttyUSB0)"),
                                         Pair(4097, "COM4097 (exar_serial, /dev/ttyXR0)")));
    EXPECT_EQ(list[0].Service, "serial");  // past the serial core's "port" device
    EXPECT_EQ(list[0].PortName, "/dev/ttyS0");
    EXPECT_EQ(list[1].Service, "ftdi_sio");
    EXPECT_EQ(list[1].Manufacturer, "FTDI");
    EXPECT_EQ(list[1].PortName, "/dev/ttyUSB0");
    EXPECT_EQ(list[1].DevInst, static_cast<unsigned>(makedev(4, 64)));
}

TEST_F(FakeSysfs, OtherKernelNamesAreNumberedInTheOrderOfTheirNumbers) {
    for (const char* n : {"ttyXR10", "ttyXR2"}) {
        MakeTty(n, std::string("devices/pci0000:00/0000:00:1c.0/") + n, "");
        Driver(std::string("devices/pci0000:00/0000:00:1c.0/") + n, "exar_serial");
    }
    const auto list = Load(PortEnumMode::FullPresent);
    ASSERT_EQ(list.size(), 5u);
    EXPECT_EQ(list[2].Data, 4097);
    EXPECT_EQ(list[2].PortName, "/dev/ttyXR0");
    EXPECT_EQ(list[3].NameFriendly, "COM4098 (exar_serial, /dev/ttyXR2)");
    EXPECT_EQ(list[4].NameFriendly, "COM4099 (exar_serial, /dev/ttyXR10)");
}

TEST_F(FakeSysfs, UsbPortsCarryVendorProductSerialAndTheirByIdLink) {
    Attr("devices/pci0000:00/usb1/1-1/serial", "A10K1234");
    const fs::path dev = root_ / "dev";
    fs::create_directories(dev / "serial/by-id");
    std::ofstream(dev / "ttyUSB0") << "";
    fs::create_symlink("../../ttyUSB0",
                       dev / "serial/by-id/usb-FTDI_FT232R_USB_UART_A10K1234-if00-port0");
    auto src = MakeSystemPortSource(sys_.string(), dev.string());
    const auto list = LoadPortRecords(PortEnumMode::FullPresent, *src);
    const auto usb =
        std::find_if(list.begin(), list.end(), [](const auto& r) { return r.Data == 33; });
    ASSERT_NE(usb, list.end());
    EXPECT_EQ(usb->NameParentDevice, "0403:6001");
    EXPECT_EQ(usb->SerialNumber, "A10K1234");
    EXPECT_EQ(usb->NameSymbolic,
              (dev / "serial/by-id/usb-FTDI_FT232R_USB_UART_A10K1234-if00-port0").string());
    EXPECT_EQ(usb->PortName, (dev / "ttyUSB0").string());
}

TEST_F(FakeSysfs, QuickModeListsNumberedKernelNamesOnly) {
    EXPECT_THAT(Texts(Load(PortEnumMode::QuickAll)),
                ElementsAre(Pair(1, "COM1"), Pair(33, "COM33")));
}

TEST_F(FakeSysfs, HardwareKeepsItsNumberWhenAVirtualLinkClaimsIt) {
    posix::Pty pty;
    const std::string slave = pty.SlavePath();
    ASSERT_TRUE(VirtualPortDir::Publish(1, slave));
    const std::string link = (root_ / "ports/COM1").string();
    EXPECT_THAT(Texts(Load(PortEnumMode::FullPresent)),
                ElementsAre(Pair(1, "COM1 (16550A UART, /dev/ttyS0)"),
                            Pair(33, "COM33 (FT232R USB UART, /dev/ttyUSB0)"),
                            Pair(4097, "COM4097 (exar_serial, /dev/ttyXR0)"),
                            Pair(4098, "COM4098 (virtual port, " + slave + ")")));
    // The quick list has no device records: the link is not listed at all.
    EXPECT_THAT(Texts(Load(PortEnumMode::QuickAll)),
                ElementsAre(Pair(1, "COM1"), Pair(33, "COM33")));
}

namespace {

const PortListEntry* Find(const std::vector<PortListEntry>& list, int number) {
    for (const auto& e : list) {
        if (e.Number == number) return &e;
    }
    return nullptr;
}

class VirtualPorts : public ::testing::Test {
  protected:
    kelm::test::TempPortsDir tmp_{"vports"};
    const fs::path dir_ = tmp_.ports;
};

}  // namespace

TEST_F(VirtualPorts, PublishNeverTakesOverALivePort) {
    posix::Pty a, b;
    ASSERT_FALSE(a.SlavePath().empty());
    std::string err;
    EXPECT_FALSE(VirtualPortDir::Publish(0, a.SlavePath(), &err));
    EXPECT_FALSE(VirtualPortDir::Publish(4097, a.SlavePath(), &err));
    ASSERT_TRUE(VirtualPortDir::Publish(150, a.SlavePath(), &err)) << err;
    EXPECT_TRUE(VirtualPortDir::Publish(150, a.SlavePath(), &err)) << err;  // same target again
    EXPECT_FALSE(VirtualPortDir::Publish(150, b.SlavePath(), &err));        // a's port is alive
    EXPECT_THAT(err, ::testing::HasSubstr("in use"));
    EXPECT_EQ(fs::read_symlink(dir_ / "COM150").string(), a.SlavePath());
    // A foreign simulator's link is left alone by a wrong expected target.
    EXPECT_FALSE(VirtualPortDir::Unpublish(150, b.SlavePath()));
    EXPECT_TRUE(fs::is_symlink(dir_ / "COM150"));
    // Once a's pty is gone its link dangles and may be replaced.
    a.CloseMaster();
    ASSERT_TRUE(VirtualPortDir::Publish(150, b.SlavePath(), &err)) << err;
    EXPECT_EQ(fs::read_symlink(dir_ / "COM150").string(), b.SlavePath());
    EXPECT_TRUE(VirtualPortDir::Unpublish(150, b.SlavePath()));
    EXPECT_FALSE(fs::exists(fs::symlink_status(dir_ / "COM150")));
    EXPECT_FALSE(VirtualPortDir::Unpublish(150));
    // Files that are not links are never removed or replaced.
    std::ofstream(dir_ / "COM151") << "x";
    EXPECT_FALSE(VirtualPortDir::Publish(151, b.SlavePath(), &err));
    EXPECT_FALSE(VirtualPortDir::Unpublish(151));
    EXPECT_TRUE(fs::exists(dir_ / "COM151"));
}

TEST_F(VirtualPorts, EnsureRefusesSomethingElseInThePlaceOfTheDirectory) {
    fs::create_directories(tmp_.root);
    std::ofstream(dir_) << "not a directory";
    std::string err;
    EXPECT_FALSE(VirtualPortDir::Ensure(&err));
    EXPECT_THAT(err, ::testing::HasSubstr("not a directory"));
    fs::remove(dir_);
    EXPECT_TRUE(VirtualPortDir::Ensure(&err)) << err;
    EXPECT_EQ(fs::status(dir_).permissions() & fs::perms::all, fs::perms::owner_all);
}

TEST_F(VirtualPorts, ListedWithTheirNumbersAndOpenableByPortName) {
    posix::Pty a, b;
    ASSERT_TRUE(VirtualPortDir::Publish(151, b.SlavePath()));
    ASSERT_TRUE(VirtualPortDir::Publish(150, a.SlavePath()));
    std::ofstream(dir_ / "COMx") << "";  // not a port link: ignored
    const auto list = EnumeratePorts(PortEnumMode::FullPresent);
    const auto* p150 = Find(list, 150);
    const auto* p151 = Find(list, 151);
    ASSERT_NE(p150, nullptr);
    ASSERT_NE(p151, nullptr);
    EXPECT_EQ(p150->DisplayText, "COM150 (virtual port, " + a.SlavePath() + ")");
    EXPECT_EQ(p150->PortName, (dir_ / "COM150").string());
    EXPECT_EQ(p151->PortName, (dir_ / "COM151").string());
    EXPECT_LT(p150 - list.data(), p151 - list.data());  // sorted by number

    // The port name opens the pty: bytes written there reach the master.
    const int fd = ::open(p150->PortName.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, "K", 1), 1);
    pollfd pfd{a.MasterFd(), POLLIN, 0};
    ASSERT_EQ(::poll(&pfd, 1, 2000), 1);
    char c = 0;
    EXPECT_EQ(::read(a.MasterFd(), &c, 1), 1);
    EXPECT_EQ(c, 'K');
    ::close(fd);

    const auto quick = EnumeratePorts(PortEnumMode::QuickAll);
    ASSERT_NE(Find(quick, 150), nullptr);
    EXPECT_EQ(Find(quick, 150)->DisplayText, "COM150");
    EXPECT_EQ(Find(quick, 150)->PortName, (dir_ / "COM150").string());
}

TEST_F(VirtualPorts, AVanishedPtyIsOnlyListedWhenAbsentDevicesAreAskedFor) {
    // A pty number freed here may be taken at once by a pty of a test running
    // in parallel, so the dangling link points at a node that can never exist.
    const std::string gone = (dir_ / "vanished-pty").string();
    ASSERT_TRUE(VirtualPortDir::Publish(152, gone));
    EXPECT_EQ(Find(EnumeratePorts(PortEnumMode::FullPresent), 152), nullptr);
    EXPECT_EQ(Find(EnumeratePorts(PortEnumMode::QuickAll), 152), nullptr);
    // A link to something that is no device node is no port either.
    std::ofstream(dir_ / "not-a-device") << "x";
    ASSERT_TRUE(VirtualPortDir::Publish(153, (dir_ / "not-a-device").string()));
    EXPECT_EQ(Find(EnumeratePorts(PortEnumMode::FullPresent), 153), nullptr);
    // Installed but absent: listed under the number it was published with.
    const auto info = EnumeratePorts(PortEnumMode::FullInfo);
    for (unsigned n : {152u, 153u}) {
        const auto* e = Find(info, static_cast<int>(n));
        ASSERT_NE(e, nullptr) << n;
        EXPECT_EQ(e->PortName, VirtualPortDir::LinkPath(n));
        EXPECT_THAT(e->DisplayText,
                    ::testing::StartsWith("COM" + std::to_string(n) + " (virtual port, "));
        EXPECT_THAT(e->DisplayText, ::testing::HasSubstr("missing"));
    }
}

TEST_F(VirtualPorts, WatcherTellsWhenALinkComesOrGoes) {
    posix::Pty a;
    PortChangeWatcher watcher;
    ASSERT_TRUE(watcher.HasDirectoryWatch());
    EXPECT_EQ(watcher.Directory(), dir_.string());
    EXPECT_FALSE(watcher.Fds().empty());
    watcher.Drain();
    EXPECT_FALSE(watcher.Drain());  // nothing pending

    ASSERT_TRUE(VirtualPortDir::Publish(160, a.SlavePath()));
    EXPECT_TRUE(watcher.Wait(2000));
    ASSERT_NE(Find(EnumeratePorts(), 160), nullptr);

    // A file that is not a port link is no notice.
    std::ofstream(dir_ / "notes.txt") << "x";
    EXPECT_FALSE(watcher.Wait(200));

    ASSERT_TRUE(VirtualPortDir::Unpublish(160));
    EXPECT_TRUE(watcher.Wait(2000));
    EXPECT_EQ(Find(EnumeratePorts(), 160), nullptr);
}

TEST_F(VirtualPorts, WatcherFollowsADirectoryThatIsRemovedAndMadeAgain) {
    posix::Pty a;
    PortChangeWatcher watcher;
    fs::remove_all(dir_);
    EXPECT_TRUE(watcher.Wait(2000));
    // Drain re-arms on a new directory; a link published there is seen.
    ASSERT_TRUE(VirtualPortDir::Publish(161, a.SlavePath()));
    EXPECT_TRUE(watcher.Wait(2000));
}

TEST_F(VirtualPorts, ComponentListFollowsTheWatcherThroughItsDeviceChangeNotice) {
    posix::Pty a, b;
    ASSERT_TRUE(VirtualPortDir::Publish(162, a.SlavePath()));
    LoopExecutor ex;
    TksComm comm(&ex);
    comm.SetEnumPorts(TksEnumPorts::epFullPresent);
    std::vector<int> codes;
    const auto listener =
        MakeNotifyEvent(this, 7, [&](TksComponent*, int code) { codes.push_back(code); });
    comm.NotifyAdd(listener);
    PortChangeWatcher watcher;
    watcher.Drain();

    comm.SetComPortNo(163);
    comm.GetDeviceList(nullptr);
    EXPECT_EQ(comm.IndexOfDeviceData(163), -1);
    EXPECT_EQ(comm.ComName(), "COM163");  // not listed: the bare name
    ASSERT_GE(comm.IndexOfDeviceData(162), 0);

    ASSERT_TRUE(VirtualPortDir::Publish(163, b.SlavePath()));
    ASSERT_TRUE(watcher.Wait(2000));
    codes.clear();
    EXPECT_TRUE(comm.WMDeviceChange(DBT_DEVNODES_CHANGED, 0));
    EXPECT_THAT(codes, ::testing::ElementsAre(csDeviceIdChanged));
    const int idx = comm.DeviceIndex();
    ASSERT_GE(idx, 0);
    EXPECT_EQ(comm.GetDevice(idx)->NameFriendly, "COM163 (virtual port, " + b.SlavePath() + ")");
    EXPECT_EQ(comm.ComName(), (dir_ / "COM163").string());
    comm.SetActive(true);  // opened by the listed port name
    EXPECT_TRUE(comm.Active());
    comm.SetActive(false);

    ASSERT_TRUE(VirtualPortDir::Unpublish(163));
    ASSERT_TRUE(watcher.Wait(2000));
    EXPECT_FALSE(comm.WMDeviceChange(DBT_DEVICEARRIVAL, 5));  // not about a port
    EXPECT_GE(comm.DeviceIndex(), 0);
    EXPECT_TRUE(comm.WMDeviceChange(DBT_DEVICEREMOVECOMPLETE, DBT_DEVTYP_PORT));
    EXPECT_EQ(comm.DeviceIndex(), -1);
    comm.NotifyDelete(listener);
}

#ifdef KELM_PORTS_BIN
// kelm-ports lists a virtual port that a test publishes.
TEST_F(VirtualPorts, KelmPortsListsAPublishedVirtualPort) {
    auto run = [](const std::string& args) {
        std::string out;
        FILE* p = ::popen((std::string(KELM_PORTS_BIN) + " " + args + " 2>&1").c_str(), "r");
        if (!p) return out;
        char buf[512];
        while (size_t n = std::fread(buf, 1, sizeof buf, p)) out.append(buf, n);
        ::pclose(p);
        return out;
    };
    posix::Pty pty;
    ASSERT_TRUE(VirtualPortDir::Publish(177, pty.SlavePath()));
    const std::string link = (dir_ / "COM177").string();
    EXPECT_THAT(run(""), ::testing::HasSubstr("177\tCOM177 (virtual port, " + pty.SlavePath() +
                                              ")\t" + link + "\n"));
    EXPECT_THAT(run("--mode quick"), ::testing::HasSubstr("177\tCOM177\t" + link + "\n"));
    EXPECT_THAT(run("--mode bogus"), ::testing::HasSubstr("unknown mode"));
    // --verbose: the USB identity (none for a virtual port) and whether this
    // user may open the port.
    const std::string verbose = run("--verbose");
    EXPECT_THAT(verbose, ::testing::HasSubstr("177\tCOM177 (virtual port, "));
    const auto at = verbose.find("177\tCOM177");
    ASSERT_NE(at, std::string::npos);
    EXPECT_THAT(verbose.substr(at), ::testing::HasSubstr("\tusb=- serial=- by-id=-\n\taccess="));
    // A link whose pty is gone is not in the present list. (A pty number
    // freed here may be taken at once by a parallel test: the link dangles
    // at a node that can never exist.)
    ASSERT_TRUE(VirtualPortDir::Publish(178, (dir_ / "vanished-pty").string()));
    EXPECT_THAT(run(""), ::testing::Not(::testing::HasSubstr("COM178")));
}
#endif

// Ports the user names by hand (network ports) survive every reload of the
// list, after the system's ports; a number the system lists stays the
// system's.
TEST_F(VirtualPorts, UserPortsAreListedAfterTheSystemsAtEveryReload) {
    posix::Pty a;
    ASSERT_TRUE(VirtualPortDir::Publish(150, a.SlavePath()));
    TksComm com;
    com.SetEnumPorts(TksEnumPorts::epFullPresent);
    com.SetUserPorts({{61442, "mbtcp://[::1]:502", "MBTCP [::1]:502"},
                      {61441, "tcp://10.0.0.5:4001", "TCP 10.0.0.5:4001"},
                      {150, "tcp://10.0.0.6:4001", "TCP 10.0.0.6:4001"},
                      {0, "tcp://10.0.0.7:4001", "no number"},
                      {61443, "", "no name"}});
    for (int reload = 0; reload < 2; ++reload) {
        com.Update();
        const auto& list = com.Devices();
        ASSERT_GE(list.size(), 3u);
        const auto& last = *list[list.size() - 1].Device;
        const auto& before = *list[list.size() - 2].Device;
        EXPECT_EQ(before.Data, 61441);
        EXPECT_EQ(list[list.size() - 2].Text, "TCP 10.0.0.5:4001");
        EXPECT_EQ(before.PortName, "tcp://10.0.0.5:4001");
        EXPECT_EQ(last.Data, 61442);
        EXPECT_EQ(last.NameFriendly, "MBTCP [::1]:502");
        EXPECT_EQ(last.PortName, "mbtcp://[::1]:502");
        const int i150 = com.IndexOfDeviceData(150);
        ASSERT_GE(i150, 0);
        EXPECT_EQ(com.GetDevice(i150)->PortName, (dir_ / "COM150").string());
        for (const auto& item : list) {
            EXPECT_NE(item.Device->Data, 0);
            EXPECT_NE(item.Device->Data, 61443);
        }
    }
    com.SetComPortNo(61442);
    EXPECT_EQ(com.ComName(), "mbtcp://[::1]:502");
    com.SetComPortNo(150);
    EXPECT_EQ(com.ComName(), (dir_ / "COM150").string());
    // Taken away, they are gone at the next reload.
    com.SetUserPorts({});
    com.Update();
    EXPECT_LT(com.IndexOfDeviceData(61441), 0);
}
