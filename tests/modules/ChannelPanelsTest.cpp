// The input and output channel panels: their names and captions, every
// request byte for byte in both protocols, the range checks and conversion
// errors, what typing and pasting let through, the pending-command marker's
// life, and the reply steps read at their byte positions.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QToolButton>
#include <QTreeWidget>
#include <cctype>
#include <functional>

#include "ModuleRig.h"
#include "gui/Pictures.h"
#include "modules/ChannelParts.h"

namespace kelm::test {
namespace {

constexpr std::uint8_t kAddress = 3;

ByteString FromHex(const std::string& hex) {
    ByteString b;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        b.push_back(static_cast<std::uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    return b;
}

ByteString Ascii(const std::string& text) {
    ByteString b(text.begin(), text.end());
    b.push_back('\r');
    b.push_back('\n');
    return b;
}

// A recording double that also notes the shapes' colours when a box comes up.
class ColourAtBoxes : public RecordingMessageBoxes {
  public:
    std::function<bool()> running;
    std::vector<bool> runningAtShow;
    bool Show(const QString& title, const QString& text, MsgIcon icon,
              MsgButtons buttons) override {
        if (running) runningAtShow.push_back(running());
        return RecordingMessageBoxes::Show(title, text, icon, buttons);
    }
};

struct ChannelRig : ModuleRig {
    explicit ChannelRig(QTreeWidget* tree = nullptr) : ModuleRig(tree) {}
    TPnlXiType& Xi() { return *panels.Pnl_Xi_type; }
    TPnlYoType& Yo() { return *panels.Pnl_Yo_type; }

    // What navigation does for a channel node (reset runs separately).
    void Channel(const std::string& model, std::uint8_t index) {
        St().Node_Device_Name = model;
        St().Node_Device_ID = kAddress;
        St().Node_DeviceChild_Index = index;
    }
    std::size_t Sent() const { return sink.frames.size(); }
};

// ---- every request, both protocols -----------------------------------------

enum class Act {
    FilterRead,
    FilterSet,
    CountOn,
    CountOff,
    CountRead,
    YoReset,
    TimesRead,
    OnSet,
    OffSet,
    PulseOnCont,
    PulseOffCont,
    PulseOnNum,
    PulseOffNum,
    StateRead,
};

struct RequestCase {
    const char* what;
    const char* model;
    std::uint8_t index;
    Act act;
    const char* box;  // text of the box the action reads
    const char* rtu;  // frame as hex
    const char* ascii;
    std::uint16_t regAddr;
    std::uint8_t marker;  // DIDO_Button_Status afterwards (starts at 0)
};

const RequestCase kRequests[] = {
    {"8I8T DI5 filter read", "KELM-8I8T", 5, Act::FilterRead, "", "03030030000845E1",
     ":030300300008C2", 48, 0},
    {"8I8T DI5 filter 200", "KELM-8I8T", 5, Act::FilterSet, "200", "0306003500C899B0",
     ":0306003500C8FA", 53, 0},
    {"8I8T DI7 filter 10000", "KELM-8I8T", 7, Act::FilterSet, "10000", "03060037271023DA",
     ":03060037271089", 55, 0},
    {"8I8T DI5 count on", "KELM-8I8T", 5, Act::CountOn, "", "0306003D0031D830", ":0306003D003189",
     61, 1},
    {"8I8T DI3 count on", "KELM-8I8T", 3, Act::CountOn, "", "0306003B00313831", ":0306003B00318B",
     59, 1},
    {"8I8T DI5 count off", "KELM-8I8T", 5, Act::CountOff, "", "0306003D003019F0", ":0306003D00308A",
     61, 2},
    {"8I8T DI5 count read", "KELM-8I8T", 5, Act::CountRead, "", "030300380018C5EF",
     ":030300380018AA", 56, 0},
    {"16I DI5 filter read", "KELM-16I", 5, Act::FilterRead, "", "030300060010A5E5",
     ":030300060010E4", 6, 0},
    {"16I DI5 filter 200", "KELM-16I", 5, Act::FilterSet, "200", "0306000B00C8F87C",
     ":0306000B00C824", 11, 0},
    {"16I DI0 filter 100", "KELM-16I", 0, Act::FilterSet, "100", "03060006006469C2",
     ":0306000600648D", 6, 0},
    {"16I DI5 count on", "KELM-16I", 5, Act::CountOn, "", "0306001B003139FB", ":0306001B0031AB", 27,
     1},
    {"16I DI5 count off", "KELM-16I", 5, Act::CountOff, "", "0306001B0030F83B", ":0306001B0030AC",
     27, 2},
    {"16I DI15 count off", "KELM-16I", 15, Act::CountOff, "", "03060025003099F7", ":030600250030A2",
     37, 2},
    {"16I DI5 count read", "KELM-16I", 5, Act::CountRead, "", "030300160030A5F8", ":030300160030B4",
     22, 0},
    {"8I8T DO0 reset", "KELM-8I8T", 8, Act::YoReset, "", "03030006000225E8", ":030300060002F2", 6,
     0},
    {"16T DO15 reset", "KELM-16T", 15, Act::YoReset, "", "03030006000225E8", ":030300060002F2", 6,
     0},
    {"8I8T DO2 times read", "KELM-8I8T", 10, Act::TimesRead, "", "030300080010C426",
     ":030300080010E2", 8, 0},
    {"8I8T DO2 ON 500", "KELM-8I8T", 10, Act::OnSet, "500", "0306000A01F4A83D", ":0306000A01F4F8",
     10, 0},
    {"8I8T DO2 OFF 500", "KELM-8I8T", 10, Act::OffSet, "500", "0306001201F4283A", ":0306001201F4F0",
     18, 0},
    {"8I8T DO2 continuous start", "KELM-8I8T", 10, Act::PulseOnCont, "", "0306001A0031683B",
     ":0306001A0031AC", 26, 3},
    {"8I8T DO2 continuous stop", "KELM-8I8T", 10, Act::PulseOffCont, "", "0306001A0030A9FB",
     ":0306001A0030AD", 26, 4},
    {"8I8T DO1 100000 pulses", "KELM-8I8T", 9, Act::PulseOnNum, "100000",
     "03100022000204000186A0480E", ":03100022000204000186A09E", 34, 3},
    {"8I8T DO1 counted stop", "KELM-8I8T", 9, Act::PulseOffNum, "123", "03100022000204000000007BD6",
     ":0310002200020400000000C5", 34, 4},
    {"8I8T DO2 state read", "KELM-8I8T", 10, Act::StateRead, "", "030300180018C425",
     ":030300180018CA", 24, 0},
    {"16T DO2 times read", "KELM-16T", 2, Act::TimesRead, "", "030300080020C432", ":030300080020D2",
     8, 0},
    {"16T DO2 ON 500", "KELM-16T", 2, Act::OnSet, "500", "0306000A01F4A83D", ":0306000A01F4F8", 10,
     0},
    {"16T DO2 OFF 500", "KELM-16T", 2, Act::OffSet, "500", "0306001A01F4A9F8", ":0306001A01F4E8",
     26, 0},
    {"16T DO15 continuous start", "KELM-16T", 15, Act::PulseOnCont, "", "030600370031F832",
     ":0306003700318F", 55, 3},
    {"16T DO15 continuous stop", "KELM-16T", 15, Act::PulseOffCont, "", "03060037003039F2",
     ":03060037003090", 55, 4},
    {"16T DO15 4294967295 pulses", "KELM-16T", 15, Act::PulseOnNum, "4294967295",
     "03100056000204FFFFFFFF7C95", ":03100056000204FFFFFFFF95", 86, 3},
    {"16T DO15 counted stop", "KELM-16T", 15, Act::PulseOffNum, "", "03100056000204000000007D01",
     ":031000560002040000000091", 86, 4},
    {"16T DO2 state read", "KELM-16T", 2, Act::StateRead, "", "030300280030C434", ":030300280030A2",
     40, 0},
};

void PrintTo(const RequestCase& c, std::ostream* os) {
    *os << c.what;
}

void Do(ChannelRig& rig, Act act, const QString& box) {
    auto& xi = rig.Xi();
    auto& yo = rig.Yo();
    switch (act) {
        case Act::FilterRead:
            xi.Btn_Xi_filter_read->click();
            break;
        case Act::FilterSet:
            xi.Edit_Xi_filter_value->setText(box);
            xi.Btn_Xi_filter_set->click();
            break;
        case Act::CountOn:
            xi.Sbtn_Xi_Counter_on->click();
            break;
        case Act::CountOff:
            xi.Sbtn_Xi_Counter_off->click();
            break;
        case Act::CountRead:
            xi.Btn_Xi_Counter_Read->click();
            break;
        case Act::YoReset:
            yo.Pnl_Yo_type_Default();
            break;
        case Act::TimesRead:
            yo.Btn_pulse_time_read->click();
            break;
        case Act::OnSet:
            yo.Edit_pulse_timeH->setText(box);
            yo.Btn_pulse_timeON_set->click();
            break;
        case Act::OffSet:
            yo.Edit_pulse_timeL->setText(box);
            yo.Btn_pulse_timeOFF_set->click();
            break;
        case Act::PulseOnCont:
        case Act::PulseOffCont:
            yo.RaB_pulse_out_continue->setChecked(true);
            (act == Act::PulseOnCont ? yo.Sbtn_pulse_on : yo.Sbtn_pulse_off)->click();
            break;
        case Act::PulseOnNum:
        case Act::PulseOffNum:
            yo.RaB_pulse_num_out->setChecked(true);
            yo.Edit_pulse_num->setText(box);
            (act == Act::PulseOnNum ? yo.Sbtn_pulse_on : yo.Sbtn_pulse_off)->click();
            break;
        case Act::StateRead:
            yo.Btn_pulse_status_read->click();
            break;
    }
}

class ChannelRequests : public ::testing::TestWithParam<std::tuple<RequestCase, int>> {};

TEST_P(ChannelRequests, FrameOnTheLine) {
    const auto& [c, protocol] = GetParam();
    ChannelRig rig;
    rig.protocol.index = protocol;
    rig.Channel(c.model, c.index);
    Do(rig, c.act, QString::fromLatin1(c.box));
    ASSERT_EQ(rig.Sent(), 1u) << c.what;
    EXPECT_EQ(rig.LastSent(), protocol == kProtocolRtu ? FromHex(c.rtu) : Ascii(c.ascii)) << c.what;
    EXPECT_EQ(rig.St().Modbus_Reg_Addr, c.regAddr) << c.what;
    EXPECT_EQ(rig.St().DIDO_Button_Status, c.marker) << c.what;
    // The counting start asked first; nothing else asks or warns.
    const bool asks = c.act == Act::CountOn;
    ASSERT_EQ(rig.boxes.boxes.size(), asks ? 1u : 0u) << c.what;
    if (asks) {
        EXPECT_EQ(rig.boxes.boxes[0].text, TPnlXiType::kCountingQuestion);
        EXPECT_EQ(rig.boxes.boxes[0].title, QStringLiteral("提示"));
        EXPECT_EQ(rig.boxes.boxes[0].icon, MsgIcon::Question);
        EXPECT_EQ(rig.boxes.boxes[0].buttons, MsgButtons::OkCancel);
    }
}

INSTANTIATE_TEST_SUITE_P(BothProtocols, ChannelRequests,
                         ::testing::Combine(::testing::ValuesIn(kRequests),
                                            ::testing::Values(kProtocolRtu, kProtocolAscii)),
                         [](const ::testing::TestParamInfo<std::tuple<RequestCase, int>>& info) {
                             std::string name = std::get<0>(info.param).what;
                             for (char& ch : name)
                                 if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
                             return name +
                                    (std::get<1>(info.param) == kProtocolRtu ? "_RTU" : "_ASCII");
                         });

// ---- what a model, channel or mode radio that is not served sends ---------

TEST(ChannelPanels, NothingIsSentWhereNoRegisterIsNamed) {
    struct {
        const char* model;
        std::uint8_t index;
    } const kUnserved[] = {
        {"KELM-8RY", 0},   // no channel panels at all
        {"KELM-8AD", 3},   //
        {"", 0},           // nothing selected yet
        {"KELM-16I", 16},  // past the inputs
    };
    const Act kAll[] = {Act::FilterRead,  Act::FilterSet,    Act::CountOn,    Act::CountOff,
                        Act::CountRead,   Act::TimesRead,    Act::OnSet,      Act::OffSet,
                        Act::PulseOnCont, Act::PulseOffCont, Act::PulseOnNum, Act::PulseOffNum,
                        Act::StateRead};
    for (const auto& u : kUnserved) {
        for (Act act : kAll) {
            ChannelRig rig;
            rig.Channel(u.model, u.index);
            rig.St().DIDO_Button_Status = 7;
            rig.Xi().Edit_Xi_counter_value->setText("55");
            Do(rig, act, "500");
            EXPECT_EQ(rig.Sent(), 0u) << u.model << " " << static_cast<int>(act);
            EXPECT_EQ(rig.St().DIDO_Button_Status, 7) << u.model << " " << static_cast<int>(act);
        }
    }
    // The preparations still run, whatever the model; the counting start
    // still asks first.
    ChannelRig rig;
    rig.Channel("KELM-8RY", 0);
    auto& xi = rig.Xi();
    auto& yo = rig.Yo();
    for (QLineEdit* e : {xi.Edit_Xi_filter_value, xi.Edit_Xi_counter_value, yo.Edit_pulse_timeH,
                         yo.Edit_pulse_timeL, yo.Edit_pulse_num})
        e->setText("9");
    xi.Shape_Counter_DI->SetRunning(true);
    yo.Shape_Pulse_DO->SetRunning(true);
    yo.RaB_pulse_num_out->setChecked(true);
    for (QAbstractButton* b : {static_cast<QAbstractButton*>(xi.Btn_Xi_filter_read),
                               static_cast<QAbstractButton*>(xi.Btn_Xi_Counter_Read),
                               static_cast<QAbstractButton*>(yo.Btn_pulse_time_read),
                               static_cast<QAbstractButton*>(yo.Btn_pulse_status_read)})
        b->click();
    for (QLineEdit* e : {xi.Edit_Xi_filter_value, xi.Edit_Xi_counter_value, yo.Edit_pulse_timeH,
                         yo.Edit_pulse_timeL, yo.Edit_pulse_num})
        EXPECT_EQ(e->text(), "0") << e->objectName().toStdString();
    EXPECT_FALSE(xi.Shape_Counter_DI->IsRunning());
    EXPECT_FALSE(yo.Shape_Pulse_DO->IsRunning());
    EXPECT_FALSE(yo.RaB_pulse_num_out->isChecked());
    xi.Sbtn_Xi_Counter_on->click();
    EXPECT_TRUE(rig.boxes.Has("提示", TPnlXiType::kCountingQuestion));
    EXPECT_EQ(rig.Sent(), 0u);
}

TEST(ChannelPanels, KelmEightIEightTChannelsOfTheOtherKindSendNothing) {
    ChannelRig rig;
    rig.Channel("KELM-8I8T", 8);  // DO0: not an input
    for (Act act : {Act::FilterRead, Act::FilterSet, Act::CountOn, Act::CountOff, Act::CountRead})
        Do(rig, act, "500");
    rig.Channel("KELM-8I8T", 7);  // DI7: not an output
    for (Act act : {Act::TimesRead, Act::OnSet, Act::OffSet, Act::PulseOnCont, Act::PulseOnNum,
                    Act::StateRead})
        Do(rig, act, "500");
    EXPECT_EQ(rig.Sent(), 0u);
    EXPECT_EQ(rig.St().DIDO_Button_Status, 0);
}

TEST(ChannelPanels, StartAndStopWithNeitherModeTickedSendNothing) {
    ChannelRig rig;
    rig.Channel("KELM-16T", 4);
    rig.St().DIDO_Button_Status = 1;
    rig.Yo().Sbtn_pulse_on->click();
    rig.Yo().Sbtn_pulse_off->click();
    EXPECT_EQ(rig.Sent(), 0u);
    EXPECT_EQ(rig.St().DIDO_Button_Status, 1);
    EXPECT_TRUE(rig.boxes.boxes.empty());
    // Quantity is looked at first: with a bad count nothing goes, even though
    // "连续" was ticked before.
    rig.Yo().RaB_pulse_out_continue->setChecked(true);
    rig.Yo().RaB_pulse_num_out->setChecked(true);
    EXPECT_FALSE(rig.Yo().RaB_pulse_out_continue->isChecked());
    rig.Yo().Edit_pulse_num->setText("4294967296");
    rig.Yo().Sbtn_pulse_on->click();
    EXPECT_EQ(rig.Sent(), 0u);
    EXPECT_TRUE(rig.boxes.Has("提示", TPnlYoType::kCountWarning));
}

// ---- range checks and conversion ---------------------------------------------

enum class Outcome { Sent, Warned, ConversionError };

struct RangeCase {
    const char* box;  // "filter", "on", "off", "count"
    const char* text;
    Outcome outcome;
};

const RangeCase kRanges[] = {
    {"filter", "99", Outcome::Warned},
    {"filter", "100", Outcome::Sent},
    {"filter", "10000", Outcome::Sent},
    {"filter", "10001", Outcome::Warned},
    {"filter", "0", Outcome::Warned},
    {"filter", "-200", Outcome::Warned},  // pasted: a number, but out of range
    {"filter", "", Outcome::ConversionError},
    {"filter", "2147483647", Outcome::Warned},
    {"filter", "2147483648", Outcome::ConversionError},
    {"filter", "-2147483648", Outcome::Warned},
    {"filter", "-2147483649", Outcome::ConversionError},
    {"filter", "12a", Outcome::ConversionError},
    {"filter", " 200", Outcome::ConversionError},
    {"filter", "0x64", Outcome::ConversionError},
    {"filter", "２００", Outcome::ConversionError},  // full-width digits
    {"filter", "+200", Outcome::Sent},
    {"on", "1", Outcome::Warned},
    {"on", "2", Outcome::Sent},
    {"on", "65535", Outcome::Sent},
    {"on", "65536", Outcome::Warned},
    {"on", "", Outcome::ConversionError},
    {"on", "99999999999", Outcome::ConversionError},
    {"off", "1", Outcome::Warned},
    {"off", "2", Outcome::Sent},
    {"off", "65535", Outcome::Sent},
    {"off", "65536", Outcome::Warned},
    {"off", "", Outcome::ConversionError},
    {"off", "4294967298", Outcome::ConversionError},  // would wrap to 2 as a 32-bit value
    {"count", "-1", Outcome::Warned},
    {"count", "0", Outcome::Sent},
    {"count", "4294967295", Outcome::Sent},
    {"count", "4294967296", Outcome::Warned},
    {"count", "9223372036854775807", Outcome::Warned},
    {"count", "9223372036854775808", Outcome::ConversionError},
    {"count", "-9223372036854775808", Outcome::Warned},
    {"count", "", Outcome::ConversionError},
    {"count", "5e3", Outcome::ConversionError},
};

TEST(ChannelPanels, RangeChecksAndConversionErrors) {
    for (const RangeCase& c : kRanges) {
        ChannelRig rig;
        const std::string box = c.box;
        const QString text = QString::fromUtf8(c.text);
        QString warning;
        if (box == "filter") {
            rig.Channel("KELM-16I", 5);
            rig.Xi().Edit_Xi_filter_value->setText(text);
            rig.Xi().Btn_Xi_filter_set->click();
            warning = TPnlXiType::kFilterWarning;
        } else if (box == "count") {
            rig.Channel("KELM-16T", 0);
            rig.Yo().RaB_pulse_num_out->setChecked(true);
            rig.Yo().Edit_pulse_num->setText(text);
            rig.Yo().Sbtn_pulse_on->click();
            warning = TPnlYoType::kCountWarning;
        } else {
            rig.Channel("KELM-16T", 0);
            QLineEdit* e = box == "on" ? rig.Yo().Edit_pulse_timeH : rig.Yo().Edit_pulse_timeL;
            e->setText(text);
            (box == "on" ? rig.Yo().Btn_pulse_timeON_set : rig.Yo().Btn_pulse_timeOFF_set)->click();
            warning = TPnlYoType::kTimeWarning;
        }
        const std::string what = box + " '" + c.text + "'";
        EXPECT_EQ(rig.Sent(), c.outcome == Outcome::Sent ? 1u : 0u) << what;
        EXPECT_EQ(rig.St().DIDO_Button_Status, c.outcome == Outcome::Sent && box == "count" ? 3 : 0)
            << what;
        if (c.outcome == Outcome::Sent) {
            EXPECT_TRUE(rig.boxes.boxes.empty()) << what;
            continue;
        }
        ASSERT_EQ(rig.boxes.boxes.size(), 1u) << what;
        const RecordedBox& b = rig.boxes.boxes[0];
        if (c.outcome == Outcome::Warned) {
            EXPECT_EQ(b.title, QStringLiteral("提示")) << what;
            EXPECT_EQ(b.text, warning) << what;
            EXPECT_EQ(b.icon, MsgIcon::Warning) << what;
        } else {
            EXPECT_TRUE(b.conversionError) << what;
            EXPECT_EQ(b.text, QStringLiteral("'%1' is not a valid integer value").arg(text))
                << what;
        }
    }
}

TEST(ChannelPanels, ValuesReachTheLineAsTyped) {
    // The value written is the one checked: 65535 and a leading plus.
    ChannelRig rig;
    rig.Channel("KELM-16T", 0);
    rig.Yo().Edit_pulse_timeH->setText("65535");
    rig.Yo().Btn_pulse_timeON_set->click();
    EXPECT_EQ(rig.LastSent(), rig.Wire({kAddress, 0x06, 0x00, 0x08, 0xFF, 0xFF}));
    rig.Yo().RaB_pulse_num_out->setChecked(true);
    rig.Yo().Edit_pulse_num->setText("0");
    rig.Yo().Sbtn_pulse_on->click();
    EXPECT_EQ(rig.LastSent(), rig.Wire({kAddress, 0x10, 0x00, 0x38, 0x00, 0x02, 0x04, 0, 0, 0, 0}))
        << "zero pulses is a start";
    EXPECT_EQ(rig.St().DIDO_Button_Status, 3);
}

// ---- typing and pasting -------------------------------------------------------

TEST(ChannelPanels, NumericBoxesTakeTypedDigitsAndBackspaceOnly) {
    ChannelRig rig;
    for (QLineEdit* e : {rig.Xi().Edit_Xi_filter_value, rig.Yo().Edit_pulse_timeH,
                         rig.Yo().Edit_pulse_timeL, rig.Yo().Edit_pulse_num}) {
        e->clear();
        QTest::keyClicks(e, "1a2-3.+ 4e");
        EXPECT_EQ(e->text(), "1234") << e->objectName().toStdString();
        QTest::keyClick(e, Qt::Key_Backspace);
        EXPECT_EQ(e->text(), "123");
        QTest::keyClick(e, Qt::Key_Left);
        QTest::keyClick(e, Qt::Key_Delete);  // types nothing: passes
        EXPECT_EQ(e->text(), "12");
    }
}

TEST(ChannelPanels, PastedTextReachesTheBoxButNotTheLine) {
    ChannelRig rig;
    rig.Channel("KELM-8I8T", 2);
    QLineEdit* e = rig.Xi().Edit_Xi_filter_value;
    QApplication::clipboard()->setText("5x0");
    e->clear();
    e->setFocus();
    QTest::keyClick(e, Qt::Key_V, Qt::ControlModifier);
    if (e->text().isEmpty()) e->paste();  // a platform without the shortcut
    EXPECT_EQ(e->text(), "5x0");
    rig.Xi().Btn_Xi_filter_set->click();
    EXPECT_EQ(rig.Sent(), 0u);
    ASSERT_EQ(rig.boxes.boxes.size(), 1u);
    EXPECT_TRUE(rig.boxes.boxes[0].conversionError);

    // A pasted negative count is a number out of range.
    rig.boxes.Clear();
    rig.Channel("KELM-8I8T", 9);
    rig.Yo().RaB_pulse_num_out->setChecked(true);
    QApplication::clipboard()->setText("-100");
    rig.Yo().Edit_pulse_num->clear();
    rig.Yo().Edit_pulse_num->paste();
    rig.Yo().Sbtn_pulse_on->click();
    EXPECT_EQ(rig.Sent(), 0u);
    EXPECT_TRUE(rig.boxes.Has("提示", TPnlYoType::kCountWarning));
}

// ---- the marker ----------------------------------------------------------------

TEST(ChannelMarker, CountingStartStopAndCancel) {
    ChannelRig rig;
    rig.Channel("KELM-8I8T", 3);
    auto& xi = rig.Xi();

    // Cancel: nothing sent, the marker as it was.
    rig.St().DIDO_Button_Status = 4;
    rig.boxes.answers = {false};
    xi.Sbtn_Xi_Counter_on->click();
    EXPECT_EQ(rig.Sent(), 0u);
    EXPECT_EQ(rig.St().DIDO_Button_Status, 4);

    // OK: start, then its confirmation.
    rig.St().DIDO_Button_Status = 0;
    rig.boxes.Clear();
    rig.boxes.answers = {true};
    xi.Sbtn_Xi_Counter_on->click();
    EXPECT_EQ(rig.St().DIDO_Button_Status, 1);
    xi.CountingConfirmation();
    EXPECT_TRUE(xi.Shape_Counter_DI->IsRunning());
    EXPECT_EQ(xi.Shape_Counter_DI->Colour(), StateShape::kRunning);
    ASSERT_EQ(rig.boxes.boxes.size(), 2u);
    EXPECT_EQ(rig.boxes.boxes[1].text, TPnlXiType::kCountingStarted);
    EXPECT_EQ(rig.boxes.boxes[1].icon, MsgIcon::Information);
    EXPECT_EQ(rig.St().DIDO_Button_Status, 0);

    // Stop asks nothing; its confirmation turns the shape red.
    rig.boxes.Clear();
    xi.Sbtn_Xi_Counter_off->click();
    EXPECT_TRUE(rig.boxes.boxes.empty());
    EXPECT_EQ(rig.St().DIDO_Button_Status, 2);
    xi.CountingConfirmation();
    EXPECT_FALSE(xi.Shape_Counter_DI->IsRunning());
    EXPECT_TRUE(rig.boxes.Has("提示", TPnlXiType::kCountingStopped));
    EXPECT_EQ(rig.St().DIDO_Button_Status, 0);

    // A second start before the first is confirmed: the latest write wins.
    rig.boxes.Clear();
    xi.Sbtn_Xi_Counter_on->click();
    xi.Sbtn_Xi_Counter_off->click();
    EXPECT_EQ(rig.St().DIDO_Button_Status, 2);
    xi.CountingConfirmation();
    EXPECT_TRUE(rig.boxes.Has("提示", TPnlXiType::kCountingStopped));
    EXPECT_FALSE(rig.boxes.Has("提示", TPnlXiType::kCountingStarted));

    // An echo with no pending start or stop of this panel shows nothing and
    // still clears the marker.
    for (std::uint8_t m : {0, 3, 4}) {
        rig.boxes.Clear();
        rig.St().DIDO_Button_Status = m;
        xi.CountingConfirmation();
        EXPECT_TRUE(rig.boxes.boxes.empty()) << int(m);
        EXPECT_EQ(rig.St().DIDO_Button_Status, 0) << int(m);
    }
}

TEST(ChannelMarker, PulseStartStopAndTheContinuousEchoRule) {
    ChannelRig rig;
    rig.Channel("KELM-16T", 15);
    auto& yo = rig.Yo();

    // Continuous start and its echo.
    yo.RaB_pulse_out_continue->setChecked(true);
    yo.Sbtn_pulse_on->click();
    EXPECT_EQ(rig.St().DIDO_Button_Status, 3);
    yo.ContinuousConfirmation();
    EXPECT_TRUE(yo.Shape_Pulse_DO->IsRunning());
    EXPECT_TRUE(rig.boxes.Has("提示", TPnlYoType::kContinuousStarted));
    EXPECT_EQ(rig.St().DIDO_Button_Status, 0);

    // The stop's echo after "数量:" was ticked meanwhile: nothing, marker waits.
    rig.boxes.Clear();
    yo.Sbtn_pulse_off->click();
    EXPECT_EQ(rig.St().DIDO_Button_Status, 4);
    yo.RaB_pulse_num_out->setChecked(true);
    yo.ContinuousConfirmation();
    EXPECT_TRUE(rig.boxes.boxes.empty());
    EXPECT_TRUE(yo.Shape_Pulse_DO->IsRunning());
    EXPECT_EQ(rig.St().DIDO_Button_Status, 4);
    // ... and the count confirmation takes it.
    yo.CountConfirmation();
    EXPECT_FALSE(yo.Shape_Pulse_DO->IsRunning());
    EXPECT_TRUE(rig.boxes.Has("提示", TPnlYoType::kCountStopped));
    EXPECT_EQ(rig.St().DIDO_Button_Status, 0);

    // Counted start and stop.
    rig.boxes.Clear();
    yo.Edit_pulse_num->setText("7");
    yo.Sbtn_pulse_on->click();
    EXPECT_EQ(rig.St().DIDO_Button_Status, 3);
    yo.CountConfirmation();
    EXPECT_TRUE(yo.Shape_Pulse_DO->IsRunning());
    EXPECT_TRUE(rig.boxes.Has("提示", TPnlYoType::kCountStarted));
    EXPECT_EQ(rig.St().DIDO_Button_Status, 0);

    // A second start before a confirmation overwrites the marker.
    rig.boxes.Clear();
    yo.Sbtn_pulse_on->click();
    yo.Sbtn_pulse_off->click();
    EXPECT_EQ(rig.St().DIDO_Button_Status, 4);
    yo.CountConfirmation();
    EXPECT_EQ(rig.boxes.boxes.size(), 1u);
    EXPECT_TRUE(rig.boxes.Has("提示", TPnlYoType::kCountStopped));

    // Echoes with another panel's marker or none: no box, the marker cleared
    // (continuous only while "连续" is ticked).
    yo.RaB_pulse_out_continue->setChecked(true);
    for (std::uint8_t m : {0, 1, 2}) {
        rig.boxes.Clear();
        rig.St().DIDO_Button_Status = m;
        yo.ContinuousConfirmation();
        EXPECT_EQ(rig.St().DIDO_Button_Status, 0);
        rig.St().DIDO_Button_Status = m;
        yo.CountConfirmation();
        EXPECT_EQ(rig.St().DIDO_Button_Status, 0);
        EXPECT_TRUE(rig.boxes.boxes.empty());
    }
}

TEST(ChannelMarker, ShapeColourIsSetBeforeTheBoxShows) {
    RecordingSink sink;
    RecordingStatus status;
    FixedProtocol protocol{kProtocolRtu};
    ManualTimer timer;
    ModbusMaster master{sink, status, protocol, timer};
    ColourAtBoxes boxes;
    QWidget stack;
    ModulePanels panels = CreateModulePanels(ModuleContext{master, boxes}, &stack);
    auto& xi = *panels.Pnl_Xi_type;
    auto& yo = *panels.Pnl_Yo_type;
    struct Step {
        StateShape* shape;
        std::uint8_t marker;
        std::function<void()> confirm;
        bool running;
    } const steps[] = {
        {xi.Shape_Counter_DI, 1, [&] { xi.CountingConfirmation(); }, true},
        {xi.Shape_Counter_DI, 2, [&] { xi.CountingConfirmation(); }, false},
        {yo.Shape_Pulse_DO, 3, [&] { yo.ContinuousConfirmation(); }, true},
        {yo.Shape_Pulse_DO, 4, [&] { yo.ContinuousConfirmation(); }, false},
        {yo.Shape_Pulse_DO, 3, [&] { yo.CountConfirmation(); }, true},
        {yo.Shape_Pulse_DO, 4, [&] { yo.CountConfirmation(); }, false},
    };
    yo.RaB_pulse_out_continue->setChecked(true);
    for (const Step& s : steps) {
        s.shape->SetRunning(!s.running);
        boxes.running = [&] { return s.shape->IsRunning(); };
        boxes.runningAtShow.clear();
        master.State().DIDO_Button_Status = s.marker;
        s.confirm();
        ASSERT_EQ(boxes.runningAtShow.size(), 1u) << int(s.marker);
        EXPECT_EQ(boxes.runningAtShow[0], s.running) << int(s.marker);
    }
}

// ---- reply steps at their byte positions -----------------------------------------

// A read reply of `registers` registers whose values come from value(r), r
// counted from the first register read.
Frame ReadReply(unsigned registers, const std::function<std::uint16_t(unsigned)>& value) {
    ByteString b = {kAddress, 0x03, static_cast<std::uint8_t>(2 * registers)};
    for (unsigned r = 0; r < registers; ++r) {
        b.push_back(static_cast<std::uint8_t>(value(r) >> 8));
        b.push_back(static_cast<std::uint8_t>(value(r) & 0xFF));
    }
    return Frame(b);
}

struct ChannelCase {
    const char* model;
    std::uint8_t index;
    unsigned ch;
    unsigned channels;
};

const ChannelCase kInputs[] = {
    {"KELM-8I8T", 0, 0, 8},
    {"KELM-8I8T", 7, 7, 8},
    {"KELM-16I", 0, 0, 16},
    {"KELM-16I", 15, 15, 16},
};

TEST(ChannelReplies, FilterAndCountingRepliesOfFirstAndLastInput) {
    for (const ChannelCase& c : kInputs) {
        ChannelRig rig;
        rig.Channel(c.model, c.index);
        auto& xi = rig.Xi();
        xi.FilterReply(ReadReply(c.channels, [](unsigned r) { return 1000 + r; }));
        EXPECT_EQ(xi.Edit_Xi_filter_value->text(), QString::number(1000 + c.ch)) << c.model;

        // Controls: only the selected input runs; counts: distinct per input,
        // the selected one with every byte set.
        const unsigned n = c.channels;
        auto value = [&](unsigned r) -> std::uint16_t {
            if (r < n) return r == c.ch ? 0x0031 : 0x0030;
            const unsigned input = (r - n) / 2;
            if (input == c.ch) return 0xFFFF;
            return (r - n) % 2 == 0 ? static_cast<std::uint16_t>(input) : 0x0101;
        };
        xi.CountingReply(ReadReply(3 * n, value));
        EXPECT_TRUE(xi.Shape_Counter_DI->IsRunning()) << c.model << c.ch;
        EXPECT_EQ(xi.Edit_Xi_counter_value->text(), "4294967295") << c.model << c.ch;

        // The same reply read from a neighbour shows the neighbour's values.
        rig.Channel(c.model, static_cast<std::uint8_t>(c.ch == 0 ? 1 : c.ch - 1));
        const unsigned other = c.ch == 0 ? 1 : c.ch - 1;
        xi.CountingReply(ReadReply(3 * n, value));
        EXPECT_FALSE(xi.Shape_Counter_DI->IsRunning());
        EXPECT_EQ(xi.Edit_Xi_counter_value->text(), QString::number((other << 16) | 0x0101u));
    }
}

TEST(ChannelReplies, CountsAreUnsignedAndMostSignificantFirst) {
    ChannelRig rig;
    rig.Channel("KELM-16I", 0);
    ByteString b = {kAddress, 0x03, 96};
    b.resize(3 + 96, 0);
    b[3] = 0x00;
    b[4] = 0x30;
    b[35] = 0x00;
    b[36] = 0x01;  // 0x00010000
    rig.Xi().Shape_Counter_DI->SetRunning(true);
    rig.Xi().CountingReply(Frame(b));
    EXPECT_EQ(rig.Xi().Edit_Xi_counter_value->text(), "65536");
    EXPECT_FALSE(rig.Xi().Shape_Counter_DI->IsRunning()) << "control 0x0030";
}

const ChannelCase kOutputs[] = {
    {"KELM-8I8T", 8, 0, 8},
    {"KELM-8I8T", 15, 7, 8},
    {"KELM-16T", 0, 0, 16},
    {"KELM-16T", 15, 15, 16},
};

TEST(ChannelReplies, TimesAndStateRepliesOfFirstAndLastOutput) {
    for (const ChannelCase& c : kOutputs) {
        ChannelRig rig;
        rig.Channel(c.model, c.index);
        auto& yo = rig.Yo();
        const unsigned n = c.channels;
        // ON block, then OFF block; every register distinct.
        yo.TimesReply(ReadReply(2 * n, [](unsigned r) { return 2000 + r; }));
        EXPECT_EQ(yo.Edit_pulse_timeH->text(), QString::number(2000 + c.ch)) << c.model << c.ch;
        EXPECT_EQ(yo.Edit_pulse_timeL->text(), QString::number(2000 + n + c.ch)) << c.model << c.ch;

        auto value = [&](unsigned r) -> std::uint16_t {
            if (r < n) return r == c.ch ? 0x0031 : 0x0030;
            const unsigned out = (r - n) / 2;
            if ((r - n) % 2 == 0) return out == c.ch ? 0x8000 : 0x0000;
            return static_cast<std::uint16_t>(out + 1);
        };
        yo.StateReply(ReadReply(3 * n, value));
        EXPECT_EQ(yo.Edit_pulse_num->text(), QString::number(0x80000000u + c.ch + 1));
        EXPECT_TRUE(yo.RaB_pulse_num_out->isChecked()) << "count above 0 wins";
        EXPECT_FALSE(yo.RaB_pulse_out_continue->isChecked());
        EXPECT_TRUE(yo.Shape_Pulse_DO->IsRunning());
    }
}

TEST(ChannelReplies, StateReplyCombinations) {
    struct {
        std::uint16_t control;
        std::uint32_t count;
        bool continuous, quantity, running;
        const char* shown;
    } const kStates[] = {
        {0x0031, 5, false, true, true, "5"},   {0x0031, 0, true, false, true, "0"},
        {0x0030, 9, false, true, true, "9"},   {0x0030, 0, false, false, false, "0"},
        {0x0032, 0, false, false, false, "0"},
    };
    for (const auto& s : kStates) {
        ChannelRig rig;
        rig.Channel("KELM-8I8T", 9);  // DO1
        rig.Yo().Btn_pulse_status_read->click();
        auto value = [&](unsigned r) -> std::uint16_t {
            if (r == 1) return s.control;
            if (r == 8 + 2) return static_cast<std::uint16_t>(s.count >> 16);
            if (r == 8 + 3) return static_cast<std::uint16_t>(s.count);
            return 0;
        };
        rig.Yo().StateReply(ReadReply(24, value));
        EXPECT_EQ(rig.Yo().RaB_pulse_out_continue->isChecked(), s.continuous)
            << s.control << s.count;
        EXPECT_EQ(rig.Yo().RaB_pulse_num_out->isChecked(), s.quantity) << s.control << s.count;
        EXPECT_EQ(rig.Yo().Shape_Pulse_DO->IsRunning(), s.running) << s.control << s.count;
        EXPECT_EQ(rig.Yo().Edit_pulse_num->text(), s.shown);
    }
}

TEST(ChannelReplies, AShortFrameReadsNoBytesPastItsEnd) {
    // The module handlers check the byte count; a step handed less still reads
    // zeros, never beyond the frame.
    ChannelRig rig;
    rig.Channel("KELM-16T", 15);
    rig.Yo().StateReply(Frame({kAddress, 0x03, 96, 0x00}));
    EXPECT_EQ(rig.Yo().Edit_pulse_num->text(), "0");
    rig.Channel("KELM-16I", 15);
    rig.Xi().CountingReply(Frame({kAddress, 0x03}));
    EXPECT_EQ(rig.Xi().Edit_Xi_counter_value->text(), "0");
}

// ---- the whole road: request, module handler, channel step -------------------

// A register block as a read reply body: address, FC 03, byte count, values.
ByteString ReadBody(unsigned registers, const std::function<std::uint16_t(unsigned)>& value) {
    return ReadReply(registers, value).bytes();
}

TEST(ChannelRoad, RepliesReachThePanelsThroughTheModuleHandlers) {
    struct Road {
        const char* what;
        const char* model;
        std::uint8_t index;
        Act act;
        const char* box;
        ByteString reply;
        std::function<void(ChannelRig&)> check;
    };
    const auto expectBox = [](const QString& text) {
        return
            [text](ChannelRig& r) { EXPECT_TRUE(r.boxes.Has("提示", text)) << text.toStdString(); };
    };
    const Road kRoads[] = {
        {"16I DI5 filter read", "KELM-16I", 5, Act::FilterRead, "",
         ReadBody(16, [](unsigned r) { return r == 5 ? 250 : 100; }),
         [](ChannelRig& r) { EXPECT_EQ(r.Xi().Edit_Xi_filter_value->text(), "250"); }},
        {"8I8T DI3 counting start",
         "KELM-8I8T",
         3,
         Act::CountOn,
         "",
         {kAddress, 0x06, 0x00, 0x3B, 0x00, 0x31},
         [](ChannelRig& r) {
             EXPECT_TRUE(r.boxes.Has("提示", TPnlXiType::kCountingStarted));
             EXPECT_TRUE(r.Xi().Shape_Counter_DI->IsRunning());
             EXPECT_EQ(r.St().DIDO_Button_Status, 0);
         }},
        {"16I DI15 counting read", "KELM-16I", 15, Act::CountRead, "",
         ReadBody(48,
                  [](unsigned r) -> std::uint16_t {
                      if (r == 15) return 0x0031;
                      if (r == 16 + 30) return 0x0102;
                      if (r == 16 + 31) return 0x0304;
                      return 0;
                  }),
         [](ChannelRig& r) {
             EXPECT_TRUE(r.Xi().Shape_Counter_DI->IsRunning());
             EXPECT_EQ(r.Xi().Edit_Xi_counter_value->text(), "16909060");
         }},
        {"8I8T DO1 counted start",
         "KELM-8I8T",
         9,
         Act::PulseOnNum,
         "100000",
         {kAddress, 0x10, 0x00, 0x22, 0x00, 0x02},
         [](ChannelRig& r) {
             EXPECT_TRUE(r.boxes.Has("提示", TPnlYoType::kCountStarted));
             EXPECT_TRUE(r.Yo().Shape_Pulse_DO->IsRunning());
         }},
        {"16T DO15 continuous start",
         "KELM-16T",
         15,
         Act::PulseOnCont,
         "",
         {kAddress, 0x06, 0x00, 0x37, 0x00, 0x31},
         expectBox(TPnlYoType::kContinuousStarted)},
        {"16T DO2 times read", "KELM-16T", 2, Act::TimesRead, "",
         ReadBody(32, [](unsigned r) { return 3000 + r; }),
         [](ChannelRig& r) {
             EXPECT_EQ(r.Yo().Edit_pulse_timeH->text(), "3002");
             EXPECT_EQ(r.Yo().Edit_pulse_timeL->text(), "3018");
         }},
        {"8I8T DO7 state read", "KELM-8I8T", 15, Act::StateRead, "",
         ReadBody(24, [](unsigned r) { return r == 7 ? 0x0031 : 0; }),
         [](ChannelRig& r) {
             EXPECT_TRUE(r.Yo().RaB_pulse_out_continue->isChecked());
             EXPECT_TRUE(r.Yo().Shape_Pulse_DO->IsRunning());
         }},
    };
    for (const Road& road : kRoads) {
        SCOPED_TRACE(road.what);
        ChannelRig rig;
        rig.Select(road.model, kAddress);
        rig.St().Node_DeviceChild_Index = road.index;
        Do(rig, road.act, QString::fromLatin1(road.box));
        ASSERT_EQ(rig.Sent(), 1u);
        rig.boxes.Clear();
        rig.Receive(road.reply);
        road.check(rig);
    }
}

TEST(ChannelRoad, AKelmEightIEightTReplyForTheOtherKindIsIgnored) {
    ChannelRig rig;
    rig.Select("KELM-8I8T", kAddress);
    // The last request read the filter times, but an output node is selected.
    rig.St().Node_DeviceChild_Index = 8;
    rig.master.Modbus_Send_oneWord(3, 48, 8);
    rig.Receive(ReadBody(8, [](unsigned) { return 700; }));
    rig.master.Modbus_Send_oneWord(3, 56, 24);
    rig.Receive(ReadBody(24, [](unsigned) { return 0x0031; }));
    EXPECT_EQ(rig.Xi().Edit_Xi_filter_value->text(), "0");
    EXPECT_EQ(rig.Xi().Edit_Xi_counter_value->text(), "0");
    EXPECT_FALSE(rig.Xi().Shape_Counter_DI->IsRunning());
    // And the reverse.
    rig.St().Node_DeviceChild_Index = 7;
    rig.master.Modbus_Send_oneWord(3, 8, 16);
    rig.Receive(ReadBody(16, [](unsigned) { return 700; }));
    rig.master.Modbus_Send_oneWord(3, 24, 24);
    rig.Receive(ReadBody(24, [](unsigned) { return 0x0031; }));
    EXPECT_EQ(rig.Yo().Edit_pulse_timeH->text(), "0");
    EXPECT_FALSE(rig.Yo().RaB_pulse_out_continue->isChecked());
    EXPECT_FALSE(rig.Yo().Shape_Pulse_DO->IsRunning());
}

TEST(ChannelRoad, TheOutputResetsModeReadEndsInTheModeDisplay) {
    QTreeWidget tree;
    auto* root = new QTreeWidgetItem(&tree, {"PC"});
    auto* port = new QTreeWidgetItem(root, {"COM1"});
    auto* module = new QTreeWidgetItem(port, {"KELM-16T(3)"});
    for (int ch = 0; ch < 16; ++ch) new QTreeWidgetItem(module, {QStringLiteral("DO%1").arg(ch)});
    for (const auto& [child, word, pulse] :
         {std::tuple{15, 0x8000, true}, std::tuple{14, 0x8000, false},
          std::tuple{0, 0x0001, true}}) {
        ChannelRig rig(&tree);
        tree.setCurrentItem(module->child(child));
        rig.St().Node_Device_Name = "KELM-16T";
        rig.St().Node_Device_ID = kAddress;
        rig.St().Node_DeviceChild_Index = static_cast<std::uint8_t>(child);
        TPnlYoType& yo = rig.Yo();
        yo.Pnl_Yo_type_Default();
        EXPECT_FALSE(yo.RaB_Yo_pulse->isChecked() || yo.RaB_Yo_switch->isChecked());
        rig.Receive({kAddress, 0x03, 0x04, 0x00, 0x00, static_cast<std::uint8_t>(word >> 8),
                     static_cast<std::uint8_t>(word & 0xFF)});
        EXPECT_EQ(yo.RaB_Yo_pulse->isChecked(), pulse) << child;
        EXPECT_EQ(yo.RaB_Yo_switch->isChecked(), !pulse) << child;
        EXPECT_EQ(yo.Gro_pulse_mode->isHidden(), !pulse) << child;
    }
}

// ---- resets, mode display, names ---------------------------------------------------

TEST(ChannelPanels, ResetsAndTheModeDisplay) {
    ChannelRig rig;
    rig.Channel("KELM-16T", 3);
    auto& yo = rig.Yo();
    yo.ShowOutputMode(true);
    EXPECT_TRUE(yo.RaB_Yo_pulse->isChecked());
    EXPECT_FALSE(yo.Gro_pulse_mode->isHidden());
    yo.Edit_pulse_timeH->setText("9");
    yo.Edit_pulse_timeL->setText("9");
    yo.RaB_pulse_out_continue->setChecked(true);
    yo.Edit_pulse_num->setText("9");
    yo.Shape_Pulse_DO->SetRunning(true);
    yo.Pnl_Yo_type_Default();
    EXPECT_FALSE(yo.RaB_Yo_pulse->isChecked());
    EXPECT_FALSE(yo.RaB_Yo_switch->isChecked());
    EXPECT_FALSE(yo.RaB_pulse_out_continue->isChecked());
    EXPECT_FALSE(yo.RaB_pulse_num_out->isChecked());
    for (QLineEdit* e : {yo.Edit_pulse_timeH, yo.Edit_pulse_timeL, yo.Edit_pulse_num})
        EXPECT_EQ(e->text(), "0");
    EXPECT_FALSE(yo.Shape_Pulse_DO->IsRunning());
    EXPECT_TRUE(yo.Gro_pulse_mode->isHidden());
    EXPECT_EQ(rig.LastSent(), rig.Wire({kAddress, 0x03, 0x00, 0x06, 0x00, 0x02}));
    yo.ShowOutputMode(false);
    EXPECT_TRUE(yo.RaB_Yo_switch->isChecked());
    EXPECT_TRUE(yo.Gro_pulse_mode->isHidden());
    // The radios stay an exclusive pair after being unticked.
    yo.RaB_Yo_pulse->setChecked(true);
    EXPECT_FALSE(yo.RaB_Yo_switch->isChecked());

    auto& xi = rig.Xi();
    xi.Edit_Xi_filter_value->setText("300");
    xi.Edit_Xi_counter_value->setText("12");
    xi.Shape_Counter_DI->SetRunning(true);
    const std::size_t before = rig.Sent();
    xi.Pnl_Xi_type_Default();
    EXPECT_EQ(xi.Edit_Xi_filter_value->text(), "0");
    EXPECT_EQ(xi.Edit_Xi_counter_value->text(), "0");
    EXPECT_FALSE(xi.Shape_Counter_DI->IsRunning());
    EXPECT_EQ(rig.Sent(), before) << "nothing is read automatically";
}

template <class T>
T* Named(QWidget* panel, const char* name) {
    T* w = panel->findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(w, nullptr) << name;
    return w;
}

TEST(ChannelPanels, NamesCaptionsPicturesAndShapes) {
    ChannelRig rig;
    QWidget* xi = rig.panels.Pnl_Xi_type;
    QWidget* yo = rig.panels.Pnl_Yo_type;
    EXPECT_EQ(xi->objectName(), "Pnl_Xi_type");
    EXPECT_EQ(yo->objectName(), "Pnl_Yo_type");
    ASSERT_TRUE(Named<QGroupBox>(xi, "Gro_Xi_mode"));
    ASSERT_TRUE(Named<QGroupBox>(yo, "Gro_Yo_mode"));

    const QString note = rig.Xi().Label_Xi_note->text();
    EXPECT_TRUE(note.startsWith(QStringLiteral("    使用开关量输入时")));
    EXPECT_TRUE(note.endsWith(QStringLiteral("脉冲计数不受此限制。")));
    EXPECT_TRUE(rig.Xi().Label_Xi_note->wordWrap());
    for (const char* name : {"CheckBox1", "CBox_Xi_Count_Eanble"}) {
        auto* c = Named<QCheckBox>(xi, name);
        EXPECT_TRUE(c->isChecked() && !c->isEnabled()) << name;
    }
    EXPECT_EQ(Named<QCheckBox>(xi, "CheckBox1")->text(), QStringLiteral("开关量输入"));
    EXPECT_EQ(Named<QCheckBox>(xi, "CBox_Xi_Count_Eanble")->text(), QStringLiteral("脉冲计数输入"));

    // Groups by title, buttons by caption; the radios start unticked.
    struct {
        QWidget* panel;
        const char* name;
        const char* caption;
    } const kCaptions[] = {
        {xi, "Gro_Xi_filter", "开关量滤波："},
        {xi, "Gro_Xi_counter", "脉冲计数："},
        {yo, "Gro_pulse_mode", "脉冲输出："},
        {yo, "Gro_pulse_time", "波形时间"},
        {yo, "Gro_pulse_ctrl", "控制及状态"},
        {xi, "Btn_Xi_filter_read", "读取配置"},
        {xi, "Btn_Xi_filter_set", "更新配置"},
        {xi, "Btn_Xi_Counter_Read", "计数状态查询"},
        {yo, "Btn_pulse_timeON_set", "更新配置"},
        {yo, "Btn_pulse_timeOFF_set", "更新配置"},
        {yo, "Btn_pulse_time_read", "读取ON/OFF配置"},
        {yo, "Btn_pulse_status_read", "控制状态查询"},
        {yo, "RaB_Yo_switch", "开关量输出"},
        {yo, "RaB_Yo_pulse", "脉冲输出"},
        {yo, "RaB_pulse_out_continue", "连续"},
        {yo, "RaB_pulse_num_out", "数量:"},
    };
    for (const auto& c : kCaptions) {
        QWidget* w = Named<QWidget>(c.panel, c.name);
        if (auto* g = qobject_cast<QGroupBox*>(w)) {
            EXPECT_EQ(g->title(), QString::fromUtf8(c.caption)) << c.name;
        } else if (auto* b = qobject_cast<QAbstractButton*>(w)) {
            EXPECT_EQ(b->text(), QString::fromUtf8(c.caption)) << c.name;
            EXPECT_FALSE(b->isChecked()) << c.name;
        }
    }
    struct {
        QWidget* panel;
        const char* name;
        const char* caption;
        int image;
    } const kFaces[] = {
        {xi, "Sbtn_Xi_Counter_on", "启动", kImgFaceOn},
        {xi, "Sbtn_Xi_Counter_off", "停止", kImgFaceOff},
        {yo, "Sbtn_pulse_on", "启动", kImgFaceOn},
        {yo, "Sbtn_pulse_off", "停止", kImgFaceOff},
    };
    for (const auto& f : kFaces) {
        auto* b = Named<QToolButton>(f.panel, f.name);
        EXPECT_EQ(b->text(), QString::fromUtf8(f.caption)) << f.name;
        const QImage shown =
            b->icon().pixmap(50, 50).toImage().convertToFormat(QImage::Format_ARGB32);
        const QImage face = ImageList50x(f.image).toImage().convertToFormat(QImage::Format_ARGB32);
        EXPECT_FALSE(face.isNull());
        EXPECT_EQ(shown, face) << f.name;
    }
    for (auto [panel, name] :
         {std::pair{xi, "Shape_Counter_DI"}, std::pair{yo, "Shape_Pulse_DO"}}) {
        auto* s = Named<StateShape>(panel, name);
        EXPECT_EQ(s->toolTip(), QStringLiteral("红色：停止；绿色：运行"));
        EXPECT_FALSE(s->property("running").toBool());
        EXPECT_EQ(s->Colour(), StateShape::kStopped);
    }
    for (const char* name : {"Edit_pulse_timeH", "Edit_pulse_timeL", "Edit_pulse_num"})
        EXPECT_EQ(Named<QLineEdit>(yo, name)->text(), "0");
    EXPECT_EQ(Named<QLineEdit>(xi, "Edit_Xi_filter_value")->text(), "0");
    EXPECT_EQ(Named<QLineEdit>(xi, "Edit_Xi_counter_value")->text(), "0");
    EXPECT_TRUE(rig.Yo().Gro_pulse_mode->isHidden());
}

TEST(ChannelPanels, ThePanelSetOwnsTheStepsUnlessGivenSome) {
    ChannelRig rig;
    ASSERT_TRUE(rig.panels.ownChannels);
    EXPECT_EQ(rig.panels.ownChannels->input, rig.panels.Pnl_Xi_type);
    EXPECT_EQ(rig.panels.ownChannels->output, rig.panels.Pnl_Yo_type);

    // A channel panel that goes first is no longer reachable.
    auto steps = rig.panels.ownChannels;
    delete rig.panels.Pnl_Yo_type;
    rig.panels.Pnl_Yo_type = nullptr;
    EXPECT_EQ(steps->output, nullptr);
    EXPECT_EQ(steps->input, rig.panels.Pnl_Xi_type);

    ChannelSteps fakes;
    ModuleContext ctx{rig.master, rig.boxes, nullptr, &fakes};
    QWidget stack;
    ModulePanels own = CreateModulePanels(ctx, &stack);
    EXPECT_FALSE(own.ownChannels);
    EXPECT_EQ(fakes.input, nullptr) << "the caller's steps are left as given";
    EXPECT_NE(own.Pnl_Xi_type, nullptr);
}

}  // namespace
}  // namespace kelm::test
