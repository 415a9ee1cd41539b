// Virtual ports on real pseudo-terminals: publishing in the virtual-port
// directory, finding them in the port list with the right numbers and port
// names, and the device-change notice when a link comes or goes.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "serial/EnumPorts.h"
#include "serial/EnumWatcher.h"
#include "serial/LoopExecutor.h"
#include "serial/VirtualPortDir.h"
#include "serial/ksComm.h"

namespace fs = std::filesystem;
using namespace kelm;

namespace {

// A pseudo-terminal master with its slave path.
struct TestPty {
    int master = -1;
    std::string slave;
    TestPty() {
        master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0) {
            char buf[128];
            if (::ptsname_r(master, buf, sizeof buf) == 0) slave = buf;
        }
    }
    ~TestPty() { Close(); }
    void Close() {
        if (master >= 0) ::close(master);
        master = -1;
    }
};

const PortListEntry* Find(const std::vector<PortListEntry>& list, int number) {
    for (const auto& e : list) {
        if (e.Number == number) return &e;
    }
    return nullptr;
}

class VirtualPorts : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("kelm-vports-" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        ::setenv("KELM_PORTS_DIR", dir_.c_str(), 1);
    }
    void TearDown() override {
        ::unsetenv("KELM_PORTS_DIR");
        fs::remove_all(dir_);
    }
    fs::path dir_;
};

}  // namespace

TEST_F(VirtualPorts, DirectoryLocationFollowsTheEnvironment) {
    EXPECT_EQ(VirtualPortDir::Path(), dir_.string());
    ::unsetenv("KELM_PORTS_DIR");
    const char* old = std::getenv("XDG_RUNTIME_DIR");
    const std::string saved = old ? old : "";
    ::setenv("XDG_RUNTIME_DIR", "/run/user/4242", 1);
    EXPECT_EQ(VirtualPortDir::Path(), "/run/user/4242/kelm/ports");
    ::unsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(VirtualPortDir::Path(), "/tmp/kelm-" + std::to_string(::getuid()) + "/ports");
    if (old) ::setenv("XDG_RUNTIME_DIR", saved.c_str(), 1);
    ::setenv("KELM_PORTS_DIR", dir_.c_str(), 1);
}

TEST_F(VirtualPorts, PublishNeverTakesOverALivePort) {
    TestPty a, b;
    ASSERT_FALSE(a.slave.empty());
    std::string err;
    EXPECT_FALSE(VirtualPortDir::Publish(0, a.slave, &err));
    EXPECT_FALSE(VirtualPortDir::Publish(4097, a.slave, &err));
    ASSERT_TRUE(VirtualPortDir::Publish(150, a.slave, &err)) << err;
    EXPECT_TRUE(VirtualPortDir::Publish(150, a.slave, &err)) << err;  // same target again
    EXPECT_FALSE(VirtualPortDir::Publish(150, b.slave, &err));        // a's port is alive
    EXPECT_THAT(err, ::testing::HasSubstr("in use"));
    EXPECT_EQ(fs::read_symlink(dir_ / "COM150").string(), a.slave);
    // A foreign simulator's link is left alone by a wrong expected target.
    EXPECT_FALSE(VirtualPortDir::Unpublish(150, b.slave));
    EXPECT_TRUE(fs::is_symlink(dir_ / "COM150"));
    // Once a's pty is gone its link dangles and may be replaced.
    a.Close();
    ASSERT_TRUE(VirtualPortDir::Publish(150, b.slave, &err)) << err;
    EXPECT_EQ(fs::read_symlink(dir_ / "COM150").string(), b.slave);
    EXPECT_TRUE(VirtualPortDir::Unpublish(150, b.slave));
    EXPECT_FALSE(fs::exists(fs::symlink_status(dir_ / "COM150")));
    EXPECT_FALSE(VirtualPortDir::Unpublish(150));
    // Files that are not links are never removed or replaced.
    std::ofstream(dir_ / "COM151") << "x";
    EXPECT_FALSE(VirtualPortDir::Publish(151, b.slave, &err));
    EXPECT_FALSE(VirtualPortDir::Unpublish(151));
    EXPECT_TRUE(fs::exists(dir_ / "COM151"));
}

TEST_F(VirtualPorts, EnsureRefusesSomethingElseInThePlaceOfTheDirectory) {
    std::ofstream(dir_) << "not a directory";
    std::string err;
    EXPECT_FALSE(VirtualPortDir::Ensure(&err));
    EXPECT_THAT(err, ::testing::HasSubstr("not a directory"));
    fs::remove(dir_);
    EXPECT_TRUE(VirtualPortDir::Ensure(&err)) << err;
    EXPECT_EQ(fs::status(dir_).permissions() & fs::perms::all, fs::perms::owner_all);
}

TEST_F(VirtualPorts, ListedWithTheirNumbersAndOpenableByPortName) {
    TestPty a, b;
    ASSERT_TRUE(VirtualPortDir::Publish(151, b.slave));
    ASSERT_TRUE(VirtualPortDir::Publish(150, a.slave));
    std::ofstream(dir_ / "COMx") << "";  // not a port link: ignored
    const auto list = EnumeratePorts(PortEnumMode::FullPresent);
    const auto* p150 = Find(list, 150);
    const auto* p151 = Find(list, 151);
    ASSERT_NE(p150, nullptr);
    ASSERT_NE(p151, nullptr);
    EXPECT_EQ(p150->DisplayText, "COM150 (virtual port, " + a.slave + ")");
    EXPECT_EQ(p150->PortName, (dir_ / "COM150").string());
    EXPECT_EQ(p151->PortName, (dir_ / "COM151").string());
    EXPECT_LT(p150 - list.data(), p151 - list.data());  // sorted by number

    // The port name opens the pty: bytes written there reach the master.
    const int fd = ::open(p150->PortName.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, "K", 1), 1);
    pollfd pfd{a.master, POLLIN, 0};
    ASSERT_EQ(::poll(&pfd, 1, 2000), 1);
    char c = 0;
    EXPECT_EQ(::read(a.master, &c, 1), 1);
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
    // Installed but absent: listed under its link, with a number past 4096.
    bool seen = false;
    for (const auto& e : EnumeratePorts(PortEnumMode::FullInfo)) {
        if (e.PortName == (dir_ / "COM152").string()) {
            seen = true;
            EXPECT_GT(e.Number, 4096);
            EXPECT_THAT(e.DisplayText, ::testing::HasSubstr("missing"));
        }
    }
    EXPECT_TRUE(seen);
}

TEST_F(VirtualPorts, WatcherTellsWhenALinkComesOrGoes) {
    TestPty a;
    PortChangeWatcher watcher;
    ASSERT_TRUE(watcher.HasDirectoryWatch());
    EXPECT_EQ(watcher.Directory(), dir_.string());
    EXPECT_FALSE(watcher.Fds().empty());
    watcher.Drain();
    EXPECT_FALSE(watcher.Drain());  // nothing pending

    ASSERT_TRUE(VirtualPortDir::Publish(160, a.slave));
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
    TestPty a;
    PortChangeWatcher watcher;
    fs::remove_all(dir_);
    EXPECT_TRUE(watcher.Wait(2000));
    // Drain re-arms on a new directory; a link published there is seen.
    ASSERT_TRUE(VirtualPortDir::Publish(161, a.slave));
    EXPECT_TRUE(watcher.Wait(2000));
}

TEST_F(VirtualPorts, ComponentListFollowsTheWatcherThroughItsDeviceChangeNotice) {
    TestPty a, b;
    ASSERT_TRUE(VirtualPortDir::Publish(162, a.slave));
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

    ASSERT_TRUE(VirtualPortDir::Publish(163, b.slave));
    ASSERT_TRUE(watcher.Wait(2000));
    codes.clear();
    EXPECT_TRUE(comm.WMDeviceChange(DBT_DEVNODES_CHANGED, 0));
    EXPECT_THAT(codes, ::testing::ElementsAre(csDeviceIdChanged));
    const int idx = comm.DeviceIndex();
    ASSERT_GE(idx, 0);
    EXPECT_EQ(comm.GetDevice(idx)->NameFriendly, "COM163 (virtual port, " + b.slave + ")");
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
