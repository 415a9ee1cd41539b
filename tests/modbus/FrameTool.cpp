// Command-line face of the codec and the reply validation, for peers written
// in other languages (the pymodbus cross-check):
//   frame-tool send <rtu|ascii> <addr> <code> <reg> <data>          one-word request
//   frame-tool send <rtu|ascii> <addr> <15|16> <reg> <num> <hex>    multiple write
//   frame-tool recv <rtu|ascii> <hex of the wire bytes>             validate a reply
// Prints the request, or the Pbuf a handler would get, as upper-case hex, or
// "DROP" when the reply is discarded.
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "modbus/Checks.h"
#include "modbus/ModbusMaster.h"
#include "support/ManualTimer.h"
#include "support/ModbusDoubles.h"

namespace {

using kelm::ByteString;

std::optional<ByteString> ParseHex(const std::string& s) {
    ByteString out;
    for (std::size_t i = 0; i < s.size(); i += 2) {
        const std::string pair = s.substr(i, 2);
        char* end = nullptr;
        out.push_back(static_cast<std::uint8_t>(std::strtol(pair.c_str(), &end, 16)));
        if (pair.size() != 2 || end != pair.c_str() + 2) return std::nullopt;
    }
    return out;
}

int PrintHex(const ByteString& b) {
    for (std::uint8_t c : b) std::printf("%02X", c);
    std::printf("\n");
    return 0;
}

long Num(const char* s) {
    return std::strtol(s, nullptr, 0);
}

}  // namespace

int main(int argc, char** argv) {
    const std::string verb = argc > 1 ? argv[1] : "", proto = argc > 2 ? argv[2] : "";
    const bool send = verb == "send" && (argc == 7 || argc == 9);
    const bool recv = verb == "recv" && argc == 4;
    if ((!send && !recv) || (proto != "rtu" && proto != "ascii")) {
        std::fprintf(stderr, "usage: frame-tool send|recv rtu|ascii ...\n");
        return 2;
    }
    kelm::test::RecordingSink sink;
    kelm::test::RecordingStatus status;
    kelm::test::FixedProtocol protocol(proto == "rtu" ? kelm::kProtocolRtu : kelm::kProtocolAscii);
    kelm::test::ManualTimer timer;
    kelm::ModbusMaster master(sink, status, protocol, timer);

    if (send) {
        master.State().Node_Device_ID = static_cast<std::uint8_t>(Num(argv[3]));
        const auto code = static_cast<std::uint8_t>(Num(argv[4]));
        const auto reg = static_cast<std::uint16_t>(Num(argv[5]));
        if (argc == 7) {
            master.Modbus_Send_oneWord(code, reg, static_cast<std::uint16_t>(Num(argv[6])));
        } else {
            const auto data = ParseHex(argv[8]);
            if (!data) return 2;
            master.Modbus_Send_Buf(code, reg, static_cast<std::uint8_t>(Num(argv[6])),
                                   static_cast<std::uint8_t>(Num(argv[7])), *data);
        }
        if (sink.frames.size() == 1) return PrintHex(sink.frames[0]);
        std::printf("NOTHING\n");
        return 1;
    }
    const auto wire = ParseHex(argv[3]);
    if (!wire) return 2;
    // Route everything from address 1 to a handler that keeps Pbuf.
    std::optional<ByteString> got;
    master.State().Node_Device_ID = 1;
    master.State().Node_Device_Name = "KELM-8AD";
    master.SetReplyHandler("KELM_8AD_Event",
                           [&](std::uint16_t, const kelm::Frame& f) { got = f.bytes(); });
    master.ksComm1AfterReceive(wire->data(), static_cast<std::uint32_t>(wire->size()));
    timer.Tick(11);
    if (got) return PrintHex(*got);
    std::printf("DROP\n");
    return 0;
}
