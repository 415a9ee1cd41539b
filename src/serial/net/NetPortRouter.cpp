#include "serial/net/NetPortRouter.h"

#include <cerrno>

#include "serial/net/NetAddress.h"
#include "serial/net/NetSerialDevice.h"

namespace kelm::net {

NetPortRouter::NetPortRouter(std::unique_ptr<ISerialDevice> local, Factory makeNet)
    : local_(std::move(local)), makeNet_(std::move(makeNet)), active_(local_.get()) {}

bool NetPortRouter::Select(ISerialDevice* target) {
    ISerialDevice* current = active_.load();
    if (current != target && current->IsOpen()) return false;
    if (current != target) {
        target->SetMask(current->Mask());
        active_ = target;
    }
    return true;
}

int NetPortRouter::Open(const std::string& portName) {
    ISerialDevice* target = local_.get();
    if (IsNetworkPortName(portName)) {
        std::lock_guard g(createMutex_);
        if (!net_) net_ = makeNet_ ? makeNet_() : std::make_unique<NetSerialDevice>();
        target = net_.get();
    }
    if (!Select(target)) return EBUSY;
    return target->Open(portName);
}

int NetPortRouter::Adopt(TksHandle handle) {
    if (!Select(local_.get())) return EBUSY;
    return local_->Adopt(handle);
}

void NetPortRouter::SetMask(uint32_t mask) {
    Active().SetMask(mask);
}

std::unique_ptr<ISerialDevice> WithNetworkPorts(std::unique_ptr<ISerialDevice> local) {
    return std::make_unique<NetPortRouter>(std::move(local), nullptr);
}

}  // namespace kelm::net
