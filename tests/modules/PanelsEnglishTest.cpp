// The module panels in English: every text each of the nine panels shows
// (hidden ones too), the boxes a sweep of their actions brings up, the texts
// built from parts, a switch there and back at run time, and the labels of
// the model description that the panels list.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QComboBox>
#include <QCoreApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QToolButton>
#include <QTranslator>
#include <map>
#include <memory>
#include <set>

#include "ModuleRig.h"
#include "models/ModelMap.h"
#include "modules/AnalogInputPanel.h"
#include "modules/PanelTexts.h"

namespace kelm::test {
namespace {

// Chinese characters and the full-width punctuation that goes with them
// ("：", "！", "、").
bool HasChinese(const QString& text) {
    for (QChar c : text) {
        const char16_t u = c.unicode();
        if ((u >= 0x3000 && u <= 0x303F) || (u >= 0x3400 && u <= 0x4DBF) ||
            (u >= 0x4E00 && u <= 0x9FFF) || (u >= 0xF900 && u <= 0xFAFF) ||
            (u >= 0xFF00 && u <= 0xFFEF))
            return true;
    }
    return false;
}

// Every text a widget and its descendants show, hidden or not, keyed by
// where it is ("Pnl_8AD/Btn8AD_Mode_Read:text").
std::map<QString, QString> ShownTexts(QWidget* root) {
    std::map<QString, QString> texts;
    QList<QWidget*> all = root->findChildren<QWidget*>();
    all.prepend(root);
    int anonymous = 0;
    auto insideList = [root](QWidget* w) {
        for (QWidget* p = w->parentWidget(); p && p != root; p = p->parentWidget())
            if (qobject_cast<QComboBox*>(p)) return true;
        return false;
    };
    for (QWidget* w : all) {
        // A list's popup shows the list's own items, read below.
        if (insideList(w)) continue;
        QString where =
            root->objectName() + QLatin1Char('/') +
            (w->objectName().isEmpty() ? QStringLiteral("%1#%2")
                                             .arg(QString::fromLatin1(w->metaObject()->className()))
                                             .arg(anonymous++)
                                       : w->objectName());
        auto put = [&](const char* what, const QString& t) {
            if (!t.isEmpty()) texts[where + QLatin1Char(':') + QLatin1String(what)] = t;
        };
        put("toolTip", w->toolTip());
        put("windowTitle", w->windowTitle());
        if (auto* l = qobject_cast<QLabel*>(w)) put("text", l->text());
        if (auto* b = qobject_cast<QAbstractButton*>(w)) put("text", b->text());
        if (auto* g = qobject_cast<QGroupBox*>(w)) put("title", g->title());
        if (auto* e = qobject_cast<QLineEdit*>(w)) {
            put("text", e->text());
            put("placeholder", e->placeholderText());
        }
        if (auto* c = qobject_cast<QComboBox*>(w))
            for (int i = 0; i < c->count(); ++i)
                texts[where + QStringLiteral(":item%1").arg(i)] = c->itemText(i);
    }
    return texts;
}

class PanelsEnglish : public ::testing::Test {
  protected:
    ModuleRig rig;

    void TearDown() override { Chinese(); }

    // The language changes the way the program changes it: a translator
    // installed or removed, then the change events delivered.
    void English() {
        if (translator_) return;
        translator_ = std::make_unique<QTranslator>();
        ASSERT_TRUE(translator_->load(QStringLiteral(":/i18n/modules_en.qm")));
        ASSERT_TRUE(QCoreApplication::installTranslator(translator_.get()));
        QCoreApplication::sendPostedEvents();
    }
    void Chinese() {
        if (!translator_) return;
        QCoreApplication::removeTranslator(translator_.get());
        translator_.reset();
        QCoreApplication::sendPostedEvents();
    }

    std::vector<QWidget*> Panels() const {
        std::vector<QWidget*> all;
        for (ModulePanel* p : rig.panels.All()) all.push_back(p);
        all.push_back(rig.panels.Pnl_Xi_type);
        all.push_back(rig.panels.Pnl_Yo_type);
        return all;
    }
    std::map<QString, QString> AllTexts() const {
        std::map<QString, QString> all;
        for (QWidget* p : Panels()) all.merge(ShownTexts(p));
        return all;
    }

  private:
    std::unique_ptr<QTranslator> translator_;
};

TEST_F(PanelsEnglish, NoPanelShowsAChineseCharacter) {
    // The KELM-8AS's lists name their modes in words.
    rig.Select("KELM-8AS", 7);
    ASSERT_TRUE(HasChinese(rig.panels.Pnl_8AS->Ch(0).mode->itemText(0)));
    English();
    // Both captions of the toggle, and every hidden control, count.
    rig.panels.Pnl_2AO->Identity().NewComInfoClick();
    std::size_t checked = 0;
    for (const auto& [where, text] : AllTexts()) {
        EXPECT_FALSE(HasChinese(text)) << where.toStdString() << " = " << text.toStdString();
        ++checked;
    }
    EXPECT_GT(checked, 300u);
    EXPECT_EQ(rig.panels.Pnl_8AS->Ch(0).mode->itemText(0), QStringLiteral("Current"));
    EXPECT_EQ(rig.panels.Pnl_8AS->Ch(0).mode->itemText(1), QStringLiteral("Voltage"));
}

TEST_F(PanelsEnglish, SwitchingBackRestoresEveryChineseTextByteForByte) {
    rig.Select("KELM-8AS", 7);
    rig.panels.Pnl_8AS->Ch(3).mode->setCurrentIndex(1);
    const std::map<QString, QString> before = AllTexts();
    English();
    const std::map<QString, QString> english = AllTexts();
    ASSERT_EQ(english.size(), before.size());
    int changed = 0;
    for (const auto& [where, text] : before)
        if (english.at(where) != text) ++changed;
    EXPECT_GT(changed, 100);
    // A list keeps its selection through a change of language.
    EXPECT_EQ(rig.panels.Pnl_8AS->Ch(3).mode->currentIndex(), 1);
    Chinese();
    EXPECT_EQ(AllTexts(), before);
}

TEST_F(PanelsEnglish, AListShownBeforeTheChangeMeasuresItsNewItems) {
    rig.stack.show();
    rig.Select("KELM-8AS", 7);
    QComboBox* list = rig.panels.Pnl_8AS->Ch(0).mode;
    const int chinese = list->sizeHint().width();
    English();
    EXPECT_GE(list->sizeHint().width(),
              list->fontMetrics().horizontalAdvance(QStringLiteral("Voltage")));
    EXPECT_GT(list->sizeHint().width(), chinese);
    Chinese();
    EXPECT_EQ(list->sizeHint().width(), chinese);
}

TEST_F(PanelsEnglish, TheToggleKeepsItsStateThroughAChangeOfLanguage) {
    ModuleIdentity& id = rig.panels.Pnl_8I8T->Identity();
    rig.stack.show();
    rig.Select("KELM-8I8T", 3);
    id.NewComToggle()->click();
    ASSERT_EQ(id.NewComToggle()->text(), ModuleIdentity::kToggleOpen);
    ASSERT_FALSE(id.NewComBox()->isHidden());

    English();
    EXPECT_EQ(id.NewComToggle()->text(), QStringLiteral("Change communication <<"));
    EXPECT_FALSE(id.NewComBox()->isHidden());
    id.NewComToggle()->click();  // closes, in English
    EXPECT_EQ(id.NewComToggle()->text(), QStringLiteral("Change communication >>"));
    EXPECT_TRUE(id.NewComBox()->isHidden());
    id.NewComToggle()->click();  // and opens again
    EXPECT_FALSE(id.NewComBox()->isHidden());

    Chinese();
    EXPECT_EQ(id.NewComToggle()->text(), ModuleIdentity::kToggleOpen);
    id.NewComToggle()->click();
    EXPECT_EQ(id.NewComToggle()->text(), ModuleIdentity::kToggleClosed);
    EXPECT_TRUE(id.NewComBox()->isHidden());
}

TEST_F(PanelsEnglish, TextsBuiltFromPartsAreWholeSentences) {
    struct Case {
        std::vector<int> unselected;
        bool english;
        const char* warning;
    };
    const Case cases[] = {
        {{1, 6}, false, "CH1、CH6未选择模式，请先选择模式！"},
        {{1, 6}, true, "No mode selected for CH1, CH6. Select a mode first."},
        {{0}, true, "No mode selected for CH0. Select a mode first."},
        {{0, 1, 2, 3, 4, 5, 6, 7},
         true,
         "No mode selected for CH0, CH1, CH2, CH3, CH4, CH5, CH6, CH7. Select a mode first."},
    };
    for (const Case& c : cases) {
        c.english ? English() : Chinese();
        AnalogInputPanel* p = rig.panels.Pnl_8AD;
        rig.Select("KELM-8AD", 2);
        for (int ch : c.unselected) p->Ch(ch).mode->setCurrentIndex(-1);
        rig.boxes.Clear();
        p->ModeSetClick();
        ASSERT_EQ(rig.boxes.boxes.size(), 1u);
        EXPECT_EQ(rig.boxes.boxes[0].text, QString::fromUtf8(c.warning));
        EXPECT_TRUE(rig.sink.frames.empty());
    }
    // A caption with the channel number in it.
    English();
    EXPECT_EQ(rig.stack.findChild<QToolButton*>(QStringLiteral("SBtn_Write_AO1"))->text(),
              QStringLiteral("Write AO1 value"));
    Chinese();
    EXPECT_EQ(rig.stack.findChild<QToolButton*>(QStringLiteral("SBtn_Write_AO1"))->text(),
              QStringLiteral("写入AO1数据"));
}

// Every control of every panel pressed, every reply row run, and the channel
// panels' refusals and confirmations brought up: each box speaks English.
TEST_F(PanelsEnglish, TheBoxesOfASweepOfThePanelsAreEnglish) {
    English();
    const std::pair<const char*, ModulePanel*> modules[] = {
        {"KELM-8I8T", rig.panels.Pnl_8I8T}, {"KELM-16I", rig.panels.Pnl_16I},
        {"KELM-16T", rig.panels.Pnl_16T},   {"KELM-8RY", rig.panels.Pnl_8RY},
        {"KELM-2AO", rig.panels.Pnl_2AO},   {"KELM-8AD", rig.panels.Pnl_8AD},
        {"KELM-8AS", rig.panels.Pnl_8AS},
    };
    const Frame reply(ByteString(128, 0));
    for (const auto& [model, panel] : modules) {
        rig.Select(model, 5);
        // Every button but the configuration-file ones, which ask for a file.
        for (QAbstractButton* b : panel->findChildren<QAbstractButton*>())
            if (b->isEnabled() && b != panel->SaveConfigButton() && b != panel->LoadConfigButton())
                b->click();
        for (const ReplyRow& row : panel->Replies().Rows())
            if (row.action) row.action(reply);
    }
    // A mode write refused for lists without a selection.
    rig.panels.Pnl_8AS->ModeReadClick();
    rig.panels.Pnl_8AS->ModeSetClick();

    // The input channel panel on DI2 of a KELM-8I8T.
    rig.St().Node_Device_Name = "KELM-8I8T";
    rig.St().Node_DeviceChild_Index = 2;
    TPnlXiType& xi = *rig.panels.Pnl_Xi_type;
    xi.Edit_Xi_filter_value->setText(QStringLiteral("99"));
    xi.Btn_Xi_filter_set->click();
    xi.Edit_Xi_filter_value->clear();
    xi.Btn_Xi_filter_set->click();  // the conversion's own report
    xi.Sbtn_Xi_Counter_on->click();
    xi.CountingConfirmation();
    xi.Sbtn_Xi_Counter_off->click();
    xi.CountingConfirmation();

    // The output channel panel on DO1 of a KELM-8I8T.
    rig.St().Node_DeviceChild_Index = 9;
    TPnlYoType& yo = *rig.panels.Pnl_Yo_type;
    yo.Edit_pulse_timeH->setText(QStringLiteral("1"));
    yo.Btn_pulse_timeON_set->click();
    yo.RaB_pulse_num_out->setChecked(true);
    yo.Edit_pulse_num->setText(QStringLiteral("4294967296"));
    yo.Sbtn_pulse_on->click();
    yo.Edit_pulse_num->setText(QStringLiteral("10"));
    yo.Sbtn_pulse_on->click();
    yo.CountConfirmation();
    yo.Sbtn_pulse_off->click();
    yo.CountConfirmation();
    yo.RaB_pulse_out_continue->setChecked(true);
    yo.Sbtn_pulse_on->click();
    yo.ContinuousConfirmation();
    yo.Sbtn_pulse_off->click();
    yo.ContinuousConfirmation();

    std::set<QString> texts;
    for (const RecordedBox& b : rig.boxes.boxes) {
        EXPECT_FALSE(HasChinese(b.text)) << b.text.toStdString();
        texts.insert(b.text);
    }
    // The sweep reached every notice, question and refusal of the panels.
    const char* const expected[] = {
        "Communication parameters written.",
        "Outputs set to pulse output can no longer be switched by on/off commands. Continue?",
        "DO initial states written.",
        "DO output modes written.",
        "Pulse ON time written.",
        "Pulse OFF time written.",
        "DI filter time written.",
        "Relay power-on states written.",
        "Modes of the 8 channels written.",
        "Modes of both AO written.",
        "Values of both AO written.",
        "AO0 value written.",
        "AO1 value written.",
        "No mode selected for CH0, CH1, CH2, CH3, CH4, CH5, CH6, CH7. Select a mode first.",
        "The filter time must be 100-10000.",
        "'' is not a valid integer value",
        "Starting DI pulse counting clears the present count. Continue?",
        "DI pulse counting started.",
        "DI pulse counting stopped.",
        "The pulse level time must be 2-65535.",
        "The pulse count must be 0-4294967295.",
        "Counted pulse output started.",
        "Counted pulse output stopped.",
        "DO continuous pulse output started.",
        "DO continuous pulse output stopped.",
    };
    for (const char* e : expected) EXPECT_TRUE(texts.count(QString::fromUtf8(e))) << e;
}

// The labels the model description gives its choices reach the panels in
// Chinese; every one that is Chinese has its English.
TEST_F(PanelsEnglish, EveryChineseChoiceLabelOfTheModelsIsTranslated) {
    std::set<std::string> labels;
    for (const models::Model& m : models::AllModels())
        for (const models::Item* item : models::Items(m))
            for (const models::Choice& c : item->choices)
                if (HasChinese(QString::fromUtf8(c.label.data(), c.label.size())))
                    labels.insert(std::string(c.label));
    ASSERT_FALSE(labels.empty());
    for (const std::string& l : labels) EXPECT_EQ(ModelTr(l), QString::fromStdString(l)) << l;
    English();
    for (const std::string& l : labels) EXPECT_FALSE(HasChinese(ModelTr(l))) << l;
}

}  // namespace
}  // namespace kelm::test
