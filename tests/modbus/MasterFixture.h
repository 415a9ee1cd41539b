#pragma once
// A master wired to recording doubles and a hand-driven end-of-frame timer.
#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <vector>

#include "modbus/Checks.h"
#include "modbus/ModbusMaster.h"
#include "modbus/Models.h"
#include "support/ManualTimer.h"
#include "support/ModbusDoubles.h"

namespace kelm::test {

inline ByteString Text(const std::string& s) {
    return ByteString(s.begin(), s.end());
}
// "01 03 FF" -> {0x01, 0x03, 0xFF}; spaces are ignored.
inline ByteString Hex(const std::string& s) {
    ByteString out;
    std::string digits;
    for (char c : s)
        if (!std::isspace(static_cast<unsigned char>(c))) digits += c;
    for (std::size_t i = 0; i + 1 < digits.size(); i += 2)
        out.push_back(static_cast<std::uint8_t>(std::stoul(digits.substr(i, 2), nullptr, 16)));
    return out;
}

class MasterTest : public ::testing::Test {
  protected:
    RecordingSink sink;
    RecordingStatus status;
    FixedProtocol protocol{kProtocolRtu};
    ManualTimer recTimer;
    ManualTimer checkTimer;
    ModbusMaster master{sink, status, protocol, recTimer};
    MasterState& st = master.State();

    void Deliver(const ByteString& bytes) {
        master.ksComm1AfterReceive(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
    }
    // The 11 silent ticks that end a frame.
    void EndOfFrame() { recTimer.Tick(11); }
    void Receive(const ByteString& bytes) {
        Deliver(bytes);
        EndOfFrame();
    }
    void Select(std::uint8_t address, const std::string& model) {
        st.Node_Device_ID = address;
        st.Node_Device_Name = model;
    }
    bool Idle() const {
        return st.Recv_Str.empty() && !st.Recv_Flag && !recTimer.Enabled() &&
               st.Recv_Timer_Count == 0;
    }
};

// Records every call of every handler, by name.
struct Call {
    std::string handler;
    std::uint16_t command = 0;
    ByteString pbuf;
};

class RoutingTest : public MasterTest {
  protected:
    std::vector<Call> calls;

    void SetUp() override {
        for (std::string_view name : kReplyHandlerNames) {
            ASSERT_TRUE(master.SetReplyHandler(
                name, [this, n = std::string(name)](std::uint16_t cmd, const Frame& f) {
                    calls.push_back({n, cmd, f.bytes()});
                }));
        }
        master.SetScanHandler([this](const Frame& f) {
            calls.push_back({"Disposal_Modbus03_Scandevice", 0, f.bytes()});
        });
        master.SetCheckComHandler([this](const Frame& f) {
            // The link check's timer is already stopped when its handler runs.
            EXPECT_FALSE(checkTimer.Enabled());
            calls.push_back({"Disposal_Modbus03_checkcom", 0, f.bytes()});
        });
        master.SetCheckComTimer(&checkTimer);
    }
};

}  // namespace kelm::test
