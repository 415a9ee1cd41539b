// The identity and new-parameter family on each of the seven panels: names
// and captions, the requests byte for byte, the replies shown or ignored, the
// confirmation, and the reset.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QToolButton>
#include <memory>

#include "ModuleRig.h"
#include "modbus/CommFormats.h"

namespace kelm::test {
namespace {

struct PanelCase {
    const char* model;  // a model the panel serves
    const char* panel;
    const char* tag;
    const char* toggleTag;
    const char* identityBox;
    const char* queryButton;
    const char* queryCaption;
    const char* writeCaption;
    const char* handler;
    bool anyWriteConfirms;
};

const PanelCase kCases[] = {
    {"KELM-8I8T", "Pnl_8I8T", "8i8t", "8i8t", "GroupBox1", "SpeedButton3", "查询版本信息",
     "更新参数", "KELM_8I8T_Event", false},
    {"KELM-16I", "Pnl_16I", "16i", "16i", "GroupBox9", "SpeedButton37", "查询版本信息", "更新参数",
     "KELM_16I_Event", true},
    {"KELM-16T", "Pnl_16T", "16t", "16t", "GroupBox15", "SpeedButton71", "查询版本信息", "更新参数",
     "KELM_16T_Event", false},
    {"KELM-8RY", "Pnl_8RY", "8R", "8r", "Gro_slaveinfo", "SpeedButton1", "查询版本信息", "更新参数",
     "KELM_8R_Event", true},
    {"KELM-2AO", "Pnl_2AO", "2AO", "2AO", "GroupBo2AO", "SpeedButton5", "查询版本信息", "更新参数",
     "KELM_2AO_Event", false},
    {"KELM-8AD", "Pnl_8AD", "8AD", "8AD", "GroupBo8AD", "SpeedButton2", "查询设备信息", "设置参数",
     "KELM_8AD_Event", false},
    {"KELM-8AS", "Pnl_8AS", "8AS", "8AS", "GroupBo8AS", "SpeedButton6", "查询设备信息", "设置参数",
     "KELM_8AS_Event", false},
    {"KELM-8ASP", "Pnl_8AS", "8AS", "8AS", "GroupBo8AS", "SpeedButton6", "查询设备信息", "设置参数",
     "KELM_8AS_Event", false},
};

QString Q(const char* s) {
    return QString::fromUtf8(s);
}

class IdentityFamily : public ::testing::TestWithParam<PanelCase> {
  protected:
    ModuleRig rig;
    const PanelCase& c = GetParam();
    ModulePanel* panel = nullptr;

    void SetUp() override {
        panel = rig.Select(c.model, 1);
        ASSERT_NE(panel, nullptr);
    }

    template <class T>
    T* Find(const QString& name) const {
        T* w = panel->findChild<T*>(name);
        EXPECT_NE(w, nullptr) << name.toStdString();
        return w;
    }
    QString N(const char* pattern, bool toggleTag = false) const {
        return Q(pattern).arg(Q(toggleTag ? c.toggleTag : c.tag));
    }
    QLineEdit* Hardware() const { return Find<QLineEdit>(N("Edit%1_hardware")); }
    QLineEdit* Software() const { return Find<QLineEdit>(N("Edit%1_software")); }
    QToolButton* Toggle() const { return Find<QToolButton>(N("Spb%1_newcom_info", true)); }
    QGroupBox* Box() const { return Find<QGroupBox>(N("Gro%1_new_comset", true)); }
    QComboBox* Formats() const { return Find<QComboBox>(N("Cmb%1_new1com_index")); }
    QComboBox* Addresses() const { return Find<QComboBox>(N("Cmb%1_new1slave_addr")); }
    QComboBox* Protocols() const { return Find<QComboBox>(N("Cmb%1_new1comXY")); }
    QPushButton* Write() const { return Find<QPushButton>(N("Btn%1_newcom_set")); }

    // The user picks a protocol entry (keyboard on the closed list, which
    // runs the change handler as a mouse choice does).
    void UserPicksProtocol(int index) {
        QComboBox* p = Protocols();
        p->setFocus();
        while (p->currentIndex() < index) QTest::keyClick(p, Qt::Key_Down);
        while (p->currentIndex() > index) QTest::keyClick(p, Qt::Key_Up);
    }
    void ExpectFormats(bool ascii) {
        ASSERT_EQ(Formats()->count(), 16);
        for (int i = 0; i < 16; ++i)
            EXPECT_EQ(Formats()->itemText(i).toStdString(), CommFormatLabel(i, ascii)) << i;
    }
};

TEST_P(IdentityFamily, NamesCaptionsAndInitialState) {
    EXPECT_EQ(panel->objectName(), Q(c.panel));
    EXPECT_EQ(panel->HandlerName(), c.handler);
    EXPECT_NE(Find<QGroupBox>(Q(c.identityBox)), nullptr);
    for (const char* edit :
         {"Edit%1_device_name", "Edit%1_hardware", "Edit%1_software", "Edit%1_slave_addr"})
        EXPECT_FALSE(Find<QLineEdit>(N(edit))->isEnabled()) << edit;
    EXPECT_EQ(Find<QLineEdit>(N("Edit%1_device_name"))->text(), Q(c.model));
    EXPECT_EQ(Find<QLineEdit>(N("Edit%1_slave_addr"))->text(), "1");
    EXPECT_EQ(Find<QToolButton>(Q(c.queryButton))->text(), Q(c.queryCaption));
    EXPECT_EQ(Box()->title(), Q("新通讯参数"));
    EXPECT_EQ(Write()->text(), Q(c.writeCaption));
    ASSERT_EQ(Protocols()->count(), 2);
    EXPECT_EQ(Protocols()->itemText(1), "ASCII");
    ASSERT_EQ(Addresses()->count(), 247);
    EXPECT_EQ(Addresses()->itemText(246), "247");

    // The toggle opens and closes the box and sends nothing.
    EXPECT_TRUE(Box()->isHidden());
    Toggle()->click();
    EXPECT_EQ(Toggle()->text(), Q("更新通讯参数<<"));
    EXPECT_FALSE(Box()->isHidden());
    Toggle()->click();
    EXPECT_EQ(Toggle()->text(), Q("更新通讯参数>>"));
    EXPECT_TRUE(Box()->isHidden());
    EXPECT_TRUE(rig.sink.frames.empty());
}

TEST_P(IdentityFamily, VersionQueryRtuAndAsciiShowTwoUpperCaseHexDigits) {
    Hardware()->setText("XX");
    Software()->setText("YY");
    Find<QToolButton>(Q(c.queryButton))->click();
    EXPECT_TRUE(Hardware()->text().isEmpty());
    EXPECT_TRUE(Software()->text().isEmpty());
    EXPECT_EQ(rig.LastSent(), (ByteString{0x01, 0x03, 0x00, 0x00, 0x00, 0x03, 0x05, 0xCB}));
    EXPECT_EQ(rig.St().Modbus_Reg_Addr, 0);

    // High bytes and register 0 are not looked at; a low byte of 5 shows 05.
    rig.Receive({0x01, 0x03, 0x06, 0x00, 0x0A, 0x12, 0xA1, 0x00, 0x05});
    EXPECT_EQ(Hardware()->text(), "A1");
    EXPECT_EQ(Software()->text(), "05");
    EXPECT_TRUE(rig.boxes.boxes.empty());

    rig.protocol.index = kProtocolAscii;
    Find<QToolButton>(Q(c.queryButton))->click();
    const std::string expected = ":010300000003F9\r\n";
    EXPECT_EQ(rig.LastSent(), ByteString(expected.begin(), expected.end()));
    rig.Receive({0x01, 0x03, 0x06, 0x00, 0x10, 0x00, 0xB2, 0x00, 0xF0});
    EXPECT_EQ(Hardware()->text(), "B2");
    EXPECT_EQ(Software()->text(), "F0");
}

TEST_P(IdentityFamily, VersionRepliesThatMustBeIgnored) {
    Find<QToolButton>(Q(c.queryButton))->click();
    // Byte count other than 6.
    rig.Receive({0x01, 0x03, 0x04, 0x00, 0x0A, 0x00, 0xA1});
    // A frame that claims six data bytes and carries four (its check is valid).
    rig.Receive({0x01, 0x03, 0x06, 0x00, 0x0A, 0x00, 0xA1});
    // Exception reply.
    rig.Receive({0x01, 0x83, 0x02});
    // From another address.
    rig.Receive({0x02, 0x03, 0x06, 0x00, 0x0A, 0x00, 0xA1, 0x00, 0xA2});
    // Right bytes, broken check.
    ByteString bad = rig.Wire({0x01, 0x03, 0x06, 0x00, 0x0A, 0x00, 0xA1, 0x00, 0xA2});
    bad.back() ^= 0x01;
    rig.ReceiveRaw(bad);
    EXPECT_TRUE(Hardware()->text().isEmpty());
    EXPECT_TRUE(Software()->text().isEmpty());

    // A version reply judged against a later request's register is not one.
    rig.master.Modbus_Send_oneWord(3, 6, 2);
    rig.Receive({0x01, 0x03, 0x06, 0x00, 0x0A, 0x00, 0xA1, 0x00, 0xA2});
    EXPECT_TRUE(Hardware()->text().isEmpty());
    EXPECT_TRUE(rig.boxes.boxes.empty());
}

TEST_P(IdentityFamily, ProtocolChangeRefillsFormatsOnlyOnUserChoice) {
    Toggle()->click();
    // A selection by program does not run the change handler.
    Protocols()->setCurrentIndex(1);
    ExpectFormats(false);
    EXPECT_EQ(Formats()->currentIndex(), 3);
    Protocols()->setCurrentIndex(0);

    UserPicksProtocol(1);
    ExpectFormats(true);
    EXPECT_EQ(Formats()->currentText(), "1200/7/2/None");
    UserPicksProtocol(0);
    ExpectFormats(false);
    EXPECT_EQ(Formats()->currentText(), "1200/8/2/None");
    EXPECT_TRUE(rig.sink.frames.empty());
}

TEST_P(IdentityFamily, WriteNewParametersAndConfirmation) {
    Toggle()->click();
    Addresses()->setCurrentIndex(4);  // "5"
    Write()->click();
    EXPECT_EQ(rig.LastSent(), (ByteString{0x01, 0x10, 0x00, 0x03, 0x00, 0x03, 0x06, 0x00, 0x03,
                                          0x00, 0x05, 0x00, 0x52, 0xC3, 0x73}));
    EXPECT_EQ(rig.St().Modbus_Reg_Addr, 3);
    EXPECT_TRUE(rig.boxes.boxes.empty());  // no confirmation before sending

    // The acknowledgement shows the confirmation, and nothing else follows.
    rig.Receive({0x01, 0x10, 0x00, 0x03, 0x00, 0x03});
    ASSERT_EQ(rig.boxes.boxes.size(), 1u);
    EXPECT_EQ(rig.boxes.boxes[0].title, Q("提示"));
    EXPECT_EQ(rig.boxes.boxes[0].text, Q("通讯参数配置成功！"));
    EXPECT_EQ(rig.boxes.boxes[0].icon, MsgIcon::Information);
    EXPECT_EQ(rig.boxes.boxes[0].buttons, MsgButtons::Ok);
    EXPECT_EQ(rig.St().Node_Device_ID, 1);
    EXPECT_EQ(Find<QLineEdit>(N("Edit%1_slave_addr"))->text(), "1");

    UserPicksProtocol(1);
    Formats()->setCurrentIndex(11);
    ASSERT_EQ(Formats()->currentText(), "9600/7/1/Even");
    Addresses()->setCurrentIndex(246);
    rig.St().Node_Device_ID = 9;
    Write()->click();
    // The host still speaks RTU: the frame follows the host, the data the choice.
    EXPECT_EQ(rig.LastSent(), FrameRtu({0x09, 0x10, 0x00, 0x03, 0x00, 0x03, 0x06, 0x00, 0x0B, 0x00,
                                        0xF7, 0x00, 0x41}));
}

TEST_P(IdentityFamily, OtherFunction16RepliesConfirmOnlyWhereNoOtherWriteExists) {
    // A function-16 write of another register (as the model groups make).
    rig.master.Modbus_Send_Buf(16, 6, 2, 4, ByteString{0x00, 0x01, 0x00, 0x02});
    rig.Receive({0x01, 0x10, 0x00, 0x06, 0x00, 0x02});
    EXPECT_EQ(rig.boxes.Has(Q("提示"), Q("通讯参数配置成功！")), c.anyWriteConfirms);
}

TEST_P(IdentityFamily, ResetClosesTheBoxAndRestoresTheChoices) {
    Toggle()->click();
    UserPicksProtocol(1);
    Formats()->setCurrentIndex(9);
    Addresses()->setCurrentIndex(100);
    Hardware()->setText("A1");
    Software()->setText("B2");

    panel->Default();
    EXPECT_TRUE(Box()->isHidden());
    EXPECT_EQ(Toggle()->text(), Q("更新通讯参数>>"));
    ExpectFormats(false);
    EXPECT_EQ(Formats()->currentText(), "9600/8/2/None");
    EXPECT_EQ(Addresses()->currentText(), "1");
    EXPECT_EQ(Protocols()->currentText(), "RTU");
    for (const char* edit :
         {"Edit%1_device_name", "Edit%1_hardware", "Edit%1_software", "Edit%1_slave_addr"})
        EXPECT_TRUE(Find<QLineEdit>(N(edit))->text().isEmpty()) << edit;
    EXPECT_TRUE(rig.sink.frames.empty());
}

INSTANTIATE_TEST_SUITE_P(AllPanels, IdentityFamily, ::testing::ValuesIn(kCases),
                         [](const auto& info) {
                             std::string n = info.param.model;
                             for (char& ch : n)
                                 if (ch == '-') ch = '_';
                             return n;
                         });

TEST(ModulePanels, ReplyReachesOnlyTheSelectedModelsPanel) {
    ModuleRig rig;
    rig.Select("KELM-16T", 5);
    rig.panels.Pnl_16T->Identity().QueryClick();
    // Navigating to a port node keeps the module's address and model.
    rig.Receive({0x05, 0x03, 0x06, 0x00, 0x0C, 0x00, 0xA3, 0x00, 0xA4});
    EXPECT_EQ(rig.panels.Pnl_16T->Identity().EditHardware()->text(), "A3");
    for (ModulePanel* p : rig.panels.All())
        if (p != rig.panels.Pnl_16T) {
            EXPECT_TRUE(p->Identity().EditHardware()->text().isEmpty());
        }
}

TEST(ModulePanels, SelectingAnotherModuleClosesAnOpenBox) {
    ModuleRig rig;
    ModulePanel* p = rig.Select("KELM-8AD", 3);
    p->Identity().NewComInfoClick();
    p->Identity().CmbSlaveAddr()->setCurrentIndex(7);
    rig.Select("KELM-8AD", 4);
    EXPECT_TRUE(p->Identity().NewComBox()->isHidden());
    EXPECT_EQ(p->Identity().CmbSlaveAddr()->currentText(), "1");
    EXPECT_EQ(p->Identity().EditSlaveAddr()->text(), "4");
}

TEST(ModulePanels, AnEmptyAddressListSendsNothing) {
    ModuleRig rig;
    ModulePanel* p = rig.Select("KELM-2AO", 2);
    p->Identity().CmbSlaveAddr()->clear();
    p->Identity().NewComSetClick();
    EXPECT_TRUE(rig.sink.frames.empty());
    ASSERT_EQ(rig.boxes.boxes.size(), 1u);
    EXPECT_TRUE(rig.boxes.boxes[0].conversionError);
    // The start-up fill puts the list back.
    p->Identity().FillSlaveAddrList();
    p->Identity().NewComSetClick();
    EXPECT_EQ(rig.sink.frames.size(), 1u);
}

TEST(ModulePanels, ADestroyedPanelNoLongerReceives) {
    ModuleRig rig;
    rig.Select("KELM-16I", 1);
    delete rig.panels.Pnl_16I;
    rig.panels.Pnl_16I = nullptr;
    rig.master.Modbus_Send_oneWord(3, 0, 3);
    rig.Receive({0x01, 0x10, 0x00, 0x03, 0x00, 0x03});
    EXPECT_TRUE(rig.boxes.boxes.empty());
    EXPECT_TRUE(rig.St().Recv_Str.empty());
}

TEST(CommFormats, LabelsInCodeOrder) {
    EXPECT_EQ(CommFormatLabel(7, false), "115200/8/2/None");
    EXPECT_EQ(CommFormatLabel(8, false), "1200/8/1/Even");
    EXPECT_EQ(CommFormatLabel(15, true), "115200/7/1/Even");
    EXPECT_EQ(CommFormatLabel(16, true), "");
}

}  // namespace
}  // namespace kelm::test
