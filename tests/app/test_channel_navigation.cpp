// Level-3 navigation over a real tty: a channel node of a digital module runs
// its channel panel's reset, captions the panel's group and brings it to the
// front; the output panel's reset puts its mode read on the line.
#include <poll.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QGroupBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QTest>
#include <QToolButton>

#include "WindowFixture.h"
#include "modules/ChannelParts.h"
#include "serial/posix/Pty.h"

using namespace kelm;
using namespace kelm::test;

class ChannelNavigation : public WindowFixture {
  protected:
    void SetUp() override {
        WindowFixture::SetUp();
        Publish(5, pty_.SlavePath());
        pty_.HoldSlaveOpen();
        MakeWindow();
        OpenPort(5);
        port_ = PortNamed(5);
        m8i8t_ = AddModule(port_, "KELM-8I8T(3)", Channels("DI", 8) + Channels("DO", 8));
        m16i_ = AddModule(port_, "KELM-16I(2)", Channels("DI", 16));
        m16t_ = AddModule(port_, "KELM-16T(5)", Channels("DO", 16));
        m8ry_ = AddModule(port_, "KELM-8RY(7)");
        new QTreeWidgetItem(m8ry_, {"X0"});
        Drain();
    }

    // What reached the module's end of the line within `ms` (ends early once
    // `expect` bytes have come).
    ByteString Line(std::size_t expect, int ms = 3000) {
        ByteString got;
        QElapsedTimer t;
        t.start();
        while (got.size() < expect && t.elapsed() < ms) {
            QTest::qWait(10);
            pollfd p{pty_.MasterFd(), POLLIN, 0};
            while (poll(&p, 1, 0) > 0 && (p.revents & POLLIN)) {
                std::uint8_t buf[256];
                const ssize_t n = read(pty_.MasterFd(), buf, sizeof buf);
                if (n <= 0) break;
                got.insert(got.end(), buf, buf + n);
            }
        }
        return got;
    }
    void Drain() { Line(1, 50); }

    TPnlXiType& Xi() { return *W().Pnl_Xi_type; }
    TPnlYoType& Yo() { return *W().Pnl_Yo_type; }

    posix::Pty pty_;
    QTreeWidgetItem* port_ = nullptr;
    QTreeWidgetItem* m8i8t_ = nullptr;
    QTreeWidgetItem* m16i_ = nullptr;
    QTreeWidgetItem* m16t_ = nullptr;
    QTreeWidgetItem* m8ry_ = nullptr;
};

TEST_F(ChannelNavigation, ChannelNodesResetCaptionAndShowTheirPanel) {
    EXPECT_EQ(W().Gro_Xi_mode, Xi().Gro_Xi_mode);
    EXPECT_EQ(W().Gro_Yo_mode, Yo().Gro_Yo_mode);
    EXPECT_EQ(W().PanelStack->indexOf(W().Pnl_Xi_type) >= 0, true);
    EXPECT_EQ(W().PanelStack->indexOf(W().Pnl_Yo_type) >= 0, true);

    struct {
        QTreeWidgetItem* module;
        int child;
        bool input;
        const char* caption;
        std::uint8_t address;
        const char* model;
    } const kNodes[] = {
        {m8i8t_, 8, false, "KELM-8I8T(3):DO0", 3, "KELM-8I8T"},
        {m8i8t_, 15, false, "KELM-8I8T(3):DO7", 3, "KELM-8I8T"},
        {m8i8t_, 0, true, "KELM-8I8T(3):DI0", 3, "KELM-8I8T"},
        {m8i8t_, 7, true, "KELM-8I8T(3):DI7", 3, "KELM-8I8T"},
        {m16i_, 5, true, "KELM-16I(2):DI5", 2, "KELM-16I"},
        {m16t_, 15, false, "KELM-16T(5):DO15", 5, "KELM-16T"},
        {m16t_, 0, false, "KELM-16T(5):DO0", 5, "KELM-16T"},
    };
    for (const auto& n : kNodes) {
        // Leave traces of an earlier channel on both panels.
        Xi().Edit_Xi_filter_value->setText("321");
        Xi().Edit_Xi_counter_value->setText("9");
        Xi().Shape_Counter_DI->SetRunning(true);
        Yo().ShowOutputMode(true);
        Yo().Edit_pulse_timeH->setText("77");
        Yo().RaB_pulse_num_out->setChecked(true);
        Yo().Shape_Pulse_DO->SetRunning(true);
        Select(n.module);  // the module panel between two channel nodes
        Drain();

        Select(n.module->child(n.child));
        const std::string what = n.caption;
        EXPECT_EQ(St().Node_Device_ID, n.address) << what;
        EXPECT_EQ(St().Node_Device_Name, n.model) << what;
        EXPECT_EQ(St().Node_DeviceChild_Index, n.child) << what;
        if (n.input) {
            EXPECT_EQ(W().PanelStack->currentWidget(), W().Pnl_Xi_type) << what;
            EXPECT_EQ(W().Gro_Xi_mode->title(), n.caption);
            EXPECT_EQ(Xi().Edit_Xi_filter_value->text(), "0") << what;
            EXPECT_EQ(Xi().Edit_Xi_counter_value->text(), "0") << what;
            EXPECT_FALSE(Xi().Shape_Counter_DI->IsRunning()) << what;
            EXPECT_TRUE(Line(1, 200).empty()) << what << ": nothing is read automatically";
            EXPECT_EQ(Yo().Edit_pulse_timeH->text(), "77") << "the other panel is left alone";
        } else {
            EXPECT_EQ(W().PanelStack->currentWidget(), W().Pnl_Yo_type) << what;
            EXPECT_EQ(W().Gro_Yo_mode->title(), n.caption);
            EXPECT_TRUE(Yo().Gro_pulse_mode->isHidden()) << what;
            EXPECT_FALSE(Yo().RaB_Yo_pulse->isChecked()) << what;
            EXPECT_FALSE(Yo().RaB_pulse_num_out->isChecked()) << what;
            EXPECT_EQ(Yo().Edit_pulse_timeH->text(), "0") << what;
            EXPECT_FALSE(Yo().Shape_Pulse_DO->IsRunning()) << what;
            // The mode read, to the module's address.
            const ByteString expected =
                n.address == 3 ? ByteString{0x03, 0x03, 0x00, 0x06, 0x00, 0x02, 0x25, 0xE8}
                               : ByteString{0x05, 0x03, 0x00, 0x06, 0x00, 0x02, 0x25, 0x8E};
            EXPECT_EQ(Line(expected.size()), expected) << what;
            EXPECT_EQ(St().Modbus_Reg_Addr, 6) << what;
            EXPECT_EQ(Xi().Edit_Xi_filter_value->text(), "321") << "the other panel is left alone";
        }
    }
}

TEST_F(ChannelNavigation, NodesNoChannelPanelServesLeaveThePanelsAsTheyAre) {
    Select(m16i_->child(3));
    Xi().Edit_Xi_filter_value->setText("321");
    Drain();

    // A child of a model without channel panels.
    Select(m8ry_->child(0));
    EXPECT_EQ(St().Node_Device_ID, 7);
    EXPECT_EQ(St().Node_Device_Name, "KELM-8RY");
    EXPECT_EQ(W().PanelStack->currentWidget(), W().Pnl_Xi_type);
    EXPECT_EQ(W().Gro_Xi_mode->title(), "KELM-16I(2):DI3");
    EXPECT_EQ(Xi().Edit_Xi_filter_value->text(), "321");

    // A seventeenth node under a sixteen-channel module names no channel.
    auto* stray = new QTreeWidgetItem(m16t_, {"DO16"});
    Select(m16i_->child(3));
    Xi().Edit_Xi_filter_value->setText("321");
    Drain();
    Select(stray);
    EXPECT_EQ(St().Node_DeviceChild_Index, 3) << "the last channel stays selected";
    EXPECT_EQ(W().PanelStack->currentWidget(), W().Pnl_Xi_type);
    EXPECT_EQ(Xi().Edit_Xi_filter_value->text(), "321");
    EXPECT_TRUE(Line(1, 200).empty());
}
