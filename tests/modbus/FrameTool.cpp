// Command-line face of the codec and the reply validation, for peers written
// in other languages (the pymodbus cross-check):
//   frame-tool send <rtu|ascii> <addr> <code> <reg> <data>          one-word request
//   frame-tool send <rtu|ascii> <addr> <15|16> <reg> <num> <hex>    multiple write
//   frame-tool recv <rtu|ascii> <hex of the wire bytes>             validate a reply
// Prints the request, or the Pbuf a handler would get, as upper-case hex, or
// "DROP" when the reply is discarded.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "modbus/Checks.h"
#include "modbus/ModbusMaster.h"
#include "support/ManualTimer.h"
#include "support/ModbusDoubles.h"

namespace {

using kelm::ByteString;

bool ParseHex(const std::string& s, ByteString& out) {
    if (s.size() % 2 != 0) return false;
    for (std::size_t i = 0; i < s.size(); i += 2) {
        char* end = nullptr;
        const std::string pair = s.substr(i, 2);
        const long v = std::strtol(pair.c_str(), &end, 16);
        if (end != pair.c_str() + 2) return false;
        out.push_back(static_cast<std::uint8_t>(v));
    }
    return true;
}

void PrintHex(const ByteString& b) {
    for (std::uint8_t c : b) std::printf("%02X", c);
    std::printf("\n");
}

long Num(const char* s) {
    return std::strtol(s, nullptr, 0);
}

int Usage() {
    std::fprintf(stderr, "usage: frame-tool send|recv rtu|ascii ...\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) return Usage();
    const std::string verb = argv[1];
    const std::string proto = argv[2];
    if (proto != "rtu" && proto != "ascii") return Usage();

    kelm::test::RecordingSink sink;
    kelm::test::RecordingStatus status;
    kelm::test::FixedProtocol protocol(proto == "rtu" ? kelm::kProtocolRtu : kelm::kProtocolAscii);
    kelm::test::ManualTimer timer;
    kelm::ModbusMaster master(sink, status, protocol, timer);

    if (verb == "send") {
        if (argc != 7 && argc != 9) return Usage();
        master.State().Node_Device_ID = static_cast<std::uint8_t>(Num(argv[3]));
        const auto code = static_cast<std::uint8_t>(Num(argv[4]));
        const auto reg = static_cast<std::uint16_t>(Num(argv[5]));
        if (argc == 7) {
            master.Modbus_Send_oneWord(code, reg, static_cast<std::uint16_t>(Num(argv[6])));
        } else {
            ByteString data;
            if (!ParseHex(argv[8], data)) return Usage();
            master.Modbus_Send_Buf(code, reg, static_cast<std::uint8_t>(Num(argv[6])),
                                   static_cast<std::uint8_t>(Num(argv[7])), data);
        }
        if (sink.frames.size() != 1) {
            std::printf("NOTHING\n");
            return 1;
        }
        PrintHex(sink.frames[0]);
        return 0;
    }
    if (verb == "recv") {
        ByteString wire;
        if (!ParseHex(argv[3], wire)) return Usage();
        ByteString got;
        bool handled = false;
        // Route everything from address 1 to a handler that keeps Pbuf.
        master.State().Node_Device_ID = 1;
        master.State().Node_Device_Name = "KELM-8AD";
        master.SetReplyHandler("KELM_8AD_Event", [&](std::uint16_t, const kelm::Frame& f) {
            got = f.bytes();
            handled = true;
        });
        master.ksComm1AfterReceive(wire.data(), static_cast<std::uint32_t>(wire.size()));
        timer.Tick(11);
        if (!handled) {
            std::printf("DROP\n");
            return 0;
        }
        PrintHex(got);
        return 0;
    }
    return Usage();
}
