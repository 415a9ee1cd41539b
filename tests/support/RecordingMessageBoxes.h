#pragma once
// Test double for IMessageBoxes: records every box and answers confirmations
// from a queue (OK when the queue is empty).
#include <deque>
#include <vector>

#include "gui/MessageBoxes.h"

namespace kelm::test {

struct RecordedBox {
    QString title;
    QString text;
    MsgIcon icon = MsgIcon::None;
    MsgButtons buttons = MsgButtons::Ok;
    bool conversionError = false;
};

class RecordingMessageBoxes : public IMessageBoxes {
public:
    bool Show(const QString& title, const QString& text, MsgIcon icon,
              MsgButtons buttons) override {
        boxes.push_back({title, text, icon, buttons, false});
        if (buttons == MsgButtons::Ok) return true;
        if (answers.empty()) return true;
        bool ok = answers.front();
        answers.pop_front();
        return ok;
    }
    void ReportConversionError(const QString& text) override {
        boxes.push_back({QString(), text, MsgIcon::Critical, MsgButtons::Ok, true});
    }

    // The next confirmation boxes answer these, in order (true = OK).
    std::deque<bool> answers;
    std::vector<RecordedBox> boxes;

    bool Has(const QString& title, const QString& text) const {
        for (const auto& b : boxes)
            if (b.title == title && b.text == text) return true;
        return false;
    }
    void Clear() { boxes.clear(); }
};

}  // namespace kelm::test
