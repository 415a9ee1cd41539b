#include "app/QtMessageBoxes.h"

#include <QApplication>
#include <QMessageBox>

namespace kelm {

namespace {
QMessageBox::Icon toQt(MsgIcon icon) {
    switch (icon) {
        case MsgIcon::Information:
            return QMessageBox::Information;
        case MsgIcon::Warning:
            return QMessageBox::Warning;
        case MsgIcon::Question:
            return QMessageBox::Question;
        case MsgIcon::Critical:
            return QMessageBox::Critical;
        case MsgIcon::None:
            break;
    }
    return QMessageBox::NoIcon;
}
}  // namespace

bool QtMessageBoxes::Show(const QString& title, const QString& text, MsgIcon icon,
                          MsgButtons buttons) {
    QWidget* parent = owner_ && owner_->isVisible() ? owner_.data() : nullptr;
    QMessageBox box(
        toQt(icon), title, text,
        buttons == MsgButtons::OkCancel ? QMessageBox::Ok | QMessageBox::Cancel : QMessageBox::Ok,
        parent);
    box.setObjectName(QStringLiteral("KelmMessageBox"));
    box.setWindowFlag(Qt::WindowStaysOnTopHint, true);
    box.setDefaultButton(QMessageBox::Ok);
    if (buttons == MsgButtons::OkCancel) box.setEscapeButton(QMessageBox::Cancel);
    const int result = box.exec();
    return result == QMessageBox::Ok;
}

void QtMessageBoxes::ReportConversionError(const QString& text) {
    Show(QApplication::applicationDisplayName().isEmpty() ? QStringLiteral("KELM-Utility")
                                                          : QApplication::applicationDisplayName(),
         text, MsgIcon::Critical, MsgButtons::Ok);
}

}  // namespace kelm
