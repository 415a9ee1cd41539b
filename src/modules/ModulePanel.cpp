#include "modules/ModulePanel.h"

#include <QEvent>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

#include "modbus/ModbusMaster.h"
#include "modules/ConfigTransfer.h"
#include "modules/PanelTexts.h"

namespace kelm {

namespace {
// The stacked page's size in the main window.
constexpr int kPanelWidth = 915;
constexpr int kPanelHeight = 582;
constexpr int kIdentityColumnWidth = 290;
}  // namespace

ModulePanel::ModulePanel(const ModuleContext& ctx, const QString& objectName,
                         std::string_view handlerName, IdentityNames names, QWidget* parent)
    : QWidget(parent), ctx_(ctx), handlerName_(handlerName) {
    setObjectName(objectName);
    resize(kPanelWidth, kPanelHeight);
    identity_ = new ModuleIdentity(ctx_, std::move(names), this);

    auto* row = new QHBoxLayout(this);
    auto* left = new QVBoxLayout;
    identity_->IdentityBox()->setFixedWidth(kIdentityColumnWidth);
    identity_->NewComBox()->setFixedWidth(kIdentityColumnWidth);
    left->addWidget(identity_->IdentityBox());
    left->addWidget(identity_->NewComBox());
    // Below the boxes, where the column is empty: the boxes above keep their
    // places.
    auto* files = new QHBoxLayout;
    saveConfig_ = new QPushButton(this);
    ShowPanelText(saveConfig_, QT_TRANSLATE_NOOP("kelm::Panels", "保存配置..."));
    saveConfig_->setObjectName(QStringLiteral("Btn_SaveConfig"));
    loadConfig_ = new QPushButton(this);
    ShowPanelText(loadConfig_, QT_TRANSLATE_NOOP("kelm::Panels", "载入配置..."));
    loadConfig_->setObjectName(QStringLiteral("Btn_LoadConfig"));
    files->addWidget(saveConfig_);
    files->addWidget(loadConfig_);
    left->addLayout(files);
    left->addStretch(1);
    connect(saveConfig_, &QPushButton::clicked, this, [this] { SaveModuleConfig(this, ctx_); });
    connect(loadConfig_, &QPushButton::clicked, this, [this] { LoadModuleConfig(this, ctx_); });
    row->addLayout(left);
    // The model's own groups are added here by the panel classes.
    menuLayout_ = new QVBoxLayout;
    row->addLayout(menuLayout_, 1);
    replies_.Add(identity_->ReplyRows());
}

void ModulePanel::Default() {
    identity_->Reset();
    ResetModel();
}

const ReplyRow* ModulePanel::Event(std::uint16_t Command, const Frame& Pbuf) {
    // First match wins (ReplyTable::Find). While the line is watched
    // the row is reported before its action runs, since an action may hold a
    // modal box open (or send the next request) for a long while.
    ModbusMaster& master = ctx_.master;
    const std::uint16_t regAddr = master.State().Modbus_Reg_Addr;
    const bool watched = master.FrameObserver() != nullptr;
    auto report = [&](const ReplyRow* row) {
        ReplyRowInfo info;
        info.handler = handlerName_;
        info.command = Command;
        info.regAddr = regAddr;
        info.byteCount = Pbuf[2];
        info.size = Pbuf.size();
        std::string key;
        if (row != nullptr) {
            key = row->Key();
            info.matched = true;
            info.rowKey = key;
            info.rowWhat = row->what;
        }
        master.ReportReplyRow(info);
    };
    const ReplyRow* row = replies_.Find(Command, regAddr, Pbuf);
    if (watched) report(row);
    if (row && row->action) row->action(Pbuf);
    return row;
}

void ModulePanel::retranslate() {
    RetranslatePanelTexts(this);
}

void ModulePanel::changeEvent(QEvent* event) {
    if (event->type() == QEvent::LanguageChange) retranslate();
    QWidget::changeEvent(event);
}

MasterState& ModulePanel::State() const {
    return ctx_.master.State();
}

}  // namespace kelm
