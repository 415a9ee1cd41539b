// Feeds arbitrary replies to the reply handlers of every panel, through the
// real main window (offscreen): each input selects a module or channel node
// of the device tree as the user would, sets the state a reply is judged by,
// and delivers a reply frame with a valid check through the master's receive
// path, so that validation passes and the model's handler runs.
//
// Input: 5 bytes of setup, then the reply.
//   [0]    the node to select: one module node per model, then the channel
//          nodes of the digital modules (taken modulo their number)
//   [1..2] Modbus_Reg_Addr, high byte first
//   [3]    DIDO_Button_Status
//   [4]    bit 0: protocol (0 RTU, 1 ASCII); bit 1: the reply carries its own
//          address byte (otherwise the selected module's address is put in
//          front); bit 2: delivered in two receive events instead of one;
//          bits 3-7: answers to the first five confirmation boxes (1 = OK),
//          later ones are answered OK
//   [5..]  the reply without its check (function code first, unless bit 1)
#include <QApplication>
#include <QComboBox>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>
#include <QTreeWidgetItem>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "app/AppSetup.h"
#include "app/TFMmain.h"
#include "gui/MessageBoxes.h"
#include "host/Pnl_comset.h"
#include "modbus/Checks.h"
#include "modbus/ModbusMaster.h"
#include "modbus/Models.h"
#include "serial/EnumPorts.h"

namespace {

using namespace kelm;

void Require(bool ok) {
    if (!ok) __builtin_trap();
}

// Boxes answered from the input, never shown, never kept.
class FuzzBoxes : public IMessageBoxes {
  public:
    bool Show(const QString&, const QString&, MsgIcon, MsgButtons buttons) override {
        if (buttons == MsgButtons::Ok) return true;
        const bool ok = next_ >= 5 || ((answers_ >> next_) & 1u) != 0;
        ++next_;
        return ok;
    }
    // Replies never convert user entries: an error report here is a fault.
    void ReportConversionError(const QString&) override { Require(false); }
    void Answer(std::uint8_t bits) {
        answers_ = bits;
        next_ = 0;
    }

  private:
    std::uint8_t answers_ = 0;
    int next_ = 0;
};

// No machine ports: the window lists none, and the fuzzer never opens one.
class NoPorts : public PortSource {
  public:
    std::vector<PortMapValue> ReadPortMap() override { return {}; }
    std::vector<PortDeviceRecord> DeviceRecords(bool) override { return {}; }
};

struct World {
    std::unique_ptr<QApplication> app;
    QTemporaryDir portsDir;
    FuzzBoxes boxes;
    std::unique_ptr<TFMmain> window;
    std::vector<QTreeWidgetItem*> nodes;  // module nodes, then channel nodes
};

World* g_world = nullptr;

void BuildWorld(int* argc, char*** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    auto* w = new World;
    qputenv("KELM_PORTS_DIR", w->portsDir.path().toLocal8Bit());
    SetPortSourceFactory([] { return std::make_unique<NoPorts>(); });
    w->app = std::make_unique<QApplication>(*argc, *argv);
    ConfigureApplication(*w->app);
    w->app->setQuitOnLastWindowClosed(false);
    w->window = std::make_unique<TFMmain>(&w->boxes, /*watchDevices=*/false);
    w->window->show();

    // A port node with one module of every model, as a scan lists them.
    QTreeWidgetItem* root = w->window->TreeView1->topLevelItem(0);
    auto* port = new QTreeWidgetItem(root, {QStringLiteral("COM9 (fuzz)")});
    std::vector<QTreeWidgetItem*> channels;
    std::uint8_t address = 1;
    for (const ModelInfo& m : Models()) {
        auto* node =
            new QTreeWidgetItem(port, {QString::fromStdString(ModuleNodeText(m.name, address++))});
        w->nodes.push_back(node);
        for (std::string_view ch : m.channelNodes)
            channels.push_back(new QTreeWidgetItem(
                node, {QString::fromUtf8(ch.data(), static_cast<int>(ch.size()))}));
    }
    w->nodes.insert(w->nodes.end(), channels.begin(), channels.end());
    g_world = w;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    BuildWorld(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 6) return 0;
    World& world = *g_world;
    TFMmain& w = *world.window;
    ModbusMaster& master = w.Master();
    MasterState& st = master.State();

    // Navigation runs every time, also for the node selected last time.
    QTreeWidgetItem* node = world.nodes[data[0] % world.nodes.size()];
    w.TreeView1->setCurrentItem(nullptr);
    w.TreeView1->setCurrentItem(node);
    Require(!st.Node_Device_Name.empty());

    st.Modbus_Reg_Addr = static_cast<std::uint16_t>(data[1] << 8 | data[2]);
    st.DIDO_Button_Status = data[3];
    st.Scan_Device_Flag = false;
    const std::uint8_t flags = data[4];
    const int protocol = flags & 1;
    w.PnlComset()->Cmb_comXY->setCurrentIndex(protocol);
    world.boxes.Answer(static_cast<std::uint8_t>(flags >> 3));

    ByteString body;
    if ((flags & 2) == 0) body.push_back(st.Node_Device_ID);
    body.insert(body.end(), data + 5, data + size);
    // What fits in a frame of at most 256 bytes or characters with its check.
    const std::size_t maxBody = protocol == 0 ? kMaxReplyLength - 2 : (kMaxReplyLength - 5) / 2;
    if (body.size() > maxBody) body.resize(maxBody);
    const ByteString frame = FrameForProtocol(body, protocol);
    Require(!frame.empty());

    // The receive path: one or two deliveries, then the end-of-frame
    // silence tick by tick.
    const std::size_t split = (flags & 4) != 0 ? frame.size() / 2 : frame.size();
    master.ksComm1AfterReceive(frame.data(), static_cast<std::uint32_t>(split));
    if (split < frame.size())
        master.ksComm1AfterReceive(frame.data() + split,
                                   static_cast<std::uint32_t>(frame.size() - split));
    for (int tick = 0; tick <= kRecvSilentTicks; ++tick) master.Timer_com_recTimer();

    // Whatever the handler did, the receiver is idle again and the window up.
    Require(st.Recv_Str.empty() && !st.Recv_Flag);
    Require(!w.Timer_com_rec()->isActive());
    Require(w.isVisible());
    QCoreApplication::processEvents();
    return 0;
}
