// The system's port sources on Linux: kernel ttys from sysfs, described with
// the udev database where it exists and with sysfs attributes where it does
// not (containers), and the links of the virtual-port directory.
#include <grp.h>
#include <libudev.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <dirent.h>
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>

#include "serial/EnumPorts.h"
#include "serial/VirtualPortDir.h"

namespace kelm {

namespace {

std::string ReadAttr(const std::string& path) {
    std::ifstream in(path);
    if (!in) return {};
    std::string line;
    std::getline(in, line);
    while (!line.empty() && static_cast<unsigned char>(line.back()) <= ' ') line.pop_back();
    return line;
}

bool Exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

std::string RealPath(const std::string& path) {
    char* r = ::realpath(path.c_str(), nullptr);
    if (!r) return {};
    std::string out = r;
    std::free(r);
    return out;
}

std::string BaseName(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string Parent(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos || slash == 0 ? std::string() : path.substr(0, slash);
}

// Name of the driver bound to a sysfs device directory, or empty.
std::string DriverOf(const std::string& dev) {
    const std::string link = RealPath(dev + "/driver");
    return link.empty() ? std::string() : BaseName(link);
}

std::string SubsystemOf(const std::string& dev) {
    const std::string link = RealPath(dev + "/subsystem");
    return link.empty() ? std::string() : BaseName(link);
}

// Names of the serial core's UART types (the tty's "type" attribute).
std::string UartTypeName(const std::string& type) {
    // PORT_8250 .. PORT_NS16550A; other codes are named generically.
    static const char* const kNames[] = {"",       "8250",  "16450",   "16550", "16550A",
                                         "Cirrus", "16650", "16650V2", "16750", "Startech",
                                         "16C950", "16654", "16850",   "RSA",   "NS16550A"};
    char* end = nullptr;
    const long t = std::strtol(type.c_str(), &end, 10);
    if (end == type.c_str() || t <= 0 ||
        t >= static_cast<long>(sizeof(kNames) / sizeof(kNames[0]))) {
        return "UART";
    }
    return std::string(kNames[t]) + " UART";
}

struct UdevDeleter {
    void operator()(udev* u) const { udev_unref(u); }
};
struct UdevDeviceDeleter {
    void operator()(udev_device* d) const { udev_device_unref(d); }
};

class SystemPortSource : public PortSource {
  public:
    SystemPortSource(std::string sysRoot, std::string devRoot)
        : sys_(std::move(sysRoot)), dev_(std::move(devRoot)) {
        // The udev database describes the real system only.
        if (sys_ == "/sys") udev_.reset(udev_new());
    }

    std::vector<PortMapValue> ReadPortMap() override {
        std::vector<PortMapValue> map;
        for (const auto& t : Ttys()) {
            if (const auto n = PortNumberOfKernelName(t.name)) {
                map.push_back({t.node, "COM" + std::to_string(*n)});
            }
        }
        // Hardware comes first, so it keeps its number when a virtual link
        // claims the same one.
        for (const auto& v : VirtualPortDir::List()) {
            if (v.present) map.push_back({v.link, "COM" + std::to_string(v.number)});
        }
        return map;
    }

    std::vector<PortDeviceRecord> DeviceRecords(bool presentOnly) override {
        std::vector<PortDeviceRecord> out;
        for (const auto& t : Ttys()) out.push_back(Describe(t));
        for (const auto& v : VirtualPortDir::List()) {
            if (presentOnly && !v.present) continue;
            PortDeviceRecord rec;
            rec.PortName = v.link;
            rec.Description =
                v.present ? "virtual port, " + v.target : "virtual port, " + v.target + " missing";
            rec.Service = "pty";
            rec.Driver = "virtual";
            rec.InstanceId = v.link;
            rec.Present = v.present;
            // The number it was published under, kept while the link dangles.
            rec.NameDeviceDos = "COM" + std::to_string(v.number);
            out.push_back(std::move(rec));
        }
        return out;
    }

  private:
    struct Tty {
        std::string name;  // kernel name, e.g. ttyUSB0
        std::string node;  // device node, e.g. /dev/ttyUSB0
        std::string classDir;
        std::string devDir;  // the device behind the tty (resolved)
    };

    // Kernel ttys with a device behind them, by kernel name. Virtual consoles,
    // pseudo-terminals and UART slots with no hardware (type 0) are left out.
    std::vector<Tty> Ttys() const {
        std::vector<Tty> out;
        const std::string classRoot = sys_ + "/class/tty";
        DIR* d = ::opendir(classRoot.c_str());
        if (!d) return out;
        while (const dirent* e = ::readdir(d)) {
            const std::string name = e->d_name;
            if (name == "." || name == "..") continue;
            const std::string classDir = classRoot + "/" + name;
            const std::string devDir = RealPath(classDir + "/device");
            if (devDir.empty()) continue;
            const std::string type = ReadAttr(classDir + "/type");
            if (Exists(classDir + "/type") && (type.empty() || type == "0")) continue;
            out.push_back(Tty{name, dev_ + "/" + name, classDir, devDir});
        }
        ::closedir(d);
        std::sort(out.begin(), out.end(),
                  [](const Tty& a, const Tty& b) { return KernelNameLess(a.name, b.name); });
        return out;
    }

    PortDeviceRecord Describe(const Tty& t) const {
        PortDeviceRecord rec;
        rec.PortName = t.node;
        rec.RegKey = t.devDir;
        rec.InstanceId =
            t.devDir.size() > sys_.size() && t.devDir.compare(0, sys_.size(), sys_) == 0
                ? t.devDir.substr(sys_.size())
                : t.devDir;
        rec.InstanceIdParent = Parent(rec.InstanceId);
        if (const std::string dev = ReadAttr(t.classDir + "/dev"); !dev.empty()) {
            unsigned maj = 0, min = 0;
            char colon = 0;
            std::istringstream in(dev);
            if (in >> maj >> colon >> min && colon == ':') rec.DevInst = makedev(maj, min);
        }

        // The driver that serves the port. The serial core's own "port"
        // devices sit between the tty and the UART's driver: look past them.
        std::string owner = t.devDir;
        rec.Service = DriverOf(owner);
        for (int up = 0;
             up < 3 && (rec.Service.empty() || rec.Service == "port" || rec.Service == "ctrl");
             ++up) {
            const std::string parent = Parent(owner);
            if (parent.size() <= sys_.size()) break;
            owner = parent;
            rec.Service = DriverOf(owner);
        }
        if (rec.Service.empty()) {
            owner = t.devDir;
            rec.Service = DriverOf(owner);
        }
        rec.Driver = SubsystemOf(owner);

        // The USB device, when the port hangs off one.
        std::string usb;
        for (std::string p = t.devDir; !p.empty() && p.size() > sys_.size(); p = Parent(p)) {
            if (Exists(p + "/idVendor")) {
                usb = p;
                break;
            }
        }
        // The adaptor's own product string (what its maker printed on it)
        // and the hardware database's name of the chip inside.
        std::string product, chip, vendor;
        if (!usb.empty()) {
            product = ReadAttr(usb + "/product");
            vendor = ReadAttr(usb + "/manufacturer");
            rec.SerialNumber = ReadAttr(usb + "/serial");
            rec.NameParentDevice = ReadAttr(usb + "/idVendor") + ":" + ReadAttr(usb + "/idProduct");
        }
        if (udev_) {
            std::unique_ptr<udev_device, UdevDeviceDeleter> dev(
                udev_device_new_from_subsystem_sysname(udev_.get(), "tty", t.name.c_str()));
            if (dev) {
                auto prop = [&](const char* key) {
                    const char* v = udev_device_get_property_value(dev.get(), key);
                    return std::string(v ? v : "");
                };
                chip = prop("ID_MODEL_FROM_DATABASE");
                if (auto v = prop("ID_VENDOR_FROM_DATABASE"); !v.empty()) vendor = v;
                if (auto sn = prop("ID_SERIAL_SHORT"); !sn.empty()) rec.SerialNumber = sn;
                std::istringstream links(prop("DEVLINKS"));
                for (std::string l; links >> l;) {
                    if (l.rfind("/dev/serial/by-id/", 0) == 0) {
                        rec.NameSymbolic = l;
                        break;
                    }
                }
            }
        }
        if (rec.NameSymbolic.empty()) rec.NameSymbolic = ByIdLink(t.node);
        if (product.empty() && chip.empty()) {
            if (!usb.empty())
                product = "USB serial device " + rec.NameParentDevice;
            else if (Exists(t.classDir + "/type"))
                product = UartTypeName(ReadAttr(t.classDir + "/type"));
            else
                product = rec.Service.empty() ? "serial device" : rec.Service;
        }
        rec.Manufacturer = vendor;
        rec.Description = ComposePortDescription(product, chip, t.node);
        return rec;
    }

    // The stable link to a node in <dev>/serial/by-id, for when no udev
    // database names it (udev makes those links; a container may have them
    // from its host).
    std::string ByIdLink(const std::string& node) const {
        const std::string dir = dev_ + "/serial/by-id";
        const std::string target = RealPath(node);
        if (target.empty()) return {};
        DIR* d = ::opendir(dir.c_str());
        if (!d) return {};
        std::string found;
        while (const dirent* e = ::readdir(d)) {
            const std::string name = e->d_name;
            if (name == "." || name == "..") continue;
            if (RealPath(dir + "/" + name) == target) {
                found = dir + "/" + name;
                break;
            }
        }
        ::closedir(d);
        return found;
    }

    std::string sys_;
    std::string dev_;
    std::unique_ptr<udev, UdevDeleter> udev_;
};

}  // namespace

PortAccess CheckPortAccess(const std::string& path) {
    PortAccess a;
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) {
        std::vector<char> buf(4096);
        group g{};
        group* found = nullptr;
        if (::getgrgid_r(st.st_gid, &g, buf.data(), buf.size(), &found) == 0 && found)
            a.group = found->gr_name;
        else
            a.group = std::to_string(st.st_gid);
        a.inGroup = ::getegid() == st.st_gid;
        const int n = ::getgroups(0, nullptr);
        if (n > 0) {
            std::vector<gid_t> groups(static_cast<std::size_t>(n));
            const int got = ::getgroups(n, groups.data());
            for (int i = 0; i < got; ++i) a.inGroup = a.inGroup || groups[i] == st.st_gid;
        }
    }
    if (::access(path.c_str(), R_OK | W_OK) == 0) {
        a.allowed = true;
        return a;
    }
    a.error = errno;
    a.errorText = std::strerror(a.error);
    return a;
}

std::unique_ptr<PortSource> MakeSystemPortSource(const std::string& sysRoot,
                                                 const std::string& devRoot) {
    return std::make_unique<SystemPortSource>(sysRoot, devRoot);
}

}  // namespace kelm
