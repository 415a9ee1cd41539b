#pragma once
// The one way the GUI talks to the user through modal boxes. The application
// implements it with topmost QMessageBoxes; tests use a recording double
// (tests/support/RecordingMessageBoxes.h) and check boxes by title and text.
#include <QCoreApplication>
#include <QString>

namespace kelm {

// The title of every notice, confirmation and refusal box: "提示" (in the
// window's language).
inline QString NoticeTitle() {
    return QCoreApplication::translate("kelm::MessageBoxes", "提示");
}

enum class MsgIcon { None, Information, Warning, Question, Critical };
enum class MsgButtons { Ok, OkCancel };

class IMessageBoxes {
  public:
    virtual ~IMessageBoxes() = default;

    // Shows a modal box kept on top of all windows. Returns true when the user
    // pressed OK (always true for an OK-only box).
    virtual bool Show(const QString& title, const QString& text, MsgIcon icon,
                      MsgButtons buttons) = 0;

    // The toolkit's general error report for a conversion that failed (for
    // example an empty numeric entry box); the action that hit it stops.
    virtual void ReportConversionError(const QString& text) = 0;

    // Convenience forms used by most panels.
    void Information(const QString& title, const QString& text) {
        Show(title, text, MsgIcon::Information, MsgButtons::Ok);
    }
    void Warning(const QString& title, const QString& text) {
        Show(title, text, MsgIcon::Warning, MsgButtons::Ok);
    }
    bool Confirm(const QString& title, const QString& text) {
        return Show(title, text, MsgIcon::Question, MsgButtons::OkCancel);
    }
};

}  // namespace kelm
