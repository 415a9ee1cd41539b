// Requests built by the master: byte-exact frames in both protocols, the
// recorded start register, the status text, and the refused cases.
#include <numeric>

#include "MasterFixture.h"

namespace kelm::test {
namespace {

const std::string kSending = "正在扫描终端数据......";

// Hex for an RTU frame, the text itself for an ASCII one.
ByteString Wire(const std::string& s) {
    return s[0] == ':' ? Text(s) : Hex(s);
}

using CodecTest = MasterTest;

TEST_F(CodecTest, OneWordRequestsAreByteExact) {
    static_assert(sizeof(st.Modbus_Reg_Addr) == 2 && sizeof(st.Node_Device_ID) == 1 &&
                  sizeof(st.Recv_Timer_Count) == 4 && sizeof(st.DO07_Mode) == 1 &&
                  sizeof(st.DO15_Mode) == 2 && sizeof(st.DIDO_Button_Status) == 1);
    EXPECT_EQ(recTimer.Interval(), 10);
    EXPECT_FALSE(recTimer.Enabled());
    const struct {
        int proto;
        std::uint8_t address, code;
        std::uint16_t reg, data;
        std::string wire;
    } rows[] = {
        {kProtocolRtu, 1, 3, 0, 3, "01 03 00 00 00 03 05 CB"},  // identity read
        {kProtocolAscii, 1, 3, 0, 3, ":010300000003F9\r\n"},
        {kProtocolRtu, 0, 3, 3, 3, "00 03 00 03 00 03 F4 1A"},  // broadcast parameter read
        {kProtocolAscii, 0, 3, 3, 3, ":000300030003F7\r\n"},
        {kProtocolRtu, 1, 6, 8, 4000, "01 06 00 08 0F A0 0D 80"},
        {kProtocolRtu, 1, 5, 0, 0xFF00, "01 05 00 00 FF 00 8C 3A"},
        {kProtocolAscii, 1, 5, 0, 0xFF00, ":01050000FF00FB\r\n"},
        // Address 200 and bytes 0x80-0xFF reach the line unchanged, in upper-case hex.
        {kProtocolRtu, 200, 0x86, 0xA0FE, 0x8BCD, "C8 86 A0 FE 8B CD 7D 18"},
        {kProtocolAscii, 200, 0x86, 0xA0FE, 0x8BCD, ":C886A0FE8BCDBC\r\n"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.wire);
        protocol.index = r.proto;  // read at the moment of sending
        st.Node_Device_ID = r.address;
        status.history.clear();
        master.Modbus_Send_oneWord(r.code, r.reg, r.data);
        EXPECT_EQ(sink.frames.back(), Wire(r.wire));
        EXPECT_EQ(st.Modbus_Reg_Addr, r.reg);
        ASSERT_EQ(status.history.size(), 1u);
        EXPECT_EQ(status.history[0], std::make_pair(0, kSending));
    }
    EXPECT_EQ(sink.frames.size(), std::size(rows));
    // Any function code passes through unchecked.
    protocol.index = kProtocolRtu;
    for (int code : {0, 7, 15, 16, 0x83, 255}) {
        master.Modbus_Send_oneWord(static_cast<std::uint8_t>(code), 1000, 1);
        EXPECT_EQ(sink.frames.back()[1], code);
    }
    // A prepared frame goes out unchanged, with the same status text.
    status.latest.clear();
    master.KELM_Uart_Send_String(Hex("3A 00 FF 80 0D 0A"));
    EXPECT_EQ(sink.frames.back(), Hex("3A 00 FF 80 0D 0A"));
    EXPECT_EQ(status.Text(0), kSending);
}

TEST_F(CodecTest, MultipleWritesAreByteExact) {
    st.Node_Device_ID = 1;
    const ByteString values{0x0F, 0xA0, 0x80, 0x01, 0xEE};
    // Only buf_num bytes are taken.
    EXPECT_TRUE(master.Modbus_Send_Buf(16, 0x0102, 2, 4, values));
    EXPECT_EQ(sink.frames.back(), Hex("01 10 01 02 00 02 04 0F A0 80 01 DC D0"));
    EXPECT_EQ(st.Modbus_Reg_Addr, 0x0102);
    protocol.index = kProtocolAscii;
    EXPECT_TRUE(master.Modbus_Send_Buf(16, 0x0102, 2, 4, values));
    EXPECT_EQ(sink.frames.back(), Text(":011001020002040FA08001B6\r\n"));
    protocol.index = kProtocolRtu;
    st.Node_Device_ID = 9;
    const std::uint8_t bits[] = {0xA5, 0x81};
    EXPECT_TRUE(master.Modbus_Send_Buf(15, 0, 16, 2, bits));
    EXPECT_EQ(sink.frames.back(), FrameRtu(Hex("09 0F 00 00 00 10 02 A5 81")));
    // No data announced and none given is a well-formed (if odd) request.
    EXPECT_TRUE(master.Modbus_Send_Buf(16, 9, 0, 0, nullptr));
    EXPECT_EQ(sink.frames.back(), FrameRtu(Hex("09 10 00 09 00 00 00")));
    // The largest payload, in both forms.
    ByteString data(255);
    std::iota(data.begin(), data.end(), 0);
    EXPECT_TRUE(master.Modbus_Send_Buf(16, 0, 255, 255, data));
    EXPECT_EQ(sink.frames.back().size(), 9u + 255u);
    EXPECT_TRUE(CheckRtuFrame(sink.frames.back()));
    protocol.index = kProtocolAscii;
    EXPECT_TRUE(master.Modbus_Send_Buf(16, 0, 255, 255, data));
    EXPECT_EQ(sink.frames.back().size(), 1u + 2u * (8u + 255u) + 2u);
    EXPECT_TRUE(DecodeAsciiFrame(sink.frames.back()));
}

TEST_F(CodecTest, RefusedRequestsSendNothing) {
    master.Modbus_Send_oneWord(3, 77, 1);
    status.history.clear();
    const std::uint8_t data[] = {1, 2};
    for (int code : {0, 1, 3, 5, 6, 14, 17, 0x8F, 0x90})
        EXPECT_FALSE(master.Modbus_Send_Buf(static_cast<std::uint8_t>(code), 9, 1, 2, data));
    // Fewer bytes than announced, or none at all.
    EXPECT_FALSE(master.Modbus_Send_Buf(16, 9, 2, 4, ByteString{1, 2, 3}));
    EXPECT_FALSE(master.Modbus_Send_Buf(16, 9, 2, 4, nullptr));
    EXPECT_EQ(sink.frames.size(), 1u);
    EXPECT_EQ(st.Modbus_Reg_Addr, 77);
    EXPECT_TRUE(status.history.empty());
    // No protocol selected: nothing goes out, but the register is still recorded.
    protocol.index = -1;
    master.Modbus_Send_oneWord(3, 42, 3);
    EXPECT_FALSE(master.Modbus_Send_Buf(16, 43, 1, 2, data));
    EXPECT_EQ(sink.frames.size(), 1u);
    EXPECT_TRUE(status.history.empty());
    EXPECT_EQ(st.Modbus_Reg_Addr, 43);
}

}  // namespace
}  // namespace kelm::test
