// The port list builder: ordering, numbering and the three modes. The system
// sources are in posix/EnumSystem.cpp and win32/EnumSystem.cpp.
#include "serial/EnumPorts.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <mutex>

namespace kelm {

namespace {

// Removes leading and trailing blanks and control characters.
std::string Trim(const std::string& s) {
    std::size_t b = 0, e = s.size();
    while (b < e && static_cast<unsigned char>(s[b]) <= ' ') ++b;
    while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ') --e;
    return s.substr(b, e - b);
}

std::string Upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

bool IEquals(const std::string& a, const std::string& b) {
    return a.size() == b.size() && Upper(a) == Upper(b);
}

bool StartsWith(const std::string& s, const char* prefix) {
    return s.rfind(prefix, 0) == 0;
}

// A whole number: an optional sign and decimal digits, in int range.
std::optional<int> WholeNumber(const std::string& s) {
    std::size_t i = 0;
    bool neg = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) neg = s[i++] == '-';
    if (i == s.size()) return std::nullopt;
    long long v = 0;
    for (; i < s.size(); ++i) {
        if (s[i] < '0' || s[i] > '9') return std::nullopt;
        v = v * 10 + (s[i] - '0');
        if (v > static_cast<long long>(INT_MAX) + 1) return std::nullopt;
    }
    if (neg) v = -v;
    if (v < INT_MIN || v > INT_MAX) return std::nullopt;
    return static_cast<int>(v);
}

// Name part of a "name=value" entry (the whole entry when there is no "=").
std::string NamePart(const std::string& entry) {
    const auto eq = entry.find('=');
    return eq == std::string::npos ? entry : entry.substr(0, eq);
}

std::string ValuePart(const std::string& entry) {
    const auto eq = entry.find('=');
    return eq == std::string::npos ? std::string() : entry.substr(eq + 1);
}

// The number of "COM<n>" (n a whole number from 1 up), or nullopt.
std::optional<int> NumberOfComName(const std::string& s) {
    if (!StartsWith(s, "COM") || s.size() < 4 || s[3] < '1' || s[3] > '9') return std::nullopt;
    const auto n = WholeNumber(s.substr(3));
    if (!n || *n < 1 || s.find_first_not_of("0123456789", 3) != std::string::npos)
        return std::nullopt;
    return n;
}

void AddDescription(PortDeviceRecord& rec, const std::string& description) {
    rec.Description = description;
    if (!description.empty()) rec.NameFriendly += " (" + description + ")";
}

}  // namespace

void AddSorted(const std::string& S, int No, NumberedList& L) {
    for (const auto& e : L) {
        if (e.first == S) return;
    }
    if (L.empty() || L.back().second < No) {
        L.emplace_back(S, No);
        return;
    }
    for (auto it = L.begin(); it != L.end(); ++it) {
        if (it->second > No) {
            L.emplace(it, S, No);
            return;
        }
    }
    // The last number equals No: the port is listed already.
}

void GetPortList(const std::vector<PortMapValue>& map, NumberedList& L, bool MoreInfo) {
    L.clear();
    for (const auto& value : map) {
        const std::string s = Upper(Trim(value.Data));
        if (!StartsWith(s, "COM")) continue;
        const bool listed =
            std::any_of(L.begin(), L.end(), [&](const auto& e) { return NamePart(e.first) == s; });
        if (listed) continue;
        const auto no = WholeNumber(s.substr(3));
        if (!no) continue;
        AddSorted(MoreInfo ? s + "=" + value.ValueName : s, *no, L);
    }
}

int AddDeviceSorted(std::vector<PortDeviceRecord>& list, PortDeviceRecord rec) {
    if (list.empty() || list.back().Data < rec.Data) {
        list.push_back(std::move(rec));
        return static_cast<int>(list.size()) - 1;
    }
    for (std::size_t i = 0; i < list.size(); ++i) {
        if (list[i].Data == rec.Data) return -1;
        if (list[i].Data > rec.Data) {
            list.insert(list.begin() + static_cast<std::ptrdiff_t>(i), std::move(rec));
            return static_cast<int>(i);
        }
    }
    return -1;  // not reached: the last record's Data is >= rec.Data
}

void BuildPortList(PortEnumMode mode, PortSource& src,
                   const std::function<int(PortDeviceRecord&&)>& add) {
    const bool enumPresent = mode == PortEnumMode::FullPresent;
    const bool full = mode != PortEnumMode::QuickAll;

    std::vector<PortDeviceRecord> collected;
    if (full) collected = src.DeviceRecords(enumPresent);

    const std::vector<PortMapValue> map = src.ReadPortMap();
    NumberedList ports;
    GetPortList(map, ports, true);

    for (const auto& [entry, number] : ports) {
        PortDeviceRecord rec;
        rec.NameFriendly = Trim(NamePart(entry));
        rec.NameDeviceDos = rec.NameFriendly;
        rec.NamePDO = ValuePart(entry);
        rec.Data = number;
        // On Linux the device the map names is what opens the port (a
        // "COM<n>" name by itself opens nothing); on Windows the port name.
        rec.PortName = src.OpenByMapValueName() ? rec.NamePDO : rec.NameDeviceDos;
        if (full) {
            const std::string inParens = "(" + rec.NameDeviceDos + ")";
            auto found = std::find_if(collected.begin(), collected.end(), [&](const auto& d) {
                return IEquals(d.PortName, rec.NameDeviceDos) ||
                       (!d.PortName.empty() && Trim(d.PortName) == rec.NamePDO) ||
                       d.Description.find(inParens) != std::string::npos;
            });
            if (found != collected.end()) {
                rec.Service = found->Service;
                AddDescription(rec, found->Description);
                rec.Driver = found->Driver;
                rec.Manufacturer = found->Manufacturer;
                // A record without a node of its own (matched by its
                // description alone) keeps the map's device to open.
                if (const auto name = Trim(found->PortName); !name.empty()) rec.PortName = name;
                rec.RegKey = found->RegKey;
                rec.DevInst = found->DevInst;
                rec.InstanceId = found->InstanceId;
                rec.NameSymbolic = found->NameSymbolic;
                rec.NameParentDevice = found->NameParentDevice;
                rec.SerialNumber = found->SerialNumber;
                collected.erase(found);
            } else if (enumPresent && !collected.empty()) {
                continue;  // a map entry no present device stands behind
            }
        }
        add(std::move(rec));
    }

    if (!full) return;
    int counter = 4096;
    // Names a port by its number: the window reads the number back from the
    // text between "COM" and the first blank.
    auto name = [&](PortDeviceRecord& rec, const std::string& portName, int number) {
        rec.Data = number;
        rec.NameFriendly = portName.empty() ? "COM" + std::to_string(number) : portName;
        rec.NameDeviceDos = rec.NameFriendly;
        rec.NamePDO.clear();
        for (const auto& [entry, no] : ports) {
            if (NamePart(entry) == rec.NameFriendly) {
                rec.NamePDO = ValuePart(entry);
                break;
            }
        }
    };
    for (auto& d : collected) {
        if (d.PortName.empty() || StartsWith(d.PortName, "LPT")) continue;
        PortDeviceRecord rec;
        rec.Service = d.Service;
        rec.Description = d.Description;
        rec.Driver = d.Driver;
        rec.Manufacturer = d.Manufacturer;
        rec.PortName = Trim(d.PortName);
        rec.RegKey = d.RegKey;
        rec.DevInst = d.DevInst;
        rec.InstanceId = d.InstanceId;
        rec.NameSymbolic = d.NameSymbolic;
        rec.NameParentDevice = d.NameParentDevice;
        rec.SerialNumber = d.SerialNumber;
        rec.Present = d.Present;
        const std::string ownName = d.PortName.substr(0, d.PortName.find('\0'));
        if (StartsWith(ownName, "COM")) {
            name(rec, ownName, WholeNumber(ownName.substr(3)).value_or(0));
        } else if (const auto published = NumberOfComName(d.NameDeviceDos)) {
            // A device known under a COM name of its own (a virtual link that
            // dangles now) keeps that number unless a present port took it.
            name(rec, "", *published);
            PortDeviceRecord first = rec;
            AddDescription(first, rec.Description);
            if (add(std::move(first)) >= 0) continue;
            name(rec, "", ++counter);
        } else {
            name(rec, "", ++counter);
        }
        AddDescription(rec, rec.Description);
        add(std::move(rec));
    }
}

std::vector<PortDeviceRecord> LoadPortRecords(PortEnumMode mode, PortSource& src) {
    std::vector<PortDeviceRecord> list;
    BuildPortList(mode, src,
                  [&](PortDeviceRecord&& rec) { return AddDeviceSorted(list, std::move(rec)); });
    return list;
}

namespace {
// Guards the factory: the application may load lists from several threads'
// components, tests replace it.
std::mutex gFactoryMutex;
std::function<std::unique_ptr<PortSource>()> gFactory;
}  // namespace

void SetPortSourceFactory(std::function<std::unique_ptr<PortSource>()> factory) {
    std::lock_guard lock(gFactoryMutex);
    gFactory = std::move(factory);
}

std::unique_ptr<PortSource> MakePortSource() {
    std::function<std::unique_ptr<PortSource>()> factory;
    {
        std::lock_guard lock(gFactoryMutex);
        factory = gFactory;
    }
    if (factory) {
        if (auto src = factory()) return src;
    }
    return MakeSystemPortSource();
}

std::vector<PortListEntry> EnumeratePorts(PortEnumMode mode) {
    auto src = MakePortSource();
    std::vector<PortListEntry> out;
    for (auto& rec : LoadPortRecords(mode, *src)) {
        out.push_back(PortListEntry{rec.Data, rec.NameFriendly, rec.PortName});
    }
    return out;
}

std::string ComposePortDescription(const std::string& product, const std::string& chip,
                                   const std::string& node) {
    // The description stands in parentheses after the port name: brackets
    // inside it keep the text readable (and "COM5 (...)" one level deep).
    auto flat = [](std::string s) {
        s = Trim(s);
        for (char& c : s) {
            if (c == '(') c = '[';
            if (c == ')') c = ']';
        }
        return s;
    };
    const std::string p = flat(product), c = flat(chip);
    std::string out = p;
    if (!c.empty() && Upper(c) != Upper(p)) out += out.empty() ? c : ", " + c;
    if (!node.empty()) out += out.empty() ? node : ", " + node;
    return out;
}

std::string DescribePortAccess(const PortAccess& a) {
    if (a.allowed) return "yes";
    std::string out = "no";
    if (a.error != 0 && a.error != EACCES && a.error != EPERM) {
        return out + " (" + a.errorText + ")";
    }
    if (a.group.empty()) return out + " (" + a.errorText + ")";
    out += " (the port belongs to group " + a.group;
    if (a.inGroup) {
        out += "; you are a member, yet the port refuses: check its mode";
    } else {
        out += "; you are not a member: sudo usermod -aG " + a.group +
               " $USER, then log out and in again";
    }
    return out + ")";
}

bool KernelNameLess(const std::string& a, const std::string& b) {
    auto split = [](const std::string& s) {
        std::size_t i = s.size();
        while (i > 0 && s[i - 1] >= '0' && s[i - 1] <= '9') --i;
        return i;
    };
    const std::size_t ia = split(a), ib = split(b);
    const std::string stemA = a.substr(0, ia), stemB = b.substr(0, ib);
    if (stemA != stemB) return stemA < stemB;
    const std::string da = a.substr(ia), db = b.substr(ib);
    // Numbers by value: fewer digits (leading zeros aside) is smaller.
    const auto strip = [](const std::string& d) {
        const auto nz = d.find_first_not_of('0');
        return nz == std::string::npos ? std::string() : d.substr(nz);
    };
    const std::string na = strip(da), nb = strip(db);
    if (na.size() != nb.size()) return na.size() < nb.size();
    if (na != nb) return na < nb;
    return a < b;
}

std::optional<int> PortNumberOfKernelName(const std::string& name) {
    struct Block {
        const char* prefix;
        int first;
    };
    static constexpr Block kBlocks[] = {
        {"ttyS", 1}, {"ttyUSB", 33}, {"ttyACM", 65}, {"ttyAMA", 97}};
    for (const auto& b : kBlocks) {
        const std::string prefix = b.prefix;
        if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) continue;
        const std::string digits = name.substr(prefix.size());
        if (digits.size() > 2 || (digits.size() == 2 && digits[0] == '0')) return std::nullopt;
        if (!std::all_of(digits.begin(), digits.end(),
                         [](char c) { return c >= '0' && c <= '9'; })) {
            return std::nullopt;
        }
        const int k = std::stoi(digits);
        if (k > 31) return std::nullopt;
        return b.first + k;
    }
    return std::nullopt;
}

}  // namespace kelm
