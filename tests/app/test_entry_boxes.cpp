// Every numeric entry box of the window against what a keyboard and a
// clipboard can put into it: letters, a paste of letters, a minus sign, an
// empty box, numbers past the conversion range, and each edge of the
// accepted range. Whatever the box ends up holding, the action it belongs to
// must give the box's warning or the general error report, or do its work;
// nothing invalid may reach the line (read on the pseudo-terminals), and the
// window goes on. The boxes are rows of one table; a new box is a new row.
#include <fcntl.h>
#include <unistd.h>

#include <QClipboard>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QToolButton>
#include <filesystem>
#include <functional>
#include <limits>
#include <optional>
#include <set>

#include "WindowFixture.h"
#include "host/TFMserching.h"
#include "modbus/Checks.h"
#include "modules/PnlXiType.h"
#include "modules/PnlYoType.h"
#include "serial/EnumPorts.h"
#include "serial/posix/Pty.h"

using namespace kelm;
using namespace kelm::test;

namespace {

// The two ports of the sweep, at the edges of the port numbers the host
// panel accepts; the machine's own ports are kept out of the list.
constexpr unsigned kLowPort = 1;
constexpr unsigned kHighPort = 65535;
std::vector<PortMapValue> gPorts;

class SweepPorts : public PortSource {
  public:
    std::vector<PortMapValue> ReadPortMap() override { return gPorts; }
    std::vector<PortDeviceRecord> DeviceRecords(bool) override {
        std::vector<PortDeviceRecord> out;
        for (const auto& p : gPorts) {
            PortDeviceRecord r;
            r.PortName = p.ValueName;
            r.Description = "sweep pty";
            out.push_back(r);
        }
        return out;
    }
};

// What a box's action does with the text it finds.
struct Outcome {
    enum Kind { Warning, ErrorReport } kind = Warning;
    const char* title = "";
    const char* text = "";
};

// The integer a box's conversion makes of its text: decimal digits with an
// optional minus sign, within the conversion's range (32 or 64 bits signed).
std::optional<long long> Convert(const QString& text, int bits) {
    bool ok = false;
    const long long v = bits == 64 ? text.toLongLong(&ok) : text.toInt(&ok);
    if (!ok || text.isEmpty() || text.trimmed() != text) return std::nullopt;
    return v;
}

}  // namespace

class EntryBoxes;

namespace {

// One numeric entry box and the action that uses it.
struct EntryBox {
    const char* name;
    // The user can type into it; when false, only the program fills it (the
    // port number comes from the selected port node).
    bool typed;
    int conversionBits;  // 32: an integer; 64: a 64-bit integer
    long long lo, hi;    // the accepted range
    Outcome outOfRange;
    Outcome notANumber;  // empty, not a number, past the conversion range
    // Brings the box up with its port open where it needs one.
    std::function<QLineEdit*(EntryBoxes&)> open;
    // Runs the action the box belongs to.
    std::function<void(EntryBoxes&)> commit;
    // Checks that an accepted value v did its work (on the line, where it
    // sends something), then puts the window back for the next case.
    std::function<void(EntryBoxes&, long long v)> accepted;
    // Undoes what open did.
    std::function<void(EntryBoxes&)> close;
};

// One thing a user does to a box: typed keys, or a paste.
struct Entry {
    const char* what;
    QString text;
    bool paste = false;
};

}  // namespace

class EntryBoxes : public WindowFixture {
  public:
    // For the rows of the table.
    using WindowFixture::AddModule;
    using WindowFixture::Channels;
    using WindowFixture::Host;
    using WindowFixture::OpenPort;
    using WindowFixture::PortNamed;
    using WindowFixture::Select;
    using WindowFixture::St;
    using WindowFixture::W;

    void SetUp() override {
        WindowFixture::SetUp();
        low_.HoldSlaveOpen();
        high_.HoldSlaveOpen();
        gPorts = {{low_.SlavePath(), "COM" + std::to_string(kLowPort)},
                  {high_.SlavePath(), "COM" + std::to_string(kHighPort)}};
        SetPortSourceFactory([] { return std::make_unique<SweepPorts>(); });
        MakeWindow();
    }
    void TearDown() override {
        scan_.reset();
        WindowFixture::TearDown();
        SetPortSourceFactory({});
    }

    // Everything the window wrote to either port since the last call.
    ByteString Line() {
        ByteString out;
        for (posix::Pty* p : {&low_, &high_}) {
            std::uint8_t buf[256];
            ssize_t n;
            while ((n = ::read(p->MasterFd(), buf, sizeof buf)) > 0)
                out.insert(out.end(), buf, buf + n);
        }
        return out;
    }
    // Waits up to ms for `want` on the line; true when exactly that came.
    bool LineGets(const ByteString& want, int ms) {
        ByteString got;
        WaitUntil(
            [&] {
                const ByteString more = Line();
                got.insert(got.end(), more.begin(), more.end());
                return got.size() >= want.size();
            },
            ms);
        return got == want;
    }
    // True when nothing reaches the line for ms.
    bool LineQuiet(int ms) {
        QTest::qWait(ms);
        return Line().empty();
    }

    void Run(const EntryBox& box);

    posix::Pty low_, high_;
    std::unique_ptr<TFMserching> scan_;
};

namespace {

const Outcome kPortMissing{Outcome::Warning, "警告", "串口不存在或被占用！"};
const Outcome kScanInterval{Outcome::Warning, "提示", "扫描间隔区间500-5000ms！"};
const Outcome kGeneralError{Outcome::ErrorReport, "", ""};
const Outcome kFilterRange{Outcome::Warning, "提示", "滤波时间值为100-10000！"};
const Outcome kPulseTimeRange{Outcome::Warning, "提示", "脉冲输出电平时间范围2-65535！"};
const Outcome kPulseCountRange{Outcome::Warning, "提示", "脉冲输出数量范围0-4294967295！"};

// The channel boxes work on channel 5 of a KELM-16I at address 1 and on
// channel 2 of a KELM-16T at address 1, both on the low port.
constexpr int kInputChannel = 5;
constexpr int kOutputChannel = 2;

QTreeWidgetItem* ChannelNode(EntryBoxes& t, const char* module, const char* prefix, int ch);

QLineEdit* OpenInputChannel(EntryBoxes& t) {
    if (!t.W().ksComm1().Active()) t.OpenPort(kLowPort);
    t.Select(ChannelNode(t, "KELM-16I(1)", "DI", kInputChannel));
    return t.W().Pnl_Xi_type->Edit_Xi_filter_value;
}

// The output panel shows its pulse group once the module reports a pulse
// output; the reply is stood in for, the mode read it asks for is not
// answered on the sweep's line.
TPnlYoType& OpenOutputChannel(EntryBoxes& t) {
    if (!t.W().ksComm1().Active()) t.OpenPort(kLowPort);
    t.Select(ChannelNode(t, "KELM-16T(1)", "DO", kOutputChannel));
    TPnlYoType& yo = *t.W().Pnl_Yo_type;
    yo.ShowOutputMode(true);
    return yo;
}

ByteString WriteOne(std::uint16_t reg, long long v) {
    return FrameRtu({0x01, 0x06, static_cast<std::uint8_t>(reg >> 8),
                     static_cast<std::uint8_t>(reg), static_cast<std::uint8_t>(v >> 8),
                     static_cast<std::uint8_t>(v)});
}

// The identity request of the scan's first poll, address 1, RTU.
const ByteString kScanRequestAddress1 = {0x01, 0x03, 0x00, 0x00, 0x00, 0x03, 0x05, 0xCB};

const EntryBox kBoxes[] = {
    {"Edit_COM_Num", false, 32, kLowPort, kHighPort, kPortMissing, kPortMissing,
     [](EntryBoxes& t) {
         t.Select(t.PortNamed(kLowPort));
         return t.Host().Edit_COM_Num;
     },
     [](EntryBoxes& t) { t.Host().Sbtn_com_open->click(); },
     [](EntryBoxes& t, long long v) {
         // The port of that number is open; opening sends nothing.
         EXPECT_TRUE(t.W().ksComm1().Active());
         EXPECT_EQ(t.W().ksComm1().ComPortNo(), v);
         EXPECT_EQ(t.Host().Sbtn_com_open->text(), QStringLiteral("关闭串口"));
         t.Host().Sbtn_com_open->click();
         EXPECT_FALSE(t.W().ksComm1().Active());
         EXPECT_TRUE(t.LineQuiet(100));
     },
     [](EntryBoxes&) {}},
    {"Edit_scan_time", true, 32, 500, 5000, kScanInterval, kGeneralError,
     [](EntryBoxes& t) {
         if (!t.W().ksComm1().Active()) t.OpenPort(kLowPort);
         t.scan_ = std::make_unique<TFMserching>(t.W().MakeScanContext(), &t.W());
         t.scan_->show();
         return t.scan_->findChild<QLineEdit*>("Edit_scan_time");
     },
     [](EntryBoxes& t) { t.scan_->findChild<QPushButton*>("Btn_start")->click(); },
     [](EntryBoxes& t, long long v) {
         // The first poll goes out one interval later.
         EXPECT_TRUE(t.scan_->Timer_scan()->isActive());
         EXPECT_EQ(t.scan_->Timer_scan()->interval(), v);
         EXPECT_TRUE(t.St().Scan_Device_Flag);
         EXPECT_TRUE(t.LineGets(kScanRequestAddress1, static_cast<int>(v) + 3000));
         t.scan_->findChild<QPushButton*>("Btn_stop")->click();
     },
     [](EntryBoxes& t) {
         t.scan_->reject();
         t.scan_.reset();
         EXPECT_FALSE(t.St().Scan_Device_Flag);
     }},
    {"Edit_Xi_filter_value", true, 32, 100, 10000, kFilterRange, kGeneralError, OpenInputChannel,
     [](EntryBoxes& t) { t.W().Pnl_Xi_type->Btn_Xi_filter_set->click(); },
     [](EntryBoxes& t, long long v) {
         EXPECT_TRUE(t.LineGets(WriteOne(6 + kInputChannel, v), 3000));
     },
     [](EntryBoxes&) {}},
    {"Edit_pulse_timeH", true, 32, 2, 65535, kPulseTimeRange, kGeneralError,
     [](EntryBoxes& t) { return OpenOutputChannel(t).Edit_pulse_timeH; },
     [](EntryBoxes& t) { t.W().Pnl_Yo_type->Btn_pulse_timeON_set->click(); },
     [](EntryBoxes& t, long long v) {
         EXPECT_TRUE(t.LineGets(WriteOne(8 + kOutputChannel, v), 3000));
     },
     [](EntryBoxes&) {}},
    {"Edit_pulse_timeL", true, 32, 2, 65535, kPulseTimeRange, kGeneralError,
     [](EntryBoxes& t) { return OpenOutputChannel(t).Edit_pulse_timeL; },
     [](EntryBoxes& t) { t.W().Pnl_Yo_type->Btn_pulse_timeOFF_set->click(); },
     [](EntryBoxes& t, long long v) {
         EXPECT_TRUE(t.LineGets(WriteOne(24 + kOutputChannel, v), 3000));
     },
     [](EntryBoxes&) {}},
    {"Edit_pulse_num", true, 64, 0, 4294967295LL, kPulseCountRange, kGeneralError,
     [](EntryBoxes& t) {
         TPnlYoType& yo = OpenOutputChannel(t);
         yo.RaB_pulse_num_out->click();
         return yo.Edit_pulse_num;
     },
     [](EntryBoxes& t) { t.W().Pnl_Yo_type->Sbtn_pulse_on->click(); },
     [](EntryBoxes& t, long long v) {
         const std::uint16_t reg = 56 + 2 * kOutputChannel;
         const ByteString want =
             FrameRtu({0x01, 0x10, 0x00, static_cast<std::uint8_t>(reg), 0x00, 0x02, 0x04,
                       static_cast<std::uint8_t>(v >> 24), static_cast<std::uint8_t>(v >> 16),
                       static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v)});
         EXPECT_TRUE(t.LineGets(want, 3000));
         EXPECT_EQ(t.St().DIDO_Button_Status, 3);
         t.St().DIDO_Button_Status = 0;
     },
     [](EntryBoxes&) {}},
};

QTreeWidgetItem* ChannelNode(EntryBoxes& t, const char* module, const char* prefix, int ch) {
    QTreeWidgetItem* port = t.PortNamed(kLowPort);
    for (int i = 0; i < port->childCount(); ++i)
        if (port->child(i)->text(0) == QLatin1String(module)) return port->child(i)->child(ch);
    return t.AddModule(port, QString::fromLatin1(module), t.Channels(prefix, 16))->child(ch);
}

std::vector<Entry> EntriesFor(const EntryBox& b) {
    const auto n = [](long long v) { return QString::number(v); };
    return {
        {"letters", QStringLiteral("abc")},
        {"pasted letters", QStringLiteral("x1y"), true},
        {"pasted digits", n(b.lo), true},
        {"a minus sign", QStringLiteral("-") + n(b.lo)},
        {"a pasted minus sign", QStringLiteral("-") + n(b.lo), true},
        {"blanks and an exponent", QStringLiteral(" 1e3 ")},
        {"an empty box", QString()},
        {"the largest 32-bit number", n(std::numeric_limits<std::int32_t>::max())},
        {"past the 32-bit range", QStringLiteral("2147483648")},
        {"past the 64-bit range", QStringLiteral("99999999999999999999")},
        {"below the range", n(b.lo - 1)},
        {"the lowest value", n(b.lo)},
        {"the highest value", n(b.hi)},
        {"above the range", n(b.hi + 1)},
    };
}

}  // namespace

void EntryBoxes::Run(const EntryBox& box) {
    for (const Entry& e : EntriesFor(box)) {
        SCOPED_TRACE(std::string(box.name) + ", " + e.what + ": \"" + e.text.toStdString() + "\"");
        QLineEdit* edit = box.open(*this);
        ASSERT_TRUE(edit);
        ASSERT_EQ(edit->objectName(), box.name);
        (void)Line();
        boxes_.Clear();

        // The user's way in: clear the box, then type or paste.
        const QString before = edit->text();
        edit->setFocus();
        QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(edit, Qt::Key_Backspace);
        if (e.paste) {
            QGuiApplication::clipboard()->setText(e.text);
            QTest::keyClick(edit, Qt::Key_V, Qt::ControlModifier);
        } else {
            QTest::keyClicks(edit, e.text);
        }
        if (box.typed) {
            // Digits and Backspace only: whatever else was typed is refused.
            // A paste may bring other characters into a box; then its
            // conversion must refuse them below.
            if (!e.paste) {
                QString digits;
                for (QChar c : e.text)
                    if (c.isDigit()) digits += c;
                EXPECT_EQ(edit->text(), digits);
            }
        } else {
            // Not the user's to edit: the keyboard changes nothing, and the
            // program fills it, as the selected port node does.
            EXPECT_EQ(edit->text(), before);
            edit->setText(e.text);
        }

        const QString held = edit->text();
        const std::optional<long long> v = Convert(held, box.conversionBits);
        box.commit(*this);
        if (v && *v >= box.lo && *v <= box.hi) {
            EXPECT_TRUE(boxes_.boxes.empty()) << boxes_.boxes[0].text.toStdString();
            box.accepted(*this, *v);
        } else {
            const Outcome& o = v ? box.outOfRange : box.notANumber;
            ASSERT_EQ(boxes_.boxes.size(), 1u) << "held \"" << held.toStdString() << "\"";
            const RecordedBox& r = boxes_.boxes[0];
            if (o.kind == Outcome::ErrorReport) {
                EXPECT_TRUE(r.conversionError);
                EXPECT_FALSE(r.text.isEmpty());
            } else {
                EXPECT_FALSE(r.conversionError);
                EXPECT_EQ(r.title, QString::fromUtf8(o.title));
                EXPECT_EQ(r.text, QString::fromUtf8(o.text));
                EXPECT_EQ(r.icon, MsgIcon::Warning);
            }
            // Nothing goes out, not even a poll one shortest interval later.
            EXPECT_TRUE(LineQuiet(700)) << "held \"" << held.toStdString() << "\"";
        }
        box.close(*this);
        EXPECT_TRUE(W().isVisible());
    }
}

TEST_F(EntryBoxes, PortNumber) {
    // Failed and successful opens leave no descriptor behind (counted once
    // the event loop has run, which sets up what it needs on first use).
    const auto fds = [] {
        return std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                             std::filesystem::directory_iterator{});
    };
    QTest::qWait(20);
    const auto before = fds();
    Run(kBoxes[0]);
    EXPECT_EQ(fds(), before);
}

TEST_F(EntryBoxes, ScanInterval) {
    Run(kBoxes[1]);
}

TEST_F(EntryBoxes, InputFilterTime) {
    Run(kBoxes[2]);
}

TEST_F(EntryBoxes, PulseOnTime) {
    Run(kBoxes[3]);
}

TEST_F(EntryBoxes, PulseOffTime) {
    Run(kBoxes[4]);
}

TEST_F(EntryBoxes, PulseCount) {
    Run(kBoxes[5]);
}

TEST_F(EntryBoxes, EveryNumericBoxOfTheWindowIsARow) {
    // A numeric entry box the window has but the table lacks would escape
    // the sweep.
    std::set<std::string> rows;
    for (const EntryBox& b : kBoxes) rows.insert(b.name);
    TFMserching scan(W().MakeScanContext(), &W());
    for (const char* name : {"Edit_COM_Num", "Edit_scan_time", "Edit_Xi_filter_value",
                             "Edit_pulse_timeH", "Edit_pulse_timeL", "Edit_pulse_num"}) {
        const bool present = W().findChild<QLineEdit*>(name) != nullptr ||
                             scan.findChild<QLineEdit*>(name) != nullptr;
        if (present) {
            EXPECT_TRUE(rows.count(name)) << name << " has no row";
        }
    }
    EXPECT_EQ(rows.size(), std::size(kBoxes));
}
