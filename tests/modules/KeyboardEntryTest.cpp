// The channel panels' numeric boxes against the key events a real keyboard
// sends (each key with the text X11 gives it: "\x7f" for Delete, "\t" for Tab,
// "\r" for Enter) and the text an input method commits. Typed characters
// other than digits are discarded; keys that type no character keep working.
#include <gtest/gtest.h>

#include <QApplication>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>
#include <functional>
#include <ostream>

#include "ModuleRig.h"

namespace kelm::test {
namespace {

// A key press and release as the window system delivers them.
void Press(QLineEdit* box, int key, const QString& text,
           Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QKeyEvent press(QEvent::KeyPress, key, modifiers, text);
    QApplication::sendEvent(box, &press);
    QKeyEvent release(QEvent::KeyRelease, key, modifiers, text);
    QApplication::sendEvent(box, &release);
}

void Commit(QLineEdit* box, const QString& text, int replaceFrom = 0, int replaceLength = 0) {
    QInputMethodEvent event;
    event.setCommitString(text, replaceFrom, replaceLength);
    QApplication::sendEvent(box, &event);
}

struct Box {
    const char* name;
    std::function<QLineEdit*(ModuleRig&)> get;
};

const Box kBoxes[] = {
    {"Edit_Xi_filter_value",
     [](ModuleRig& r) { return r.panels.Pnl_Xi_type->Edit_Xi_filter_value; }},
    {"Edit_pulse_timeH", [](ModuleRig& r) { return r.panels.Pnl_Yo_type->Edit_pulse_timeH; }},
    {"Edit_pulse_timeL", [](ModuleRig& r) { return r.panels.Pnl_Yo_type->Edit_pulse_timeL; }},
    {"Edit_pulse_num", [](ModuleRig& r) { return r.panels.Pnl_Yo_type->Edit_pulse_num; }},
};

// Named in test listings by the box.
void PrintTo(const Box& box, std::ostream* os) {
    *os << box.name;
}

class KeyboardEntry : public ::testing::TestWithParam<Box> {
  protected:
    ModuleRig rig;
    QLineEdit* box = nullptr;

    void SetUp() override {
        box = GetParam().get(rig);
        ASSERT_TRUE(box);
        ASSERT_EQ(box->objectName(), GetParam().name);
        // The box's panel on screen, so that focus can move.
        rig.stack.resize(900, 600);
        rig.stack.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&rig.stack));
        // The pulse group may be hidden: show the box's whole line of parents.
        QWidget* panel = nullptr;
        for (QWidget* w = box; w && w != &rig.stack; w = w->parentWidget()) {
            panel = w;
            w->show();
        }
        ASSERT_TRUE(panel);
        panel->raise();
        rig.stack.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&rig.stack));
        box->setFocus();
        ASSERT_TRUE(box->hasFocus());
        box->setText(QStringLiteral("123"));
    }
};

TEST_P(KeyboardEntry, TypedCharactersOtherThanDigitsAreDiscarded) {
    box->setCursorPosition(3);
    struct Key {
        int key;
        const char* text;
    };
    const Key keys[] = {
        {Qt::Key_A, "a"},        {Qt::Key_5, "5"},      {Qt::Key_Minus, "-"},
        {Qt::Key_Space, " "},    {Qt::Key_Period, "."}, {Qt::Key_Plus, "+"},
        {Qt::Key_0, "0"},        {Qt::Key_E, "E"},      {Qt::Key_unknown, "滤"},
        {Qt::Key_unknown, "５"},  // full-width: not one of ours
    };
    for (const Key& k : keys) Press(box, k.key, QString::fromUtf8(k.text));
    EXPECT_EQ(box->text(), "12350");
    // A shift-typed letter is still a letter.
    Press(box, Qt::Key_B, QStringLiteral("B"), Qt::ShiftModifier);
    EXPECT_EQ(box->text(), "12350");
}

TEST_P(KeyboardEntry, KeysThatTypeNoCharacterKeepWorking) {
    Press(box, Qt::Key_Home, QString());
    Press(box, Qt::Key_Delete, QStringLiteral("\x7f"));
    EXPECT_EQ(box->text(), "23") << "Delete";
    Press(box, Qt::Key_End, QString());
    Press(box, Qt::Key_Backspace, QStringLiteral("\x08"));
    EXPECT_EQ(box->text(), "2") << "Backspace";
    Press(box, Qt::Key_4, QStringLiteral("4"));
    Press(box, Qt::Key_Left, QString());
    Press(box, Qt::Key_Delete, QStringLiteral("\x7f"));
    EXPECT_EQ(box->text(), "2");
    Press(box, Qt::Key_Left, QString());
    Press(box, Qt::Key_9, QStringLiteral("9"));
    EXPECT_EQ(box->text(), "92") << "the arrow moved the cursor";

    QSignalSpy returned(box, &QLineEdit::returnPressed);
    Press(box, Qt::Key_Return, QStringLiteral("\r"));
    Press(box, Qt::Key_Enter, QStringLiteral("\r"), Qt::KeypadModifier);
    EXPECT_EQ(returned.count(), 2) << "Enter";

    Press(box, Qt::Key_Tab, QStringLiteral("\t"));
    EXPECT_FALSE(box->hasFocus()) << "Tab leaves the box";
    box->setFocus();
    ASSERT_TRUE(box->hasFocus());
    Press(box, Qt::Key_Backtab, QString(), Qt::ShiftModifier);
    EXPECT_FALSE(box->hasFocus()) << "Shift+Tab leaves the box";
    EXPECT_EQ(box->text(), "92");
}

TEST_P(KeyboardEntry, InputMethodCommitsKeepOnlyTheirDigits) {
    box->setCursorPosition(3);
    Commit(box, QStringLiteral("滤波ab"));
    EXPECT_EQ(box->text(), "123");
    Commit(box, QStringLiteral("4五6"));
    EXPECT_EQ(box->text(), "12346");
    Commit(box, QStringLiteral("78"));
    EXPECT_EQ(box->text(), "1234678");
    // A commit that replaces text before the cursor keeps its replacement.
    Commit(box, QStringLiteral("x9"), -2, 2);
    EXPECT_EQ(box->text(), "123469");
}

INSTANTIATE_TEST_SUITE_P(ChannelBoxes, KeyboardEntry, ::testing::ValuesIn(kBoxes),
                         [](const ::testing::TestParamInfo<Box>& info) {
                             return std::string(info.param.name);
                         });

// The named key handlers are what the boxes run: each keeps digits and
// Backspace and discards every other character.
TEST(KeyboardEntryHandlers, NamedHandlersKeepDigitsAndBackspaceOnly) {
    ModuleRig rig;
    TPnlXiType& xi = *rig.panels.Pnl_Xi_type;
    TPnlYoType& yo = *rig.panels.Pnl_Yo_type;
    const std::function<void(QChar&)> handlers[] = {
        [&](QChar& k) { xi.Edit_Xi_filter_valueKeyPress(k); },
        [&](QChar& k) { yo.Edit_pulse_timeHKeyPress(k); },
        [&](QChar& k) { yo.Edit_pulse_timeLKeyPress(k); },
        [&](QChar& k) { yo.Edit_pulse_numKeyPress(k); },
    };
    for (const auto& h : handlers) {
        for (char16_t c : u"0123456789\b") {
            if (c == 0) continue;
            QChar k(c);
            h(k);
            EXPECT_EQ(k, QChar(c));
        }
        for (char16_t c : u"a-+ .E滤５") {
            if (c == 0) continue;
            QChar k(c);
            h(k);
            EXPECT_TRUE(k.isNull()) << int(c);
        }
    }
}

}  // namespace
}  // namespace kelm::test
