#pragma once
// Base of the seven module panels: the stacked right-hand page of one model.
// At its left the identity and new-parameter boxes (ModuleIdentity) and the
// configuration-file buttons; at its right the model's own groups, which each
// panel class adds to MenuLayout().
//
// The base fixes the order every panel follows: the reset runs the identity
// reset first, then the model's own (ResetModel); the reply table holds the
// identity rows first, then the model's rows (AddReplyRows). Each panel keeps
// its specified names as the entry points a reader looks for
// (Pnl8I8T_Default, KELM_8I8T_Event), which call Default and Event.
#include <QString>
#include <QWidget>
#include <cstdint>
#include <string_view>
#include <vector>

#include "modules/ModuleContext.h"
#include "modules/ModuleIdentity.h"
#include "modules/ReplyTable.h"

class QPushButton;
class QVBoxLayout;

namespace kelm {

class Frame;
struct MasterState;

class ModulePanel : public QWidget {
    Q_OBJECT
  public:
    // objectName is the panel name ("Pnl_8AD"); handlerName is the reply
    // handler's name under which the master routes replies ("KELM_8AD_Event").
    ModulePanel(const ModuleContext& ctx, const QString& objectName, std::string_view handlerName,
                IdentityNames names, QWidget* parent = nullptr);

    // The whole reset routine: the identity reset, then the model's own.
    // Navigation runs it before showing the panel.
    void Default();
    // The whole reply handler: the first row of the table that matches runs;
    // a reply that matches none is ignored. Returns the row, or nullptr.
    // While the master is watched, which row took the reply (or that none
    // did) is reported through it.
    const ReplyRow* Event(std::uint16_t Command, const Frame& Pbuf);

    std::string_view HandlerName() const { return handlerName_; }
    // The mode index each channel's values are shown in now (-1: none), for
    // panels whose values depend on a mode (analog inputs and outputs);
    // empty for the others.
    virtual std::vector<int> ChannelModes() const { return {}; }
    ModuleIdentity& Identity() { return *identity_; }
    const ModuleIdentity& Identity() const { return *identity_; }
    const ReplyTable& Replies() const { return replies_; }
    // "保存配置..." and "载入配置...": the module's configuration file
    // (modules/ConfigTransfer.h), under the identity boxes.
    QPushButton* SaveConfigButton() const { return saveConfig_; }
    QPushButton* LoadConfigButton() const { return loadConfig_; }

    // Navigation's step after the reset: model name and address text into the
    // identity box.
    void SetDeviceFields(const QString& modelName, const QString& addressText) {
        identity_->SetDeviceFields(modelName, addressText);
    }

    // Every text of the panel again in the language chosen now; run on each
    // change of language.
    virtual void retranslate();

  protected:
    void changeEvent(QEvent* event) override;

    // The model's own reset steps, after the identity reset.
    virtual void ResetModel() = 0;
    // The model's own reply rows, after the identity rows; called from the
    // panel's constructor once its controls exist.
    void AddReplyRows(std::vector<ReplyRow> rows) { replies_.Add(std::move(rows)); }

    // Where the model's own groups go (right of the identity boxes).
    QVBoxLayout* MenuLayout() const { return menuLayout_; }
    const ModuleContext& Context() const { return ctx_; }
    MasterState& State() const;

  private:
    ModuleContext ctx_;
    std::string_view handlerName_;
    ModuleIdentity* identity_ = nullptr;
    QVBoxLayout* menuLayout_ = nullptr;
    QPushButton* saveConfig_ = nullptr;
    QPushButton* loadConfig_ = nullptr;
    ReplyTable replies_;
};

}  // namespace kelm
