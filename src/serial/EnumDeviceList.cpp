// The component's device list: sorted insertion, loading from the port
// sources, the device index, and the device-change notice.
#include "serial/EnumPorts.h"
#include "serial/ksComm.h"

namespace kelm {

int TksBaseIO::AddDeviceSorted(std::shared_ptr<TksDevice> aDevice) {
    if (!aDevice) return -1;
    if (slDevices.empty() || slDevices.back().Device->Data < aDevice->Data) {
        return AddDevice(std::move(aDevice));
    }
    for (std::size_t i = 0; i < slDevices.size(); ++i) {
        TksDevice& d = *slDevices[i].Device;
        if (d.Data == aDevice->Data) return -1;
        if (d.Data > aDevice->Data) {
            aDevice->fIndex = static_cast<int>(i);
            aDevice->fParent = this;
            std::string text = aDevice->NameFriendly;
            slDevices.insert(slDevices.begin() + static_cast<std::ptrdiff_t>(i),
                             TksDeviceListItem{std::move(text), std::move(aDevice)});
            for (std::size_t j = i + 1; j < slDevices.size(); ++j) {
                slDevices[j].Device->fIndex = static_cast<int>(j);
            }
            return static_cast<int>(i);
        }
    }
    return -1;  // not reached: the last record's Data is not below the new one
}

bool TksBaseIO::WMDeviceChange(uint32_t wParam, uint32_t deviceType) {
    const bool ours = wParam == DBT_DEVNODES_CHANGED ||
                      ((wParam == DBT_DEVICEARRIVAL || wParam == DBT_DEVICEREMOVECOMPLETE) &&
                       deviceType == DBT_DEVTYP_PORT);
    if (!ours) return false;
    Update();
    return true;
}

void TksCustomSerialComm::DeviceListLoad() {
    PortEnumMode mode = PortEnumMode::QuickAll;
    switch (fEnumPorts) {
        case TksEnumPorts::epQuickAll:
            mode = PortEnumMode::QuickAll;
            break;
        case TksEnumPorts::epFullInfo:
            mode = PortEnumMode::FullInfo;
            break;
        case TksEnumPorts::epFullPresent:
            mode = PortEnumMode::FullPresent;
            break;
    }
    auto src = MakePortSource();
    BuildPortList(mode, *src, [this](PortDeviceRecord&& r) {
        auto d = std::make_shared<TksDevice>();
        d->DevInst = r.DevInst;
        d->DevInstParent = r.DevInstParent;
        d->Data = r.Data;
        d->NameFriendly = std::move(r.NameFriendly);
        d->NamePDO = std::move(r.NamePDO);
        d->NameDeviceDos = std::move(r.NameDeviceDos);
        d->NameSymbolic = std::move(r.NameSymbolic);
        d->NameParentDevice = std::move(r.NameParentDevice);
        d->RegKey = std::move(r.RegKey);
        d->Description = std::move(r.Description);
        d->Service = std::move(r.Service);
        d->Driver = std::move(r.Driver);
        d->InstanceId = std::move(r.InstanceId);
        d->InstanceIdParent = std::move(r.InstanceIdParent);
        d->PortName = std::move(r.PortName);
        d->Manufacturer = std::move(r.Manufacturer);
        return AddDeviceSorted(std::move(d));  // a refused record is freed here
    });
    // Ports named by hand are not in any system source: without them here,
    // the reload before every open would drop the port about to be opened.
    for (const TksUserPort& u : fUserPorts) {
        if (u.Number == 0 || u.PortName.empty()) continue;
        auto d = std::make_shared<TksDevice>();
        d->Data = u.Number;
        d->NameFriendly = u.Text.empty() ? u.PortName : u.Text;
        d->NameDeviceDos = d->NameFriendly;
        d->PortName = u.PortName;
        AddDeviceSorted(std::move(d));
    }
}

int TksCustomSerialComm::GetDeviceIndex() {
    return IndexOfDeviceData(fComPortNo);
}

void TksCustomSerialComm::SetDeviceIndex(int Value) {
    if (Value < 0 || Value >= DeviceCount()) return;
    SetComPortNo(static_cast<uint16_t>(GetDevice(Value)->Data));
}

}  // namespace kelm
