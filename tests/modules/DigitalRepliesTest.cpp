// The four digital panels' reply tables: every row with its byte count and a
// short frame, and every code, register and count in reach against a model
// of the table; then what each row does to the lamps, boxes, boxes shown and
// channel steps.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QPushButton>
#include <QTest>
#include <optional>
#include <set>

#include "DigitalRig.h"
#include "modules/DoControlMode.h"

namespace kelm::test {
namespace {

QString Q(const char* s) {
    return QString::fromUtf8(s);
}

// "Any register" in the tables below (no row names register 0xFFFF).
constexpr std::uint16_t kAny = 0xFFFF;

// One row of a panel's reply table as the module's register map gives it;
// effect: the information text it shows or the channel step it runs.
struct ExpectedRow {
    std::uint8_t fc;
    std::uint16_t first;
    std::uint16_t last;
    int count;  // -1: not looked at
    const char* effect = nullptr;
};

std::string KeyOf(const ExpectedRow& r) {
    ReplyRow row{r.fc,    r.first == kAny ? std::nullopt : std::optional(RegRange{r.first, r.last}),
                 r.count, 0,
                 {},      {}};
    return row.Key();
}

const ExpectedRow k8I8TRows[] = {
    {3, 0, 0, 6},
    {16, 3, 3, -1, "通讯参数配置成功！"},
    {1, kAny, kAny, 1},
    {2, kAny, kAny, 1},
    {3, 6, 6, 4},
    {3, 8, 8, 32, "TimesReply"},
    {3, 24, 24, 48, "StateReply"},
    {3, 48, 48, 16, "FilterReply"},
    {3, 56, 56, 48, "CountingReply"},
    {5, 0, 7, -1},
    {6, 6, 6, -1, "DO初始状态值配置成功！"},
    {6, 7, 7, -1, "DO输出模式配置成功！"},
    {6, 8, 15, -1, "脉冲输出ON电平时间设置成功！"},
    {6, 16, 23, -1, "脉冲输出OFF电平时间设置成功！"},
    {6, 24, 31, -1, "ContinuousConfirmation"},
    {6, 48, 55, -1, "DI开关量输入滤波时间配置成功！"},
    {6, 56, 63, -1, "CountingConfirmation"},
    {15, 0, 0, -1},
    {16, 32, 46, -1, "CountConfirmation"},
};

const ExpectedRow k16IRows[] = {
    {3, 0, 0, 6},
    {16, kAny, kAny, -1, "通讯参数配置成功！"},
    {2, kAny, kAny, 2},
    {3, 6, 6, 32, "FilterReply"},
    {3, 22, 22, 96, "CountingReply"},
    {6, 6, 21, -1, "DI开关量输入滤波时间配置成功！"},
    {6, 22, 37, -1, "CountingConfirmation"},
};

const ExpectedRow k16TRows[] = {
    {3, 0, 0, 6},
    {16, 3, 3, -1, "通讯参数配置成功！"},
    {1, kAny, kAny, 2},
    {3, 6, 6, 4},
    {3, 8, 8, 64, "TimesReply"},
    {3, 40, 40, 96, "StateReply"},
    {5, 0, 15, -1},
    {6, 6, 6, -1, "DO初始状态值配置成功！"},
    {6, 7, 7, -1, "DO输出模式配置成功！"},
    {6, 8, 23, -1, "脉冲输出ON电平时间设置成功！"},
    {6, 24, 39, -1, "脉冲输出OFF电平时间设置成功！"},
    {6, 40, 55, -1, "ContinuousConfirmation"},
    {15, 0, 0, -1},
    {16, 56, 86, -1, "CountConfirmation"},
};

const ExpectedRow k8RYRows[] = {
    {3, 0, 0, 6},       {16, kAny, kAny, -1, "通讯参数配置成功！"},
    {1, kAny, kAny, 1}, {3, 6, 6, 2},
    {5, 0, 7, -1},      {6, kAny, kAny, -1, "继电器上电初始值状态配置成功！"},
    {15, 0, 0, -1},
};

struct TableCase {
    const char* model;
    std::vector<ExpectedRow> rows;
};

const TableCase kTables[] = {
    {"KELM-8I8T", {std::begin(k8I8TRows), std::end(k8I8TRows)}},
    {"KELM-16I", {std::begin(k16IRows), std::end(k16IRows)}},
    {"KELM-16T", {std::begin(k16TRows), std::end(k16TRows)}},
    {"KELM-8RY", {std::begin(k8RYRows), std::end(k8RYRows)}},
};

void PrintTo(const TableCase& c, std::ostream* os) {
    *os << c.model;
}

// A read reply with `count` data bytes announced and `carried` present.
ByteString ReadReply(std::uint8_t fc, int count, int carried) {
    ByteString b{0x01, fc, static_cast<std::uint8_t>(count)};
    for (int i = 0; i < carried; ++i) b.push_back(static_cast<std::uint8_t>(0x11 * (i % 15)));
    return b;
}
// A write echo or acknowledgement (FC 05, 06, 15, 16): register, value.
ByteString EchoReply(std::uint8_t fc, std::uint16_t reg, std::uint16_t value = 0xFF00) {
    return {0x01,
            fc,
            static_cast<std::uint8_t>(reg >> 8),
            static_cast<std::uint8_t>(reg),
            static_cast<std::uint8_t>(value >> 8),
            static_cast<std::uint8_t>(value)};
}

// The row of the model table a full frame should land in, if any.
std::optional<std::string> Predict(const std::vector<ExpectedRow>& rows, std::uint8_t fc,
                                   std::uint16_t reg, int count) {
    for (const ExpectedRow& r : rows) {
        if (r.fc != fc) continue;
        if (r.first != kAny && (reg < r.first || reg > r.last)) continue;
        if (r.count >= 0 && r.count != count) continue;
        return KeyOf(r);
    }
    return std::nullopt;
}

class ReplyTables : public ::testing::TestWithParam<TableCase> {
  protected:
    DigitalRig d;
    const TableCase& c = GetParam();
    ModulePanel* panel = nullptr;

    void SetUp() override {
        panel = d.rig.Select(c.model, 1);
        ASSERT_NE(panel, nullptr);
        // Step 4 of the mode read needs a selected channel node; keep the
        // sweep on the module node.
        d.SelectInTree(Q(c.model), 1, 0, 2);
    }
    std::optional<std::string> Run(std::uint16_t reg, const ByteString& frame) {
        d.rig.St().Modbus_Reg_Addr = reg;
        const ReplyRow* row = panel->Event(frame[1], Frame(frame));
        if (!row) return std::nullopt;
        return row->Key();
    }
};

TEST_P(ReplyTables, TheTableHoldsExactlyTheseRows) {
    std::vector<std::string> want, have;
    for (const ExpectedRow& r : c.rows) want.push_back(KeyOf(r));
    for (const ReplyRow& r : panel->Replies().Rows()) have.push_back(r.Key());
    EXPECT_EQ(have, want);
}

TEST_P(ReplyTables, EachRowWithItsCountItsEffectAndAShortFrame) {
    for (const ExpectedRow& r : c.rows) {
        const std::string key = KeyOf(r);
        SCOPED_TRACE(key);
        std::vector<std::uint16_t> regs;
        if (r.first == kAny)
            regs = {0, 7, 0x1234, 0xFFFE};
        else
            regs = {r.first, r.last};
        for (std::uint16_t reg : regs) {
            d.rig.boxes.Clear();
            d.steps.calls.clear();
            if (r.count >= 0) {
                const ByteString full = ReadReply(r.fc, r.count, r.count);
                EXPECT_EQ(Run(reg, full), key) << reg;
                if (r.effect && std::string(r.effect).find("Reply") != std::string::npos) {
                    ASSERT_EQ(d.steps.calls.size(), 1u);
                    EXPECT_EQ(d.steps.calls[0].step, r.effect);
                    EXPECT_EQ(d.steps.calls[0].frame, full);
                }
                d.steps.calls.clear();
                // The right count with one data byte missing.
                EXPECT_EQ(Run(reg, ReadReply(r.fc, r.count, r.count - 1)), std::nullopt);
                EXPECT_TRUE(d.steps.calls.empty());
            } else {
                EXPECT_EQ(Run(reg, EchoReply(r.fc, reg)), key) << reg;
                if (r.effect) {
                    if (std::string(r.effect).find("Confirmation") != std::string::npos) {
                        EXPECT_EQ(d.steps.Names(), std::vector<std::string>{r.effect});
                    } else {
                        ASSERT_EQ(d.rig.boxes.boxes.size(), 1u);
                        EXPECT_EQ(d.rig.boxes.boxes[0].text, Q(r.effect));
                        EXPECT_EQ(d.rig.boxes.boxes[0].title, Q("提示"));
                        EXPECT_EQ(d.rig.boxes.boxes[0].icon, MsgIcon::Information);
                    }
                }
            }
            // Exception replies match nothing.
            EXPECT_EQ(Run(reg, {0x01, static_cast<std::uint8_t>(r.fc | 0x80), 0x02}), std::nullopt);
        }
    }
}

TEST_P(ReplyTables, EveryOtherCodeRegisterAndCountIsIgnored) {
    // The model table decides every (code, register, count) in reach, wrong
    // counts and neighbouring registers included; the panel must agree on
    // each, ignoring what the table does not list.
    const std::uint8_t codes[] = {1, 2, 3, 4, 5, 6, 15, 16, 0x81, 0x83, 0x85, 0x86, 0x90};
    int checked = 0;
    for (std::uint8_t fc : codes) {
        const bool read = fc >= 1 && fc <= 4;
        for (int reg = 0; reg <= 100; ++reg) {
            if (read) {
                for (int count = 0; count <= 100; count += (count < 8 ? 1 : 4)) {
                    const auto want = Predict(c.rows, fc, static_cast<std::uint16_t>(reg), count);
                    ASSERT_EQ(Run(static_cast<std::uint16_t>(reg), ReadReply(fc, count, count)),
                              want)
                        << int(fc) << " @" << reg << " x" << count;
                    ++checked;
                }
            } else {
                const auto want = Predict(c.rows, fc, static_cast<std::uint16_t>(reg), -1);
                ASSERT_EQ(Run(static_cast<std::uint16_t>(reg),
                              EchoReply(fc, static_cast<std::uint16_t>(reg))),
                          want)
                    << int(fc) << " @" << reg;
                ++checked;
            }
        }
    }
    EXPECT_GT(checked, 10000);
    d.rig.boxes.Clear();
}

TEST_P(ReplyTables, ASwitchEchoWithoutItsValueIsIgnored) {
    for (const ExpectedRow& r : c.rows) {
        if (r.fc != 5) continue;
        ByteString cut = EchoReply(5, 1);
        cut.pop_back();
        EXPECT_EQ(Run(1, cut), std::nullopt);
        return;
    }
    // The KELM-16I has no outputs: no echo of a coil write reaches a row.
    EXPECT_EQ(Run(1, EchoReply(5, 1)), std::nullopt);
}

INSTANTIATE_TEST_SUITE_P(DigitalPanels, ReplyTables, ::testing::ValuesIn(kTables),
                         [](const auto& info) {
                             std::string n = info.param.model;
                             for (char& ch : n)
                                 if (ch == '-') ch = '_';
                             return n;
                         });

// ---- what the rows do -------------------------------------------------------

void PickMode(DoControlMode& m, int mode) {
    m.ModeList()->setCurrentIndex(mode);
    emit m.ModeList()->activated(mode);
}

TEST(DigitalReplies, StateReadsPaintTheLamps) {
    DigitalRig d;
    d.rig.Select("KELM-8I8T", 1);
    TPnl8I8T& p = d.P8i8t();
    p.Btn8i8t_dos_readClick();
    d.rig.Receive({0x01, 0x01, 0x01, 0xA5});
    EXPECT_EQ(LitWord(p.Outputs()), 0xA5u);
    EXPECT_EQ(PressedWord(p.Outputs()), 0xA5u);
    p.Btn8i8t_dis_readClick();
    d.rig.Receive({0x01, 0x02, 0x01, 0x3C});
    EXPECT_EQ(LitWord(p.Inputs()), 0x3Cu);
    EXPECT_EQ(PressedWord(p.Inputs()), 0u);
    EXPECT_EQ(LitWord(p.Outputs()), 0xA5u);
    // An input reply with byte count 2 is not the KELM-8I8T's.
    d.rig.Receive({0x01, 0x02, 0x02, 0xFF, 0xFF});
    EXPECT_EQ(LitWord(p.Inputs()), 0x3Cu);

    d.rig.Select("KELM-16I", 1);
    d.P16i().Btn16i_dis_readClick();
    d.rig.Receive({0x01, 0x02, 0x02, 0x03, 0x80});
    EXPECT_EQ(LitWord(d.P16i().Inputs()), 0x8003u);
    d.rig.Receive({0x01, 0x02, 0x01, 0xFF});
    EXPECT_EQ(LitWord(d.P16i().Inputs()), 0x8003u);

    d.rig.Select("KELM-16T", 1);
    d.P16t().Btn16t_dos_readClick();
    d.rig.Receive({0x01, 0x01, 0x02, 0x01, 0x80});
    EXPECT_EQ(LitWord(d.P16t().Outputs()), 0x8001u);
    EXPECT_EQ(PressedWord(d.P16t().Outputs()), 0x8001u);
    d.rig.Receive({0x01, 0x01, 0x01, 0xFF});
    EXPECT_EQ(LitWord(d.P16t().Outputs()), 0x8001u);

    d.rig.Select("KELM-8RY", 1);
    d.P8ry().Btn_Rel_status_readClick();
    d.rig.Receive({0x01, 0x01, 0x01, 0x0C});
    EXPECT_EQ(LitWord(d.P8ry().Relays()), 0x0Cu);
    EXPECT_EQ(PressedWord(d.P8ry().Relays()), 0x0Cu);
    // A short state reply shows nothing rather than zeros never sent.
    d.rig.Receive({0x01, 0x01, 0x01});
    EXPECT_EQ(LitWord(d.P8ry().Relays()), 0x0Cu);
}

struct EchoCase {
    const char* model;
    int channel;
    std::function<LampColumn&(DigitalRig&)> column;
};

TEST(DigitalReplies, SwitchEchoTakesTheOutputFromTheRequest) {
    const EchoCase cases[] = {
        {"KELM-8I8T", 3, [](DigitalRig& d) -> LampColumn& { return d.P8i8t().Outputs(); }},
        {"KELM-16T", 12, [](DigitalRig& d) -> LampColumn& { return d.P16t().Outputs(); }},
        {"KELM-8RY", 5, [](DigitalRig& d) -> LampColumn& { return d.P8ry().Relays(); }},
    };
    for (const EchoCase& c : cases) {
        SCOPED_TRACE(c.model);
        DigitalRig d;
        d.rig.Select(c.model, 1);
        LampColumn& col = c.column(d);
        const auto ch = static_cast<std::uint16_t>(c.channel);
        col.Button(c.channel)->click();
        ASSERT_EQ(d.rig.LastSent(), FrameRtu(EchoReply(5, ch, 0xFF00)));
        // The echo's own address field is not looked at.
        d.rig.Receive(EchoReply(5, 1, 0xFF00));
        EXPECT_EQ(LitWord(col), 1u << ch);
        EXPECT_EQ(PressedWord(col), 1u << ch);
        // A value other than on or off changes nothing.
        d.rig.Receive(EchoReply(5, ch, 0x1234));
        EXPECT_EQ(LitWord(col), 1u << ch);
        col.Button(c.channel)->click();
        EXPECT_EQ(d.rig.LastSent(), FrameRtu(EchoReply(5, ch, 0x0000)));
        d.rig.Receive(EchoReply(5, ch, 0x0000));
        EXPECT_EQ(LitWord(col), 0u);
        EXPECT_EQ(PressedWord(col), 0u);
        // No echo: the lamp stays as it was and the button keeps the click.
        col.Button(c.channel)->click();
        EXPECT_EQ(LitWord(col), 0u);
        EXPECT_EQ(PressedWord(col), 1u << ch);
    }
}

TEST(DigitalReplies, MultiWriteReplyTurnsAllOffAndReadsBack) {
    struct Case {
        const char* model;
        int width;
        std::function<LampColumn&(DigitalRig&)> column;
        std::function<void(DigitalRig&)> write;
        ByteString readBack;
        ByteString states;
        unsigned lit;
    };
    const Case cases[] = {
        {"KELM-8I8T",
         8,
         [](DigitalRig& d) -> LampColumn& { return d.P8i8t().Outputs(); },
         [](DigitalRig& d) {
             PickMode(d.P8i8t().ControlMode(), 1);
             TickBoxes(d.P8i8t().Outputs(), 0x81);
             d.P8i8t().Btn8i8t_dos_ctrlClick();
         },
         {0x01, 0x01, 0x00, 0x00, 0x00, 0x08},
         {0x01, 0x01, 0x01, 0x81},
         0x81},
        {"KELM-16T",
         16,
         [](DigitalRig& d) -> LampColumn& { return d.P16t().Outputs(); },
         [](DigitalRig& d) {
             PickMode(d.P16t().ControlMode(), 1);
             TickBoxes(d.P16t().Outputs(), 0x8101);
             d.P16t().Btn16t_dos_ctrlClick();
         },
         {0x01, 0x01, 0x00, 0x00, 0x00, 0x10},
         {0x01, 0x01, 0x02, 0x01, 0x81},
         0x8101},
        {"KELM-8RY",
         8,
         [](DigitalRig& d) -> LampColumn& { return d.P8ry().Relays(); },
         [](DigitalRig& d) {
             TickBoxes(d.P8ry().Relays(), 0x0C);
             d.P8ry().Btn_Rel_status_ctrlClick();
         },
         {0x01, 0x01, 0x00, 0x00, 0x00, 0x08},
         {0x01, 0x01, 0x01, 0x0C},
         0x0C},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.model);
        DigitalRig d;
        d.rig.Select(c.model, 1);
        LampColumn& col = c.column(d);
        for (int ch = 0; ch < c.width; ch += 3) {
            col.SetLamp(ch, true);
            col.SetPressed(ch, true);
        }
        c.write(d);
        d.rig.Receive({0x01, 0x0F, 0x00, 0x00, 0x00, static_cast<std::uint8_t>(c.width)});
        EXPECT_EQ(LitWord(col), 0u);
        EXPECT_EQ(PressedWord(col), 0u);
        EXPECT_EQ(d.rig.LastSent(), FrameRtu(c.readBack));
        d.rig.Receive(c.states);
        EXPECT_EQ(LitWord(col), c.lit);
        EXPECT_TRUE(d.rig.boxes.boxes.empty());
    }
}

TEST(DigitalReplies, RelayInitialStatesTickWithoutUnticking) {
    DigitalRig d;
    d.rig.Select("KELM-8RY", 1);
    TPnl8RY& r = d.P8ry();
    r.Btn8R_Info_mode_readClick();
    d.rig.Receive({0x01, 0x03, 0x02, 0x00, 0x05});
    EXPECT_EQ(TickedWord(r.Relays()), 0x05u);
    // A later reply without bit 0 leaves box 0 ticked; only the query unticks.
    d.rig.Receive({0x01, 0x03, 0x02, 0xFF, 0x40});
    EXPECT_EQ(TickedWord(r.Relays()), 0x45u) << "the high byte is not looked at";
    d.rig.Receive({0x01, 0x03, 0x04, 0x00, 0xFF, 0x00, 0xFF});
    EXPECT_EQ(TickedWord(r.Relays()), 0x45u);
    // The initial-state write's echo, and any FC 06 echo, confirm.
    TickBoxes(r.Relays(), 0x41);
    r.Btn8R_Info_mode_setClick();
    EXPECT_EQ(d.rig.LastSent(), FrameRtu({0x01, 0x06, 0x00, 0x06, 0x00, 0x41}));
    d.rig.Receive({0x01, 0x06, 0x00, 0x06, 0x00, 0x41});
    ASSERT_EQ(d.rig.boxes.boxes.size(), 1u);
    EXPECT_EQ(d.rig.boxes.boxes[0].text, Q("继电器上电初始值状态配置成功！"));
}

TEST(DigitalReplies, RelayLampFlagOtherThanOneIsLampOffButPressed) {
    DigitalRig d;
    TPnl8RY& r = d.P8ry();
    r.Dis_Rel07_Status(4, 2);
    EXPECT_TRUE(LampDark(r.Relays().Button(4)));
    EXPECT_TRUE(r.Relays().Button(4)->isChecked());
    r.Dis_Rel07_Status(4, 1);
    EXPECT_TRUE(LampLit(r.Relays().Button(4)));
    // Indexes outside the panel change nothing.
    r.Dis_Rel07_Status(8, 1);
    d.P8i8t().Dis_8i8tdo_Status(8, true);
    d.P8i8t().Dis_8i8tdi_Status(200, true);
    d.P16i().Dis_16idi_Status(16, true);
    d.P16t().Dis_16tdo_Status(16, true);
    EXPECT_EQ(LitWord(r.Relays()), 0x10u);
    EXPECT_EQ(LitWord(d.P8i8t().Outputs()) | LitWord(d.P8i8t().Inputs()), 0u);
    EXPECT_EQ(LitWord(d.P16i().Inputs()) | LitWord(d.P16t().Outputs()), 0u);
}

// ---- the mode words -------------------------------------------------------

struct ModeCase {
    const char* model;
    int width;
    ByteString reply;   // FC 03 @6 x4
    unsigned initial;   // register 6 as the boxes show it
    unsigned modeWord;  // register 7 as kept and shown
};

TEST(DigitalReplies, ModeWordsInEveryControlMode) {
    const ModeCase cases[] = {
        // High bytes are not part of an 8-output module's words.
        {"KELM-8I8T", 8, {0x01, 0x03, 0x04, 0xFF, 0x5A, 0xFF, 0xC3}, 0x5A, 0xC3},
        {"KELM-16T", 16, {0x01, 0x03, 0x04, 0x12, 0x5A, 0x80, 0xC3}, 0x125A, 0x80C3},
    };
    for (const ModeCase& c : cases) {
        for (int mode = 0; mode < 4; ++mode) {
            SCOPED_TRACE(std::string(c.model) + " mode " + std::to_string(mode));
            DigitalRig d;
            d.rig.Select(c.model, 1);
            const bool is8 = c.width == 8;
            DoControlMode& m = is8 ? d.P8i8t().ControlMode() : d.P16t().ControlMode();
            LampColumn& col = is8 ? d.P8i8t().Outputs() : d.P16t().Outputs();
            PickMode(m, mode);
            TickBoxes(col, 0x0101);
            d.rig.St().DO07_Mode = 0x11;
            d.rig.St().DO15_Mode = 0x1111;
            d.rig.master.Modbus_Send_oneWord(3, 6, 2);
            d.rig.Receive(c.reply);
            if (is8) {
                EXPECT_EQ(d.rig.St().DO07_Mode, c.modeWord);
                EXPECT_EQ(d.rig.St().DO15_Mode, 0x1111) << "the other model's word stays";
            } else {
                EXPECT_EQ(d.rig.St().DO15_Mode, c.modeWord);
                EXPECT_EQ(d.rig.St().DO07_Mode, 0x11);
            }
            const unsigned want = mode == 3   ? c.initial
                                  : mode == 2 ? c.modeWord
                                              : 0x0101u & ((1u << c.width) - 1);
            EXPECT_EQ(TickedWord(col), want);
            EXPECT_TRUE(d.rig.boxes.boxes.empty());
            EXPECT_TRUE(d.steps.calls.empty()) << "no channel node is selected";
            // A short frame changes nothing.
            d.rig.St().DO07_Mode = 0x11;
            d.rig.St().DO15_Mode = 0x1111;
            ByteString cut = c.reply;
            cut.pop_back();
            d.rig.Receive(cut);
            EXPECT_EQ(is8 ? d.rig.St().DO07_Mode : d.rig.St().DO15_Mode, is8 ? 0x11 : 0x1111);
        }
    }
}

TEST(DigitalReplies, ModeDisplayOfTheSelectedOutputChannel) {
    struct Case {
        const char* model;
        int channels;
        int level;
        int child;
        ByteString reply;
        std::vector<bool> shown;  // ShowOutputMode calls
    };
    const ByteString mode8{0x01, 0x03, 0x04, 0x00, 0x00, 0x00, 0x84};   // DO2, DO7 pulse
    const ByteString mode16{0x01, 0x03, 0x04, 0x00, 0x00, 0x80, 0x00};  // DO15 pulse
    const Case cases[] = {
        {"KELM-8I8T", 16, 3, 10, mode8, {true}},  // DO2
        {"KELM-8I8T", 16, 3, 15, mode8, {true}},  // DO7
        {"KELM-8I8T", 16, 3, 8, mode8, {false}},  // DO0
        {"KELM-8I8T", 16, 3, 2, mode8, {}},       // DI2: an input
        {"KELM-8I8T", 16, 2, 0, mode8, {}},       // the module node
        {"KELM-16T", 16, 3, 15, mode16, {true}}, {"KELM-16T", 16, 3, 14, mode16, {false}},
        {"KELM-16T", 16, 3, 0, mode16, {false}}, {"KELM-16T", 16, 1, 0, mode16, {}},  // a port node
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.model) + " level " + std::to_string(c.level) + " child " +
                     std::to_string(c.child));
        DigitalRig d;
        d.rig.Select(c.model, 1);
        d.SelectInTree(Q(c.model), 1, c.channels, c.level, c.child);
        d.rig.master.Modbus_Send_oneWord(3, 6, 2);
        d.rig.Receive(c.reply);
        EXPECT_EQ(d.steps.modes, c.shown);
    }
    // Without a tree or without the output channel panel, nothing is shown.
    ModuleRig bare;
    bare.Select("KELM-16T", 1);
    bare.master.Modbus_Send_oneWord(3, 6, 2);
    bare.Receive(mode16);
    EXPECT_EQ(bare.St().DO15_Mode, 0x8000);
}

TEST(DigitalReplies, ChannelRowsHandTheirRepliesToTheChannelPanels) {
    DigitalRig d;
    d.rig.Select("KELM-8I8T", 1);
    d.SelectInTree(Q("KELM-8I8T"), 1, 16, 3, 9);
    d.rig.master.Modbus_Send_oneWord(3, 8, 16);
    const ByteString times = ReadReply(3, 32, 32);
    d.rig.Receive(times);
    d.rig.master.Modbus_Send_oneWord(6, 26, 0x31);
    d.rig.Receive(EchoReply(6, 26, 0x31));
    d.rig.master.Modbus_Send_Buf(16, 34, 2, 4, ByteString{0, 1, 0x86, 0xA0});
    d.rig.Receive({0x01, 0x10, 0x00, 0x22, 0x00, 0x02});
    d.rig.master.Modbus_Send_oneWord(3, 56, 24);
    d.rig.Receive(ReadReply(3, 48, 48));
    EXPECT_EQ(d.steps.Names(), (std::vector<std::string>{"TimesReply", "ContinuousConfirmation",
                                                         "CountConfirmation", "CountingReply"}));
    EXPECT_EQ(d.steps.calls[0].frame, times);
    EXPECT_TRUE(d.rig.boxes.boxes.empty());

    // Panels built without channel panels take the same replies and do nothing.
    ModuleRig bare;
    bare.Select("KELM-16I", 1);
    bare.master.Modbus_Send_oneWord(3, 22, 48);
    bare.Receive(ReadReply(3, 96, 96));
    bare.master.Modbus_Send_oneWord(6, 30, 0x30);
    bare.Receive(EchoReply(6, 30, 0x30));
    EXPECT_TRUE(bare.boxes.boxes.empty());
    EXPECT_TRUE(bare.St().Recv_Str.empty());
}

// ---- the resets -------------------------------------------------------------

TEST(DigitalReplies, ResetPutsLampsOutAndKeepsHiddenTicks) {
    DigitalRig d;
    d.rig.Select("KELM-8I8T", 1);
    TPnl8I8T& p = d.P8i8t();
    PickMode(p.ControlMode(), 2);
    TickBoxes(p.Outputs(), 0x24);
    for (std::uint8_t ch = 0; ch < 8; ++ch) {
        p.Dis_8i8tdi_Status(ch, true);
        p.Dis_8i8tdo_Status(ch, true);
    }
    d.rig.Select("KELM-8I8T", 2);
    EXPECT_EQ(LitWord(p.Inputs()) | LitWord(p.Outputs()), 0u);
    EXPECT_EQ(PressedWord(p.Outputs()), 0u) << "no lamp-off button stays pressed";
    EXPECT_EQ(p.ControlMode().ModeList()->currentIndex(), 0);
    EXPECT_EQ(TickedWord(p.Outputs()), 0x24u) << "the reset is not a mode change";
    for (int ch = 0; ch < 8; ++ch) EXPECT_TRUE(p.Outputs().Box(ch)->isHidden());
    for (QPushButton* b :
         {p.ControlMode().DosCtrl(), p.ControlMode().DoModeRead(), p.ControlMode().DoModeSet(),
          p.ControlMode().InfoModeRead(), p.ControlMode().InfoModeSet()})
        EXPECT_TRUE(b->isHidden()) << b->objectName().toStdString();
    // Mode 0 again: the buttons switch.
    p.Outputs().Button(1)->click();
    EXPECT_EQ(d.rig.LastSent(), FrameRtu({0x02, 0x05, 0x00, 0x01, 0xFF, 0x00}));

    d.rig.Select("KELM-16T", 1);
    TPnl16T& t = d.P16t();
    PickMode(t.ControlMode(), 3);
    TickBoxes(t.Outputs(), 0x8001);
    for (std::uint8_t ch = 0; ch < 16; ++ch) t.Dis_16tdo_Status(ch, true);
    d.rig.Select("KELM-16T", 1);
    EXPECT_EQ(LitWord(t.Outputs()) | PressedWord(t.Outputs()), 0u);
    EXPECT_EQ(TickedWord(t.Outputs()), 0x8001u);
    for (int ch = 0; ch < 16; ++ch) EXPECT_TRUE(t.Outputs().Box(ch)->isHidden());
    EXPECT_TRUE(t.ControlMode().InfoModeSet()->isHidden());

    d.rig.Select("KELM-16I", 1);
    for (std::uint8_t ch = 0; ch < 16; ++ch) d.P16i().Dis_16idi_Status(ch, true);
    d.rig.Select("KELM-16I", 1);
    EXPECT_EQ(LitWord(d.P16i().Inputs()), 0u);

    d.rig.Select("KELM-8RY", 1);
    TPnl8RY& r = d.P8ry();
    TickBoxes(r.Relays(), 0xF0);
    for (std::uint8_t ch = 0; ch < 8; ++ch) r.Dis_Rel07_Status(ch, 1);
    d.rig.Select("KELM-8RY", 1);
    EXPECT_EQ(LitWord(r.Relays()) | PressedWord(r.Relays()) | TickedWord(r.Relays()), 0u);
    EXPECT_TRUE(d.rig.boxes.boxes.empty());
}

}  // namespace
}  // namespace kelm::test
