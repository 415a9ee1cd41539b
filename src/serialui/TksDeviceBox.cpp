#include "serialui/TksDeviceBox.h"

#include <QMetaObject>
#include <QPointer>
#include <QThread>
#include <exception>

namespace kelm {

TksDeviceBox::TksDeviceBox(QWidget* parent) : QComboBox(parent) {
    setEditable(false);  // list only, no free text
    // activated is raised for user choices only; selecting by program is
    // not a change.
    connect(this, qOverload<int>(&QComboBox::activated), this, &TksDeviceBox::Change);
}

TksDeviceBox::~TksDeviceBox() {
    Unbind();
}

void TksDeviceBox::Unbind() {
    if (!fComm) return;
    fComm->NotifyDelete(MakeNotifyEvent(this, &TksDeviceBox::DoNotify));
    RemoveFreeNotification(fComm);
    fComm = nullptr;
}

void TksDeviceBox::SetksComm(TksBaseIO* Value) {
    clear();
    fItems.clear();
    setCurrentIndex(-1);
    // A component left behind keeps no listener pointing at this box: it
    // would call into a destroyed box later.
    if (fComm && fComm != Value) Unbind();
    if (Value) {
        TksDeviceList list;
        Value->GetDeviceList(&list);
        for (const auto& item : list) {
            addItem(QString::fromStdString(item.Text));
            fItems.push_back(item.Device);
        }
        setCurrentIndex(Value->DeviceIndex());
        Value->NotifyAdd(MakeNotifyEvent(this, &TksDeviceBox::DoNotify));
        FreeNotification(Value);
    }
    fComm = Value;
}

void TksDeviceBox::Reload() {
    SetksComm(fComm);
}

std::shared_ptr<TksDevice> TksDeviceBox::Device(int Index) const {
    if (Index < 0 || Index >= static_cast<int>(fItems.size())) return nullptr;
    return fItems[static_cast<std::size_t>(Index)];
}

bool TksDeviceBox::WMDeviceChange(uint32_t wParam, uint32_t deviceType) {
    return fComm ? fComm->WMDeviceChange(wParam, deviceType) : false;
}

void TksDeviceBox::DoNotify(TksComponent* /*Sender*/, int Code) {
    if (Code != csDeviceIdChanged) return;
    if (QThread::currentThread() != thread()) {
        QPointer<TksDeviceBox> self(this);
        QMetaObject::invokeMethod(
            this,
            [self] {
                if (self) self->Reload();
            },
            Qt::QueuedConnection);
        return;
    }
    Reload();
}

void TksDeviceBox::Notification(TksComponent* AComponent, TOperation Operation) {
    if (Operation == TOperation::opRemove && AComponent != nullptr && AComponent == fComm) {
        // The component is going: forget it without touching it; the items stay.
        fComm = nullptr;
        setCurrentIndex(-1);
    }
}

void TksDeviceBox::Change(int index) {
    if (!fComm) return;
    // Rebinding during the selection (the component's notice) clears and
    // refills the items; the index chosen is what counts.
    try {
        fComm->SetDeviceIndex(index);
    } catch (const std::exception& e) {
        // An open port that cannot be reopened on the new number: the user
        // is told, and the list shows the port the component has now.
        if (IExecutor* ex = ApplicationExecutor()) ex->ShowError("Error", e.what());
        Reload();
        return;
    }
    if (OnChange) OnChange(this);
    emit changed(index);
}

}  // namespace kelm
