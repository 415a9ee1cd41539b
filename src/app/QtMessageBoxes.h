#pragma once
// IMessageBoxes on QMessageBox: modal, kept on top of every window, with the
// caller's title, text, icon and buttons.
#include <QPointer>
#include <QWidget>

#include "gui/MessageBoxes.h"

namespace kelm {

class QtMessageBoxes final : public IMessageBoxes {
  public:
    // Boxes are centred over `owner` when it is shown, else on the screen.
    explicit QtMessageBoxes(QWidget* owner = nullptr) : owner_(owner) {}
    void SetOwner(QWidget* owner) { owner_ = owner; }

    bool Show(const QString& title, const QString& text, MsgIcon icon, MsgButtons buttons) override;
    // The toolkit's general error report: a critical box titled with the
    // program's name; the action that failed has already stopped.
    void ReportConversionError(const QString& text) override;

  private:
    QPointer<QWidget> owner_;
};

}  // namespace kelm
