#pragma once
// Base of the seven module panels: the stacked right-hand page of one model.
// At its left the identity and new-parameter boxes (ModuleIdentity); at its
// right the model's own groups, which each panel class adds to MenuLayout().
#include <QString>
#include <QWidget>
#include <cstdint>
#include <string_view>

#include "modules/ModuleContext.h"
#include "modules/ModuleIdentity.h"

class QVBoxLayout;

namespace kelm {

class Frame;

class ModulePanel : public QWidget {
    Q_OBJECT
  public:
    // objectName is the panel name ("Pnl_8AD"); handlerName is the reply
    // handler's name under which the master routes replies ("KELM_8AD_Event").
    ModulePanel(const ModuleContext& ctx, const QString& objectName, std::string_view handlerName,
                IdentityNames names, QWidget* parent = nullptr);

    // The panel's reset routine (Pnl8AD_Default and siblings); navigation runs
    // it before showing the panel. Begins with the identity reset.
    virtual void Default() = 0;
    // The panel's reply handler (KELM_8AD_Event and siblings).
    virtual void Event(std::uint16_t Command, const Frame& Pbuf) = 0;

    std::string_view HandlerName() const { return handlerName_; }
    ModuleIdentity& Identity() { return *identity_; }
    const ModuleIdentity& Identity() const { return *identity_; }

    // Navigation's step after the reset: model name and address text into the
    // identity box.
    void SetDeviceFields(const QString& modelName, const QString& addressText) {
        identity_->SetDeviceFields(modelName, addressText);
    }

  protected:
    // Where the model's own groups go (right of the identity boxes).
    QVBoxLayout* MenuLayout() const { return menuLayout_; }
    const ModuleContext& Context() const { return ctx_; }

  private:
    ModuleContext ctx_;
    std::string_view handlerName_;
    ModuleIdentity* identity_ = nullptr;
    QVBoxLayout* menuLayout_ = nullptr;
};

}  // namespace kelm
