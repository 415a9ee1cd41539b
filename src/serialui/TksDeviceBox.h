#pragma once
// The port selector: a list-only drop-down bound to an I/O component, showing
// the component's device list (the port list) and selecting the component's
// current port. Choosing an entry sets the component's DeviceIndex (for the
// serial component: its ComPortNo); every reload of the component's list, every
// change of its port and every selection rebuilds the items through the
// component's csDeviceIdChanged notice.
//
// GUI thread only. Notices the component raises on another thread are
// handed to the widget's thread.
#include <QComboBox>
#include <functional>
#include <memory>
#include <vector>

#include "serial/ksBaseIO.h"

namespace kelm {

class TksDeviceBox : public QComboBox, public TksComponent {
    Q_OBJECT
  public:
    explicit TksDeviceBox(QWidget* parent = nullptr);
    ~TksDeviceBox() override;

    // The bound component, or nullptr.
    TksBaseIO* ksComm() const { return fComm; }
    void SetksComm(TksBaseIO* Value);
    // Stored and reported; nothing acts on it.
    bool ResetOnChanged() const { return fReset; }
    void SetResetOnChanged(bool Value) { fReset = Value; }

    // Binds to the current component again (items rebuilt, current port
    // selected).
    void Reload();

    // The record behind item Index (shared with the component's list), or
    // nullptr.
    std::shared_ptr<TksDevice> Device(int Index) const;

    // Passes a device-change notice to the bound component; true when it
    // reloaded its list.
    bool WMDeviceChange(uint32_t wParam, uint32_t deviceType);

    // The ordinary change event of the list, raised after a user selection
    // has reached the bound component.
    std::function<void(TksDeviceBox* Sender)> OnChange;

    // The listener registered with the component.
    void DoNotify(TksComponent* Sender, int Code);

    void Notification(TksComponent* AComponent, TOperation Operation) override;

  signals:
    // Qt form of OnChange.
    void changed(int index);

  protected:
    // A user selection (not one made by the program).
    virtual void Change(int index);

  private:
    void Unbind();

    TksBaseIO* fComm = nullptr;
    bool fReset = false;
    std::vector<std::shared_ptr<TksDevice>> fItems;
};

}  // namespace kelm
