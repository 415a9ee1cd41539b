#include "modules/DoControlMode.h"

#include <QBoxLayout>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>

#include "gui/MessageBoxes.h"
#include "modbus/Bytes.h"
#include "modbus/ModbusMaster.h"
#include "modules/DigitalIo.h"
#include "modules/LampColumn.h"
#include "modules/PanelTexts.h"

namespace kelm {

namespace {
constexpr const char* kConfirmSource = QT_TRANSLATE_NOOP(
    "kelm::Panels", "DO相关位配置为脉冲输出后无法再使用开关量输出命令控制，请确认操作？");
}  // namespace

const QString DoControlMode::kConfirmText = QString::fromUtf8(kConfirmSource);

DoControlMode::DoControlMode(const ModuleContext& ctx, const QString& tag, LampColumn& outputs,
                             const models::Model& model, QWidget* parent)
    : QObject(parent),
      ctx_(ctx),
      outputs_(outputs),
      coils_(ModelItem(model.name, "do")),
      initial_(ModelItem(model.name, "do_init")),
      modeWord_(ModelItem(model.name, "do_mode")) {
    setObjectName(QStringLiteral("DoControlMode") + tag);
    label_ = new QLabel(parent);
    ShowPanelText(label_, QT_TRANSLATE_NOOP("kelm::Panels", "控制模式："));
    list_ = new QComboBox(parent);
    list_->setObjectName(QStringLiteral("Cmb%1_DO_Code_index").arg(tag));
    ShowPanelItems(list_, {QT_TRANSLATE_NOOP("kelm::Panels", "DO单通道控制"),
                           QT_TRANSLATE_NOOP("kelm::Panels", "DO多通道控制"),
                           QT_TRANSLATE_NOOP("kelm::Panels", "DO模式配置"),
                           QT_TRANSLATE_NOOP("kelm::Panels", "DO初始化配置")});
    list_->setCurrentIndex(kSingle);
    label_->setBuddy(list_);

    auto button = [&](const char* name, const char* caption) {
        auto* b = new QPushButton(parent);
        ShowPanelText(b, caption);
        b->setObjectName(QString::fromUtf8(name).arg(tag));
        b->hide();
        return b;
    };
    dosCtrl_ = button("Btn%1_dos_ctrl", QT_TRANSLATE_NOOP("kelm::Panels", "多通道DO控制"));
    doModeRead_ = button("Btn%1_DO_mode_read", QT_TRANSLATE_NOOP("kelm::Panels", "查询DO模式值"));
    doModeSet_ = button("Btn%1_DO_mode_set", QT_TRANSLATE_NOOP("kelm::Panels", "设置DO模式值"));
    infoModeRead_ =
        button("Btn%1_Info_mode_read", QT_TRANSLATE_NOOP("kelm::Panels", "查询DO初始值"));
    infoModeSet_ = button("Btn%1_Info_mode_set", QT_TRANSLATE_NOOP("kelm::Panels", "设置DO初始值"));
    outputs_.SetBoxesVisible(false);
}

void DoControlMode::AddModeRow(QBoxLayout* layout) const {
    auto* row = new QHBoxLayout;
    row->addWidget(label_);
    row->addWidget(list_, 1);
    layout->addLayout(row);
}

void DoControlMode::AddModeButtons(QBoxLayout* layout) const {
    for (QPushButton* b : {dosCtrl_, doModeRead_, doModeSet_, infoModeRead_, infoModeSet_})
        layout->addWidget(b);
}

int DoControlMode::Width() const {
    return outputs_.Count();
}

int DoControlMode::CurrentMode() const {
    return list_->currentIndex();
}

std::uint16_t DoControlMode::Mask() const {
    return Width() >= 16 ? 0xFFFF : static_cast<std::uint16_t>((1u << Width()) - 1);
}

void DoControlMode::ShowModeButtons(int mode) {
    dosCtrl_->setVisible(mode == kMulti);
    doModeRead_->setVisible(mode == kOutputMode);
    doModeSet_->setVisible(mode == kOutputMode);
    infoModeRead_->setVisible(mode == kInitialStates);
    infoModeSet_->setVisible(mode == kInitialStates);
}

void DoControlMode::ModeChange() {
    outputs_.UntickBoxes();
    outputs_.SetBoxesVisible(true);
    ShowModeButtons(-1);
    const int mode = CurrentMode();
    if (mode == kSingle) outputs_.SetBoxesVisible(false);
    ShowModeButtons(mode);
}

void DoControlMode::Reset() {
    // By program: the change handler does not run, so the ticks stay.
    list_->setCurrentIndex(kSingle);
    outputs_.SetBoxesVisible(false);
    ShowModeButtons(-1);
}

std::uint16_t DoControlMode::BoxWord() const {
    return static_cast<std::uint16_t>(outputs_.BoxWord() & Mask());
}

bool DoControlMode::SwitchOutput(int ch, bool pressed) {
    if (CurrentMode() != kSingle) return false;
    WriteCoil(ctx_.master, coils_, ch, pressed);
    return true;
}

void DoControlMode::WriteOutputs() {
    WriteCoils(ctx_.master, coils_, BoxWord());
}

void DoControlMode::ReadModeWords() {
    // One read brings both words (registers 6 and 7).
    ReadItem(ctx_.master, modeWord_);
}

bool DoControlMode::WriteOutputModeWord() {
    if (!ctx_.boxes.Confirm(NoticeTitle(), PanelTr(kConfirmSource))) return false;
    ctx_.master.Modbus_Send_oneWord(kFcWriteRegister, modeWord_.first, BoxWord());
    return true;
}

void DoControlMode::WriteInitialStates() {
    ctx_.master.Modbus_Send_oneWord(kFcWriteRegister, initial_.first, BoxWord());
}

std::uint16_t DoControlMode::ModeWordsReply(const Frame& Pbuf) {
    // The initial states, then the mode word, from byte 3 on; an 8-output
    // module uses the low bytes only.
    const std::size_t start = modeWord_.read.start;
    const std::uint16_t initial =
        static_cast<std::uint16_t>(Pbuf.word(3 + 2 * (initial_.first - start)) & Mask());
    if (CurrentMode() == kInitialStates) outputs_.SetBoxes(initial);
    const std::uint16_t modeWord =
        static_cast<std::uint16_t>(Pbuf.word(3 + 2 * (modeWord_.first - start)) & Mask());
    if (CurrentMode() == kOutputMode) outputs_.SetBoxes(modeWord);
    return modeWord;
}

}  // namespace kelm
