#pragma once
// Serial port enumeration: the port list as the program builds it.
//
// Two sources stand behind the list, in the shape the list builder expects:
//   - the active-port map: one value per port the system knows now, the
//     value's name being the device that carries the port and its data the
//     port name "COM<n>" (hardware ttys numbered by their kernel name, and
//     the links of the virtual-port directory);
//   - device records: what is known about each device (description, driver,
//     manufacturer, the node that opens it), consulted unless the quick mode
//     is asked for.
// The list is sorted by port number with at most one entry per number; each
// entry's display text is "COM<n>" or "COM<n> (description)".
//
// How kernel names are numbered (the README repeats this for users):
//   ttyS<k>   -> COM<1+k>     built-in and PCI UARTs (only with hardware behind)
//   ttyUSB<k> -> COM<33+k>    USB adaptors (FTDI, CH340, CP210x, PL2303, ...)
//   ttyACM<k> -> COM<65+k>    USB CDC-ACM devices
//   ttyAMA<k> -> COM<97+k>    on-board ARM UARTs
// for k = 0..31; virtual ports take the number in their link name. Other
// ttys with a device behind them are listed from their device records only,
// as COM4097, COM4098, ... in the order of their kernel names (by the
// number in the name: ttyXR2 before ttyXR10).
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kelm {

// How much of the device records is used (the component's EnumPorts values
// map one to one onto these).
enum class PortEnumMode {
    QuickAll,     // the active-port map only; no descriptions
    FullInfo,     // the map, completed from all known devices, present or not
    FullPresent,  // as FullInfo with present devices only; a map entry that
                  // matches none of the remaining device records is dropped
};

// One device record, with the fields of the component's device record that
// the enumeration fills (same names, so copying is field by field).
struct PortDeviceRecord {
    unsigned DevInst = 0;          // device number (major:minor) of the node
    unsigned DevInstParent = 0;    // 0: not known
    int Data = 0;                  // port number
    std::string NameFriendly;      // display text
    std::string NamePDO;           // the map's value name: the device carrying the port
    std::string NameDeviceDos;     // "COM<n>"
    std::string NameSymbolic;      // a stable link to the node (/dev/serial/by-id/...) if any
    std::string NameParentDevice;  // USB vendor:product ("0403:6001") when on USB
    std::string RegKey;            // the device's sysfs directory
    std::string Description;       // "model, /dev/node"
    std::string Service;           // kernel driver of the port's device
    std::string Driver;            // driver of the bus device (usb, pnp, platform, ...)
    std::string InstanceId;        // sysfs device path
    std::string InstanceIdParent;
    std::string PortName;  // what opens the port (device node or link)
    std::string Manufacturer;
    std::string SerialNumber;  // the USB device's serial number, if any
    bool Present = true;       // the device exists now (virtual links may dangle)
};

// One value of the active-port map.
struct PortMapValue {
    std::string ValueName;  // the device carrying the port (its node or link path)
    std::string Data;       // the port name, "COM<n>"
};

// Where the lists come from. The real one reads the system; tests give fakes.
class PortSource {
  public:
    virtual ~PortSource() = default;
    // The active-port map, in the order the system gives it.
    virtual std::vector<PortMapValue> ReadPortMap() = 0;
    // Device records; with presentOnly, of devices present now.
    virtual std::vector<PortDeviceRecord> DeviceRecords(bool presentOnly) = 0;
    // What opens a port listed by the map alone: the value's name (Linux:
    // the device node) or its data, the port name (Windows: "COM3").
    virtual bool OpenByMapValueName() const { return true; }
};

// A string list whose entries carry a number, as the port list functions use.
using NumberedList = std::vector<std::pair<std::string, int>>;

// Ordered insertion of S with number No into L: nothing when L holds S
// already; appended when L is empty or its last number is below No;
// otherwise inserted before the first entry with a greater number, and
// dropped when there is none.
void AddSorted(const std::string& S, int No, NumberedList& L);

// The active ports of the map, sorted by number: "COM<n>" entries (with
// MoreInfo "COM<n>=<value name>") carrying n. Data that does not start with
// "COM" followed by a whole number is skipped; a port named twice is listed
// once (the first value wins).
void GetPortList(const std::vector<PortMapValue>& map, NumberedList& L, bool MoreInfo);

// Sorted insertion of a record into a plain list by Data; returns the
// position, or -1 when the number is listed already (the record is not added).
int AddDeviceSorted(std::vector<PortDeviceRecord>& list, PortDeviceRecord rec);

// Builds the port list from src in mode, handing each finished record to add
// (which inserts it sorted and returns -1 when it refuses it).
void BuildPortList(PortEnumMode mode, PortSource& src,
                   const std::function<int(PortDeviceRecord&&)>& add);

// Convenience: the built list as a sorted vector.
std::vector<PortDeviceRecord> LoadPortRecords(PortEnumMode mode, PortSource& src);

// The system's sources: sysfs and libudev for kernel ttys, the virtual-port
// directory for simulated ports. sysRoot and devRoot let tests use a fake
// tree; udev information is consulted only with the real roots. On Windows:
// the registry's port map and the device-setup records (the roots are not
// used).
std::unique_ptr<PortSource> MakeSystemPortSource(const std::string& sysRoot = "/sys",
                                                 const std::string& devRoot = "/dev");

// Replaces the system's sources for the component's list loading (tests and
// demonstrations); an empty function restores the system's. Thread-safe.
void SetPortSourceFactory(std::function<std::unique_ptr<PortSource>()> factory);
// A source from the factory set above, or the system's.
std::unique_ptr<PortSource> MakePortSource();

// The device-change notice as the component's WMDeviceChange takes it: the
// kind of change, and for arrivals and removals the kind of device.
constexpr uint32_t DBT_DEVNODES_CHANGED = 0x0007;
constexpr uint32_t DBT_DEVICEARRIVAL = 0x8000;
constexpr uint32_t DBT_DEVICEREMOVECOMPLETE = 0x8004;
constexpr uint32_t DBT_DEVTYP_PORT = 3;

// One line of the port list as the program shows it.
struct PortListEntry {
    int Number = 0;
    std::string DisplayText;  // "COM<n> (description)"
    std::string PortName;     // what opens the port
};

// The port list of this machine as the program builds it (the application
// uses FullPresent).
std::vector<PortListEntry> EnumeratePorts(PortEnumMode mode = PortEnumMode::FullPresent);

// The COM number of a kernel tty name ("ttyUSB0" -> 33), or nullopt when the
// numbering does not cover the name.
std::optional<int> PortNumberOfKernelName(const std::string& kernelName);

// Kernel tty names in the order they are numbered: by stem, then by the
// number that ends them (ttyXR2 before ttyXR10).
bool KernelNameLess(const std::string& a, const std::string& b);

// A port's description as a user recognises the device: the adaptor's own
// product string (the USB descriptor's, such as "USB-RS485 Cable") first, the
// hardware database's chip name after it when it says something more, then
// the device node. Parentheses inside become brackets: the description is
// shown in parentheses itself.
std::string ComposePortDescription(const std::string& product, const std::string& chip,
                                   const std::string& node);

// Whether this user may open a port's device node, and if not why.
struct PortAccess {
    bool allowed = false;
    int error = 0;          // why not (errno), 0 when allowed
    std::string errorText;  // its text
    std::string group;      // the node's group ("dialout"), when known
    bool inGroup = false;   // this user belongs to it
};
PortAccess CheckPortAccess(const std::string& path);
// "yes", or "no (...)" with what to do about it.
std::string DescribePortAccess(const PortAccess& access);

}  // namespace kelm
