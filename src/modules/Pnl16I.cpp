#include "modules/Pnl16I.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

#include "modbus/Bytes.h"
#include "modbus/ModbusMaster.h"
#include "modules/ChannelSteps.h"
#include "modules/DigitalIo.h"
#include "modules/LampColumn.h"
#include "modules/PanelTexts.h"

namespace kelm {

namespace {
const models::Item& Item(std::string_view key) {
    return ModelItem("KELM-16I", key);
}
}  // namespace

TPnl16I::TPnl16I(const ModuleContext& ctx, QWidget* parent)
    : ModulePanel(ctx, QStringLiteral("Pnl_16I"), "KELM_16I_Event",
                  IdentityNames{QStringLiteral("16i"), QStringLiteral("16i"),
                                QStringLiteral("GroupBox9"), QStringLiteral("SpeedButton37"),
                                QT_TRANSLATE_NOOP("kelm::Panels", "查询版本信息"),
                                QT_TRANSLATE_NOOP("kelm::Panels", "更新参数"),
                                ConfirmNewParameters::OnAnyWrite16},
                  parent) {
    Gro16i_menu = new QGroupBox(this);
    Gro16i_menu->setObjectName(QStringLiteral("Gro16i_menu"));
    auto* row = new QHBoxLayout(Gro16i_menu);
    inputs_ = new LampColumn(
        {QStringLiteral("Spb16i_di"), QStringLiteral("DI"), 4, QString(), kInputs, false},
        Gro16i_menu);
    row->addWidget(inputs_, 0, Qt::AlignTop);
    row->addSpacing(16);
    auto* controls = new QVBoxLayout;
    Btn16i_dis_read = new QPushButton(Gro16i_menu);
    ShowPanelText(Btn16i_dis_read, QT_TRANSLATE_NOOP("kelm::Panels", "查询DI状态"));
    Btn16i_dis_read->setObjectName(QStringLiteral("Btn16i_dis_read"));
    controls->addWidget(Btn16i_dis_read);
    controls->addStretch(1);
    row->addLayout(controls, 1);
    MenuLayout()->addWidget(Gro16i_menu, 1);

    connect(Btn16i_dis_read, &QPushButton::clicked, this, [this] { Btn16i_dis_readClick(); });

    IMessageBoxes& boxes = Context().boxes;
    AddReplyRows({
        StatesRow(Item("di"), "input states",
                  [this](std::uint8_t i, bool on) { Dis_16idi_Status(i, on); }),
        ReadRow(Item("di_filter"), "filter times",
                [this](const Frame& Pbuf) {
                    if (auto* s = InputSteps(Context())) s->FilterReply(Pbuf);
                }),
        ReadRow(Item("di_count_run"), "counting state",
                [this](const Frame& Pbuf) {
                    if (auto* s = InputSteps(Context())) s->CountingReply(Pbuf);
                }),
        InformationEcho(boxes, &Item("di_filter"), "filter time written",
                        QT_TRANSLATE_NOOP("kelm::Panels", "DI开关量输入滤波时间配置成功！")),
        ItemEcho(kFcWriteRegister, Item("di_count_run"), "counting confirmation",
                 [this](const Frame&) {
                     if (auto* s = InputSteps(Context())) s->CountingConfirmation();
                 }),
    });
}

void TPnl16I::Pnl16I_Default() {
    Default();
}

void TPnl16I::ResetModel() {
    inputs_->AllLampsOff();
}

void TPnl16I::KELM_16I_Event(std::uint16_t Command, const Frame& Pbuf) {
    Event(Command, Pbuf);
}

void TPnl16I::Dis_16idi_Status(std::uint8_t index, bool flag) {
    inputs_->SetLamp(index, flag);
}

void TPnl16I::Btn16i_dis_readClick() {
    for (int ch = 0; ch < kInputs; ++ch) Dis_16idi_Status(static_cast<std::uint8_t>(ch), false);
    ReadItem(Context().master, Item("di"));
}

}  // namespace kelm
