// Requests built by the master: byte-exact frames in both protocols, the
// recorded start register, the status text, and the refused cases.
#include <numeric>

#include "MasterFixture.h"

namespace kelm::test {
namespace {

const std::string kSending = "正在扫描终端数据......";

using CodecTest = MasterTest;

TEST_F(CodecTest, TimerIsTenMillisecondsAndStartsDisabled) {
    EXPECT_EQ(recTimer.Interval(), 10);
    EXPECT_FALSE(recTimer.Enabled());
    EXPECT_TRUE(recTimer.HasCallback());
}

TEST_F(CodecTest, StateStartsAtInitialValues) {
    const MasterState fresh;
    EXPECT_EQ(st.Modbus_Reg_Addr, 0);
    EXPECT_EQ(st.Node_Device_ID, 0);
    EXPECT_TRUE(st.Node_Device_Name.empty());
    EXPECT_FALSE(st.Scan_Device_Flag);
    EXPECT_FALSE(st.Recv_Flag);
    EXPECT_EQ(st.comauto_index, 0);
    EXPECT_EQ(fresh.DO15_Mode, 0);
    static_assert(sizeof(st.Modbus_Reg_Addr) == 2 && sizeof(st.Node_Device_ID) == 1 &&
                  sizeof(st.Recv_Timer_Count) == 4 && sizeof(st.DO07_Mode) == 1 &&
                  sizeof(st.DO15_Mode) == 2 && sizeof(st.DIDO_Button_Status) == 1);
}

TEST_F(CodecTest, IdentityReadOfSlaveOne) {
    Select(1, "KELM-8I8T");
    master.Modbus_Send_oneWord(3, 0, 3);
    protocol.index = kProtocolAscii;
    master.Modbus_Send_oneWord(3, 0, 3);
    ASSERT_EQ(sink.frames.size(), 2u);
    EXPECT_EQ(sink.frames[0], (ByteString{0x01, 0x03, 0x00, 0x00, 0x00, 0x03, 0x05, 0xCB}));
    EXPECT_EQ(sink.frames[1], Text(":010300000003F9\r\n"));
    EXPECT_EQ(sink.frames[1].size(), 17u);
}

TEST_F(CodecTest, BroadcastCommParameterRead) {
    master.Modbus_Send_oneWord(3, 3, 3);  // nothing selected: address 0
    protocol.index = kProtocolAscii;
    master.Modbus_Send_oneWord(3, 3, 3);
    ASSERT_EQ(sink.frames.size(), 2u);
    EXPECT_EQ(sink.frames[0], (ByteString{0x00, 0x03, 0x00, 0x03, 0x00, 0x03, 0xF4, 0x1A}));
    EXPECT_EQ(sink.frames[1], Text(":000300030003F7\r\n"));
    EXPECT_EQ(st.Modbus_Reg_Addr, 3);
}

TEST_F(CodecTest, WriteRegisterAndCoil) {
    Select(1, "KELM-2AO");
    master.Modbus_Send_oneWord(6, 8, 4000);
    master.Modbus_Send_oneWord(5, 0, 0xFF00);
    protocol.index = kProtocolAscii;
    master.Modbus_Send_oneWord(5, 0, 0xFF00);
    ASSERT_EQ(sink.frames.size(), 3u);
    EXPECT_EQ(sink.frames[0], (ByteString{0x01, 0x06, 0x00, 0x08, 0x0F, 0xA0, 0x0D, 0x80}));
    EXPECT_EQ(sink.frames[1], (ByteString{0x01, 0x05, 0x00, 0x00, 0xFF, 0x00, 0x8C, 0x3A}));
    EXPECT_EQ(sink.frames[2], Text(":01050000FF00FB\r\n"));
}

TEST_F(CodecTest, HighBytesReachTheLineUnchangedAndAsUpperCaseHex) {
    Select(0xC8, "KELM-16T");  // address 200
    master.Modbus_Send_oneWord(0x86, 0xA0FE, 0x8BCD);
    protocol.index = kProtocolAscii;
    master.Modbus_Send_oneWord(0x86, 0xA0FE, 0x8BCD);
    ASSERT_EQ(sink.frames.size(), 2u);
    const ByteString body{0xC8, 0x86, 0xA0, 0xFE, 0x8B, 0xCD};
    const std::uint16_t crc = Calculate_CRC16_Modbus(body);
    ByteString rtu = body;
    rtu.push_back(static_cast<std::uint8_t>(crc & 0xFF));
    rtu.push_back(static_cast<std::uint8_t>(crc >> 8));
    EXPECT_EQ(sink.frames[0], rtu);
    // LRC: 0x100 - ((0xC8+0x86+0xA0+0xFE+0x8B+0xCD) & 0xFF) = 0x100 - 0x44 = 0xBC
    EXPECT_EQ(sink.frames[1], Text(":C886A0FE8BCDBC\r\n"));
}

TEST_F(CodecTest, OneWordRecordsRegisterForEveryCode) {
    for (int code : {0, 1, 2, 3, 4, 5, 6, 7, 15, 16, 0x83, 255}) {
        master.Modbus_Send_oneWord(static_cast<std::uint8_t>(code),
                                   static_cast<std::uint16_t>(1000 + code), 1);
        EXPECT_EQ(st.Modbus_Reg_Addr, 1000 + code);
        EXPECT_EQ(sink.frames.back()[1], code);  // passed through unchecked
    }
}

TEST_F(CodecTest, SendBufWritesMultipleRegisters) {
    Select(1, "KELM-2AO");
    const ByteString values{0x0F, 0xA0, 0x80, 0x01};
    EXPECT_TRUE(master.Modbus_Send_Buf(16, 0x0102, 2, 4, values));
    ASSERT_EQ(sink.frames.size(), 1u);
    EXPECT_EQ(sink.frames[0],
              FrameRtu({0x01, 0x10, 0x01, 0x02, 0x00, 0x02, 0x04, 0x0F, 0xA0, 0x80, 0x01}));
    EXPECT_EQ(sink.frames[0].size(), 9u + 4u);
    EXPECT_EQ(st.Modbus_Reg_Addr, 0x0102);

    protocol.index = kProtocolAscii;
    EXPECT_TRUE(master.Modbus_Send_Buf(16, 0x0102, 2, 4, values));
    EXPECT_EQ(sink.frames[1], Text(":011001020002040FA08001B6\r\n"));
    EXPECT_EQ(sink.frames[1].size(), 1u + 2u * (8u + 4u) + 2u);
}

TEST_F(CodecTest, SendBufWritesMultipleCoils) {
    Select(9, "KELM-16T");
    const std::uint8_t bits[] = {0xA5, 0x81};
    EXPECT_TRUE(master.Modbus_Send_Buf(15, 0, 16, 2, bits));
    ASSERT_EQ(sink.frames.size(), 1u);
    EXPECT_EQ(sink.frames[0], FrameRtu({0x09, 0x0F, 0x00, 0x00, 0x00, 0x10, 0x02, 0xA5, 0x81}));
}

TEST_F(CodecTest, SendBufWithMaximumPayload) {
    ByteString data(255);
    std::iota(data.begin(), data.end(), 0);
    EXPECT_TRUE(master.Modbus_Send_Buf(16, 0, 255, 255, data));
    ASSERT_EQ(sink.frames.size(), 1u);
    EXPECT_EQ(sink.frames[0].size(), 9u + 255u);
    EXPECT_TRUE(CheckRtuFrame(sink.frames[0]));
    protocol.index = kProtocolAscii;
    EXPECT_TRUE(master.Modbus_Send_Buf(16, 0, 255, 255, data));
    EXPECT_EQ(sink.frames[1].size(), 1u + 2u * (8u + 255u) + 2u);
    EXPECT_TRUE(DecodeAsciiFrame(sink.frames[1]));
}

TEST_F(CodecTest, SendBufUsesOnlyBufNumBytes) {
    const ByteString data{0x11, 0x22, 0x33, 0x44};
    EXPECT_TRUE(master.Modbus_Send_Buf(16, 5, 1, 2, data));
    EXPECT_EQ(sink.frames.at(0), FrameRtu({0x00, 0x10, 0x00, 0x05, 0x00, 0x01, 0x02, 0x11, 0x22}));
}

TEST_F(CodecTest, SendBufRefusesOtherFunctionCodes) {
    master.Modbus_Send_oneWord(3, 77, 1);
    status.history.clear();
    const std::uint8_t data[] = {1, 2};
    for (int code : {0, 1, 3, 5, 6, 14, 17, 0x8F, 0x90}) {
        EXPECT_FALSE(master.Modbus_Send_Buf(static_cast<std::uint8_t>(code), 9, 1, 2, data));
    }
    EXPECT_EQ(sink.frames.size(), 1u);
    EXPECT_EQ(st.Modbus_Reg_Addr, 77);
    EXPECT_TRUE(status.history.empty());
}

TEST_F(CodecTest, SendBufRefusesMissingData) {
    master.Modbus_Send_oneWord(3, 77, 1);
    EXPECT_FALSE(master.Modbus_Send_Buf(16, 9, 2, 4, ByteString{1, 2, 3}));
    EXPECT_FALSE(master.Modbus_Send_Buf(16, 9, 2, 4, nullptr));
    EXPECT_EQ(sink.frames.size(), 1u);
    EXPECT_EQ(st.Modbus_Reg_Addr, 77);
    // No data announced and none given is a well-formed (if odd) request.
    EXPECT_TRUE(master.Modbus_Send_Buf(16, 9, 0, 0, nullptr));
    EXPECT_EQ(sink.frames.back(), FrameRtu({0x00, 0x10, 0x00, 0x09, 0x00, 0x00, 0x00}));
}

TEST_F(CodecTest, ProtocolIsReadAtTheMomentOfSending) {
    master.Modbus_Send_oneWord(3, 0, 3);
    protocol.index = kProtocolAscii;
    master.Modbus_Send_oneWord(3, 0, 3);
    protocol.index = kProtocolRtu;
    master.Modbus_Send_oneWord(3, 0, 3);
    ASSERT_EQ(sink.frames.size(), 3u);
    EXPECT_EQ(sink.frames[0].size(), 8u);
    EXPECT_EQ(sink.frames[1].size(), 17u);
    EXPECT_EQ(sink.frames[2].size(), 8u);
}

TEST_F(CodecTest, SendingShowsStatusText) {
    master.Modbus_Send_oneWord(3, 0, 3);
    EXPECT_EQ(status.Text(0), kSending);
    ASSERT_EQ(status.history.size(), 1u);
    EXPECT_EQ(status.history[0].first, 0);
}

TEST_F(CodecTest, UartSendPassesFrameUnchanged) {
    ByteString prepared = Text(":000300030003F7\r\n");
    prepared.push_back(0x00);
    prepared.push_back(0xFF);
    master.KELM_Uart_Send_String(prepared);
    ASSERT_EQ(sink.frames.size(), 1u);
    EXPECT_EQ(sink.frames[0], prepared);
    EXPECT_EQ(status.Text(0), kSending);
}

TEST_F(CodecTest, NoProtocolSendsNothingButStillRecordsRegister) {
    protocol.index = -1;
    master.Modbus_Send_oneWord(3, 42, 3);
    EXPECT_TRUE(master.Modbus_Send_Buf(16, 43, 1, 2, ByteString{1, 2}) == false);
    EXPECT_TRUE(sink.frames.empty());
    EXPECT_TRUE(status.history.empty());
    EXPECT_EQ(st.Modbus_Reg_Addr, 43);
}

}  // namespace
}  // namespace kelm::test
