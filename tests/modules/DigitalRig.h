#pragma once
// The module rig with what the digital panels' handlers also look at: a
// device tree (for the selected node's level) and recording channel steps.
#include <QCheckBox>
#include <QGridLayout>
#include <QIcon>
#include <QImage>
#include <QToolButton>
#include <QTreeWidget>
#include <string>
#include <vector>

#include "ModuleRig.h"
#include "gui/Pictures.h"
#include "modules/ChannelSteps.h"
#include "modules/LampColumn.h"

namespace kelm::test {

// Each step the module handler ran, in order: its name and the frame it got.
struct RecordingSteps : IInputChannelSteps, IOutputChannelSteps {
    struct Call {
        std::string step;
        ByteString frame;
    };
    std::vector<Call> calls;
    std::vector<bool> modes;  // ShowOutputMode arguments

    void FilterReply(const Frame& Pbuf) override { calls.push_back({"FilterReply", Pbuf.bytes()}); }
    void CountingReply(const Frame& Pbuf) override {
        calls.push_back({"CountingReply", Pbuf.bytes()});
    }
    void CountingConfirmation() override { calls.push_back({"CountingConfirmation", {}}); }
    void TimesReply(const Frame& Pbuf) override { calls.push_back({"TimesReply", Pbuf.bytes()}); }
    void StateReply(const Frame& Pbuf) override { calls.push_back({"StateReply", Pbuf.bytes()}); }
    void ContinuousConfirmation() override { calls.push_back({"ContinuousConfirmation", {}}); }
    void CountConfirmation() override { calls.push_back({"CountConfirmation", {}}); }
    void ShowOutputMode(bool pulse) override {
        calls.push_back({"ShowOutputMode", {}});
        modes.push_back(pulse);
    }
    std::vector<std::string> Names() const {
        std::vector<std::string> n;
        for (const auto& c : calls) n.push_back(c.step);
        return n;
    }
};

struct DigitalRig {
    RecordingSteps steps;
    ChannelSteps channels{&steps, &steps};
    QTreeWidget tree;
    ModuleRig rig{&tree, &channels};

    TPnl8I8T& P8i8t() { return *rig.panels.Pnl_8I8T; }
    TPnl16I& P16i() { return *rig.panels.Pnl_16I; }
    TPnl16T& P16t() { return *rig.panels.Pnl_16T; }
    TPnl8RY& P8ry() { return *rig.panels.Pnl_8RY; }

    // PC > COM1 > the module node "model(address)" with `channels` channel
    // nodes; selects the node at `level` (2: the module, 3: channel `child`).
    void SelectInTree(const QString& model, int address, int channelCount, int level,
                      int child = 0) {
        tree.clear();
        auto* root = new QTreeWidgetItem(&tree, {QStringLiteral("PC")});
        auto* port = new QTreeWidgetItem(root, {QStringLiteral("COM1")});
        auto* module = new QTreeWidgetItem(port, {model + QStringLiteral("(%1)").arg(address)});
        for (int i = 0; i < channelCount; ++i)
            new QTreeWidgetItem(module, {QStringLiteral("CH%1").arg(i)});
        QTreeWidgetItem* node = level == 0   ? root
                                : level == 1 ? port
                                : level == 2 ? module
                                             : module->child(child);
        tree.setCurrentItem(node);
        if (level == 3) rig.St().Node_DeviceChild_Index = static_cast<std::uint8_t>(child);
    }
};

// The lamp picture a button shows, read from its icon.
inline bool ShowsPicture(const QToolButton* b, int image) {
    const QPixmap want = ImageList50x(image);
    return b->icon().pixmap(want.size()).toImage() == want.toImage();
}
inline bool LampLit(const QToolButton* b) {
    return ShowsPicture(b, kImgLampOn);
}
inline bool LampDark(const QToolButton* b) {
    return ShowsPicture(b, kImgLampOff);
}

// Lamps lit (bit ch) and buttons pressed (bit ch) of a column, as words.
inline unsigned LitWord(const LampColumn& c) {
    unsigned w = 0;
    for (int ch = 0; ch < c.Count(); ++ch)
        if (LampLit(c.Button(ch))) w |= 1u << ch;
    return w;
}
inline unsigned PressedWord(const LampColumn& c) {
    unsigned w = 0;
    for (int ch = 0; ch < c.Count(); ++ch)
        if (c.Button(ch)->isChecked()) w |= 1u << ch;
    return w;
}
inline void TickBoxes(LampColumn& c, unsigned word) {
    for (int ch = 0; ch < c.Count(); ++ch) c.Box(ch)->setChecked(((word >> ch) & 1u) != 0);
}
inline unsigned TickedWord(const LampColumn& c) {
    unsigned w = 0;
    for (int ch = 0; ch < c.Count(); ++ch)
        if (c.Box(ch)->isChecked()) w |= 1u << ch;
    return w;
}

}  // namespace kelm::test
