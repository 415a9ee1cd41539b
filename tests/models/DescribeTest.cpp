// The words for frames on the line: a request and a reply of each model, in
// RTU and in ASCII form, exception replies, "?" for frames that match
// nothing, and short frames that are never read past their end.
#include <gtest/gtest.h>

#include "modbus/Checks.h"
#include "models/ModelMap.h"

namespace kelm::models {
namespace {

struct Case {
    const char* model;   // nullptr: no module selected
    ByteString request;  // body: address, function code, PDU
    const char* requestWords;
    ByteString reply;  // without its check
    std::vector<int> modes;
    const char* replyWords;
};

ByteString Counts24(std::initializer_list<std::uint32_t> counts) {
    ByteString b = {1, 4, 24};
    for (std::uint32_t c : counts)
        b.insert(b.end(), {static_cast<std::uint8_t>(c >> 16), static_cast<std::uint8_t>(c >> 8),
                           static_cast<std::uint8_t>(c)});
    return b;
}

ByteString Registers(std::uint8_t fc, std::initializer_list<std::uint16_t> regs) {
    ByteString b = {1, fc, static_cast<std::uint8_t>(2 * regs.size())};
    for (std::uint16_t r : regs)
        b.insert(b.end(), {static_cast<std::uint8_t>(r >> 8), static_cast<std::uint8_t>(r)});
    return b;
}

// Each case: model, request body and its words, then reply, modes and words.
// clang-format off
const Case kCases[] = {
    {"KELM-8I8T", {1, 2, 0, 0, 0, 8}, "读 DI0-7",
     {1, 2, 1, 0x05}, {}, "回复: DI0-7 ON: DI0 DI2"},
    {"KELM-8I8T", {1, 5, 0, 3, 0xFF, 0x00}, "写 DO3 = ON",
     {1, 5, 0, 3, 0xFF, 0x00}, {}, "回复: 已写 DO3 = ON"},
    {"KELM-8I8T", {1, 16, 0, 34, 0, 2, 4, 0x00, 0x01, 0x86, 0xA0}, "写 DO1 脉冲数量 = 100000",
     {1, 16, 0, 34, 0, 2}, {}, "回复: 已写 DO1 脉冲数量"},
    {"KELM-16I", {1, 6, 0, 11, 0, 200}, "写 DI5 滤波时间 = 200 x0.1ms",
     {1, 6, 0, 11, 0, 200}, {}, "回复: 已写 DI5 滤波时间 = 200 x0.1ms"},
    {"KELM-16I", {1, 3, 0, 22, 0, 48}, "读 DI0-15 脉冲计数、DI0-15 计数值",
     {1, 0x83, 0x02}, {}, "回复: 异常 02"},
    {"KELM-16T", {1, 3, 0, 6, 0, 2}, "读 DO0-15 初始状态、DO0-15 输出模式",
     {1, 3, 4, 0x00, 0x01, 0x80, 0x00}, {},
     "回复: DO0-15 初始状态 ON: DO0, DO0-15 输出模式 脉冲输出: DO15"},
    {"KELM-8RY", {1, 15, 0, 0, 0, 8, 1, 0x0C}, "写 RY0-7 ON: RY2 RY3",
     {1, 15, 0, 0, 0, 8}, {}, "回复: 已写 RY0-7"},
    {"KELM-8RY", {1, 3, 0, 6, 0, 1}, "读 RY0-7 上电初始状态",
     {1, 3, 2, 0x00, 0x05}, {}, "回复: RY0-7 上电初始状态 ON: RY0 RY2"},
    {"KELM-2AO", {1, 3, 0, 6, 0, 4}, "读 AO0-1 模式、AO0-1 输出值",
     Registers(3, {0x30, 0x31, 12000, 5000}), {},
     "回复: AO0 模式 = 4-20mA, AO1 模式 = 0-10V, AO0 = 12000 uA, AO1 = 5000 mV"},
    {"KELM-8AD",
     {1, 16, 0, 6, 0, 8, 16, 0, 0x30, 0, 0x31, 0, 0x32, 0, 0x33, 0, 0x34, 0, 0x35, 0, 0x36, 0, 0x37},
     "写 CH0 模式 = ±20mA, CH1 模式 = ±10V, CH2 模式 = ±5V, CH3 模式 = ±2.5V, CH4 模式 = ±1.2V, "
     "CH5 模式 = ±0.6V, CH6 模式 = ±0.3V, CH7 模式 = ±0.15V",
     {1, 16, 0, 6, 0, 8}, {}, "回复: 已写 CH0-7 模式"},
    {"KELM-8AD", {1, 4, 0, 0, 0, 12}, "读 AI0-7 测量值",
     Counts24({97535, 97535, 97535, 97535, 97535, 97535, 97535, 97535}), {0, 1, 2, 3, 4, 5, 6, -1},
     "回复: AI0 = 10.0000 mA, AI1 = 5.0000 V, AI2 = 2.50000 V, AI3 = 1.25000 V, AI4 = 0.60000 V, "
     "AI5 = 0.30000 V, AI6 = 0.150000 V, AI7 = 97535"},
    {"KELM-8AS", {1, 3, 0, 6, 0, 8}, "读 CH0-7 模式",
     Registers(3, {0x30, 0x31, 0x30, 0x31, 0x30, 0x31, 0x30, 0x38}), {},
     "回复: CH0 模式 = 电流, CH1 模式 = 电压, CH2 模式 = 电流, CH3 模式 = 电压, CH4 模式 = 电流, "
     "CH5 模式 = 电压, CH6 模式 = 电流, CH7 模式 = 0x0038"},
    {"KELM-8ASP", {1, 4, 0, 0, 0, 8}, "读 AI0-7 测量值",
     Registers(4, {2000, 12345, 2000, 0, 0, 0, 0, 64000}), {0, 1},
     "回复: AI0 = 0.625 mA, AI1 = 1.929 V, AI2 = 0.031, AI3 = 0.000, AI4 = 0.000, AI5 = 0.000, "
     "AI6 = 0.000, AI7 = 1.000"},
    {"KELM-8AD", {1, 3, 0, 0, 0, 3}, "读 型号、硬件版本、软件版本",
     {1, 3, 6, 0x00, 0x10, 0x00, 0xA0, 0x00, 0xA1}, {},
     "回复: 型号 = 16 (KELM-8AD), 硬件版本 = A0, 软件版本 = A1"},
    {"KELM-16I", {1, 16, 0, 3, 0, 3, 6, 0, 11, 0, 247, 0, 0x41},
     "写 串口格式 = 9600/7/1/Even, 地址 = 247, 协议 = ASCII",
     {1, 16, 0, 3, 0, 3}, {}, "回复: 已写 串口格式、地址、协议"},
    // No module selected: the identity registers are still known.
    {nullptr, {5, 3, 0, 0, 0, 3}, "读 型号、硬件版本、软件版本",
     {5, 3, 2, 0, 1}, {}, "回复: 型号 = 1"},
    // Matches nothing in the map.
    {"KELM-8RY", {1, 3, 0, 100, 0, 1}, "?", {1, 3, 2, 0, 1}, {}, "?"},
    {"KELM-8RY", {1, 0x2B, 0x0E, 1, 0, 0}, "?", {1, 0x2B, 0x0E}, {}, "?"},
    {"KELM-16I", {1, 5, 0, 3, 0xFF, 0x00}, "?", {1, 5, 0, 3, 0xFF, 0x00}, {}, "?"},
};
// clang-format on

TEST(Describe, RequestsAndRepliesOfEachModelInRtuAndAscii) {
    for (const Case& c : kCases) {
        const Model* model = c.model ? FindModel(c.model) : nullptr;
        SCOPED_TRACE(c.requestWords);
        ASSERT_TRUE(c.model == nullptr || model != nullptr);
        EXPECT_EQ(DescribeRequest(model, c.request), c.requestWords);
        EXPECT_EQ(DescribeRequestFrame(model, FrameRtu(c.request), kProtocolRtu), c.requestWords);
        EXPECT_EQ(DescribeRequestFrame(model, FrameAscii(c.request), kProtocolAscii),
                  c.requestWords);
        // The reply is judged against the request's start register.
        const std::uint16_t regAddr = static_cast<std::uint16_t>(c.request[2] << 8 | c.request[3]);
        EXPECT_EQ(DescribeReply(model, regAddr, c.reply, c.modes), c.replyWords);
        // In ASCII form the dispatcher hands the reply on with the LRC's
        // place set to 0.
        const auto ascii = DecodeAsciiFrame(FrameAscii(c.reply));
        ASSERT_TRUE(ascii);
        EXPECT_EQ(DescribeReply(model, regAddr, *ascii, c.modes), c.replyWords);
    }
}

// The same frames in English: the items' English names, the choices' typed
// spellings where a label is Chinese, the list joined by commas.
struct EnglishCase {
    const char* model;
    ByteString request;
    const char* requestWords;
    ByteString reply;
    std::vector<int> modes;
    const char* replyWords;
};

// clang-format off
const EnglishCase kEnglishCases[] = {
    {"KELM-8I8T", {1, 2, 0, 0, 0, 8}, "Read DI0-7",
     {1, 2, 1, 0x05}, {}, "Reply: DI0-7 ON: DI0 DI2"},
    {"KELM-8I8T", {1, 5, 0, 3, 0xFF, 0x00}, "Write DO3 = ON",
     {1, 5, 0, 3, 0xFF, 0x00}, {}, "Reply: wrote DO3 = ON"},
    {"KELM-8I8T", {1, 16, 0, 34, 0, 2, 4, 0x00, 0x01, 0x86, 0xA0}, "Write DO1 pulse count = 100000",
     {1, 16, 0, 34, 0, 2}, {}, "Reply: wrote DO1 pulse count"},
    {"KELM-8I8T", {1, 2, 0, 0, 0, 8}, "Read DI0-7",
     {1, 2, 1, 0x00}, {}, "Reply: DI0-7 ON: none"},
    {"KELM-16I", {1, 6, 0, 11, 0, 200}, "Write DI5 filter time = 200 x0.1ms",
     {1, 6, 0, 11, 0, 200}, {}, "Reply: wrote DI5 filter time = 200 x0.1ms"},
    {"KELM-16I", {1, 3, 0, 22, 0, 48}, "Read DI0-15 pulse counting, DI0-15 pulse count",
     {1, 0x83, 0x02}, {}, "Reply: exception 02"},
    {"KELM-16T", {1, 3, 0, 6, 0, 2}, "Read DO0-15 initial output states, DO0-15 output mode",
     {1, 3, 4, 0x00, 0x01, 0x80, 0x00}, {},
     "Reply: DO0-15 initial output states ON: DO0, DO0-15 output mode pulse: DO15"},
    {"KELM-8RY", {1, 15, 0, 0, 0, 8, 1, 0x0C}, "Write RY0-7 ON: RY2 RY3",
     {1, 15, 0, 0, 0, 8}, {}, "Reply: wrote RY0-7"},
    {"KELM-2AO", {1, 3, 0, 6, 0, 4}, "Read AO0-1 mode, AO0-1 output value",
     Registers(3, {0x30, 0x31, 12000, 5000}), {},
     "Reply: AO0 mode = 4-20mA, AO1 mode = 0-10V, AO0 = 12000 uA, AO1 = 5000 mV"},
    {"KELM-8AD", {1, 6, 0, 7, 0, 0x31}, "Write CH1 mode = ±10V",
     {1, 6, 0, 7, 0, 0x31}, {}, "Reply: wrote CH1 mode = ±10V"},
    {"KELM-8AS", {1, 3, 0, 6, 0, 2}, "Read CH0-1 mode",
     Registers(3, {0x30, 0x31}), {}, "Reply: CH0 mode = current, CH1 mode = voltage"},
    {nullptr, {5, 3, 0, 0, 0, 3}, "Read device type, hardware version, software version",
     {5, 3, 6, 0x00, 0x10, 0x00, 0xA0, 0x00, 0xA1}, {},
     "Reply: device type = 16 (KELM-8AD), hardware version = A0, software version = A1"},
    {"KELM-16I", {1, 16, 0, 3, 0, 3, 6, 0, 11, 0, 247, 0, 0x41},
     "Write serial format = 9600/7/1/Even, slave address = 247, protocol = ASCII",
     {1, 16, 0, 3, 0, 3}, {}, "Reply: wrote serial format, slave address, protocol"},
    {"KELM-8RY", {1, 3, 0, 100, 0, 1}, "?", {1, 3, 2, 0, 1}, {}, "?"},
};
// clang-format on

bool HasChinese(const std::string& s) {
    // Chinese characters are three-byte UTF-8 sequences from 0xE4 on.
    for (const char c : s)
        if (static_cast<unsigned char>(c) >= 0xE3) return true;
    return false;
}

TEST(Describe, EnglishWordsOfEachModel) {
    for (const EnglishCase& c : kEnglishCases) {
        const Model* model = c.model ? FindModel(c.model) : nullptr;
        SCOPED_TRACE(c.requestWords);
        ASSERT_TRUE(c.model == nullptr || model != nullptr);
        EXPECT_EQ(DescribeRequest(model, c.request, {}, TextLanguage::English), c.requestWords);
        EXPECT_EQ(DescribeRequestFrame(model, FrameAscii(c.request), kProtocolAscii, {},
                                       TextLanguage::English),
                  c.requestWords);
        const std::uint16_t regAddr = static_cast<std::uint16_t>(c.request[2] << 8 | c.request[3]);
        EXPECT_EQ(DescribeReply(model, regAddr, c.reply, c.modes, TextLanguage::English),
                  c.replyWords);
    }
}

// Every frame of the Chinese table, in English, holds no Chinese character,
// whichever model is selected.
TEST(Describe, EnglishWordsHoldNoChinese) {
    for (const Model& m : AllModels()) {
        for (const Case& c : kCases) {
            const std::string request = DescribeRequest(&m, c.request, {}, TextLanguage::English);
            EXPECT_FALSE(HasChinese(request)) << m.name << ": " << request;
            const std::uint16_t regAddr =
                static_cast<std::uint16_t>(c.request[2] << 8 | c.request[3]);
            const std::string reply =
                DescribeReply(&m, regAddr, c.reply, c.modes, TextLanguage::English);
            EXPECT_FALSE(HasChinese(reply)) << m.name << ": " << reply;
        }
    }
}

TEST(Describe, AFrameThatFailsItsCheckIsNotDescribed) {
    const Model* m = FindModel("KELM-8I8T");
    ByteString rtu = FrameRtu({1, 2, 0, 0, 0, 8});
    rtu.back() ^= 1;
    EXPECT_EQ(DescribeRequestFrame(m, rtu, kProtocolRtu), "?");
    ByteString ascii = FrameAscii({1, 2, 0, 0, 0, 8});
    ascii[3] = 'G';
    EXPECT_EQ(DescribeRequestFrame(m, ascii, kProtocolAscii), "?");
    EXPECT_EQ(DescribeRequestFrame(m, FrameRtu({1, 2, 0, 0, 0, 8}), -1), "?");
}

// Every prefix of a long reply and request: described or "?", never a read
// past the end (the address sanitizer build checks the reads).
TEST(Describe, ShortFramesAreNeverReadPastTheirEnd) {
    for (const Model& m : AllModels()) {
        for (const Case& c : kCases) {
            for (std::size_t n = 0; n <= c.reply.size(); ++n) {
                const ByteString cut(c.reply.begin(),
                                     c.reply.begin() + static_cast<std::ptrdiff_t>(n));
                const std::string words = DescribeReply(&m, 6, cut, c.modes);
                if (n < 3) {
                    EXPECT_EQ(words, "?") << n;
                }
            }
            for (std::size_t n = 0; n <= c.request.size(); ++n) {
                const ByteString cut(c.request.begin(),
                                     c.request.begin() + static_cast<std::ptrdiff_t>(n));
                const std::string words = DescribeRequest(&m, cut);
                if (n < 6) {
                    EXPECT_EQ(words, "?") << n;
                }
            }
        }
    }
    // A read reply whose byte count promises more than it carries.
    EXPECT_EQ(DescribeReply(FindModel("KELM-8AD"), 0, ByteString{1, 4, 24, 1, 2, 3}), "?");
    EXPECT_EQ(DescribeRequest(FindModel("KELM-8AD"), ByteString{1, 16, 0, 6, 0, 8, 16, 0, 0x30}),
              "?");
}

}  // namespace
}  // namespace kelm::models
