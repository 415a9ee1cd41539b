// Feeds arbitrary byte streams through the receiver and the dispatcher, with
// every model, protocol and routing state, and handlers that read every
// position a reply claims to have.
//
// Input: 4 bytes of setup, then chunks. Setup: [0] bits 0-3 model (8 and up:
// no known model), bits 4-5 protocol (0 RTU, 1 ASCII, 2-3 none), bit 6 scan
// running, bit 7 handlers send a request from inside; [1] selected address;
// [2..3] start register of the latest request. Chunk: one header byte (bits
// 0-5 length, bits 6-7 silence after it: 0, 5, 11 or 20 ticks), then up to
// that many bytes delivered in one receive event.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "modbus/Checks.h"
#include "modbus/ModbusMaster.h"
#include "modbus/Models.h"
#include "support/ManualTimer.h"
#include "support/ModbusDoubles.h"

namespace {

using namespace kelm;

volatile std::uint32_t g_sink;

void Require(bool ok) {
    if (!ok) __builtin_trap();
}

// Reads a reply the way the panels do, including past its end.
void ReadAll(const Frame& f) {
    std::uint32_t acc = 0;
    const std::size_t claimed = 3u + f[2];
    for (std::size_t i = 0; i < claimed + 4; ++i) acc += f[i] + f.word(i);
    acc += f.word(f.size()) + f.word(f.size() - 1) + f[f.size()];
    g_sink = acc;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 4) return 0;
    const std::uint8_t setup = data[0];

    test::RecordingSink sink;
    test::RecordingStatus status;
    const int proto = (setup >> 4) & 3;
    test::FixedProtocol protocol(proto <= 1 ? proto : -1);
    test::ManualTimer recTimer;
    test::ManualTimer checkTimer;
    ModbusMaster master(sink, status, protocol, recTimer);
    MasterState& st = master.State();

    const auto models = Models();
    const std::size_t model = setup & 0x0F;
    st.Node_Device_Name = model < models.size() ? std::string(models[model].name) : "";
    st.Node_Device_ID = data[1];
    st.Modbus_Reg_Addr = static_cast<std::uint16_t>(data[2] << 8 | data[3]);
    st.Scan_Device_Flag = (setup & 0x40) != 0;
    const bool sendFromHandler = (setup & 0x80) != 0;

    const std::size_t maxPbuf = proto == 0 ? kMaxReplyLength - 2 : (kMaxReplyLength - 3) / 2;
    auto onReply = [&](std::uint16_t command, const Frame& f) {
        Require(st.Recv_Flag);
        Require(f.size() >= 1 && f.size() <= maxPbuf);
        Require(command == f[1]);
        ReadAll(f);
        // A modal box lets deliveries in; they must be shut out.
        const std::size_t before = st.Recv_Str.size();
        master.ksComm1AfterReceive(f.bytes().data(), static_cast<std::uint32_t>(f.size()));
        Require(st.Recv_Str.size() == before);
        if (sendFromHandler) {
            master.Modbus_Send_oneWord(f[1], f.word(2), f.word(4));
            master.Modbus_Send_Buf(f[1], f.word(2), f[4], f[5], f.bytes());
        }
    };
    for (std::string_view name : kReplyHandlerNames) master.SetReplyHandler(name, onReply);
    master.SetScanHandler([&](const Frame& f) {
        ReadAll(f);
        if (IsPlausibleTypeCode(f[4])) {
            if (const ModelInfo* m = FindModelByCode(f[4])) {
                const auto parsed = ParseModuleNodeText(ModuleNodeText(m->name, f[0]));
                Require(parsed && parsed->address == f[0] && parsed->name == m->name);
            }
        }
    });
    master.SetCheckComHandler([&](const Frame& f) {
        Require(!checkTimer.Enabled());
        g_sink = f.word(3) + f.word(5) + f.word(7);
    });
    master.SetCheckComTimer(&checkTimer);
    checkTimer.SetEnabled(true);

    static constexpr int kTicks[] = {0, 5, 11, 20};
    std::size_t pos = 4;
    while (pos < size) {
        const std::uint8_t header = data[pos++];
        std::size_t len = header & 0x3F;
        if (len > size - pos) len = size - pos;
        master.ksComm1AfterReceive(data + pos, static_cast<std::uint32_t>(len));
        pos += len;
        recTimer.Tick(kTicks[header >> 6]);
        Require(st.Recv_Str.size() <= kMaxReplyLength + 1);
        if (!recTimer.Enabled()) Require(st.Recv_Str.empty() && !st.Recv_Flag);
    }
    recTimer.Tick(11);
    Require(st.Recv_Str.empty() && !st.Recv_Flag && !recTimer.Enabled());

    // The shared validators and the node-text parser on the raw input as well.
    const ByteString whole(data, data + size);
    if (auto p = CheckRtuFrame(whole)) Require(p->size() == size - 2);
    if (auto p = DecodeAsciiFrame(whole)) Require(p->size() == (size - 3) / 2 && p->back() == 0);
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    if (auto node = ParseModuleNodeText(text)) {
        Require(!node->name.empty() && text.back() == ')');
        Require(ParseModuleNodeText(ModuleNodeText(node->name, node->address)) == node);
    }
    return 0;
}
