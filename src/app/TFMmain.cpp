#include "app/TFMmain.h"

#include <QApplication>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QScreen>
#include <QStackedWidget>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "app/AppSetup.h"
#include "app/DeviceChangeNotifier.h"
#include "app/QtMessageBoxes.h"
#include "app/StatusBar.h"
#include "app/TFMmonitor.h"
#include "app/TFMnetport.h"
#include "app/TFMtrend.h"
#include "app/TFmabout.h"
#include "gui/Pictures.h"
#include "host/Pnl_comset.h"
#include "host/ScanContext.h"
#include "host/ScanDevice.h"
#include "host/TFMserching.h"
#include "modbus/Checks.h"
#include "modbus/ModbusMaster.h"
#include "modbus/Models.h"
#include "models/ModelMap.h"
#include "serial/ksComm.h"
#include "serialui/TksDeviceBox.h"

namespace kelm {

TFMmain* FMmain = nullptr;

namespace {

constexpr int kClientWidth = 1114;
constexpr int kClientHeight = 631;
constexpr int kBarHeight = 25;
constexpr int kTreeWidth = 205;
constexpr int kTreeHeight = 572;
constexpr int kPanelLeft = 210;

// Model name and the address text of a module node ("KELM-8I8T(3)").
struct NodeModule {
    std::string name;
    std::uint8_t address = 0;
    QString addressText;
};

std::optional<NodeModule> parseModuleNode(const QString& text) {
    const auto parsed = ParseModuleNodeText(text.toStdString());
    if (!parsed) return std::nullopt;
    const int open = text.indexOf(QLatin1Char('('));
    const int close = text.indexOf(QLatin1Char(')'));
    return NodeModule{parsed->name, parsed->address, text.mid(open + 1, close - open - 1)};
}

void setNodeImage(QTreeWidgetItem* item, int index) {
    if (!item) return;
    item->setIcon(0, ImageList2020Icon(index));
    item->setData(0, kTreeImageIndexRole, index);
}

}  // namespace

TFMmain::TFMmain(IMessageBoxes* boxes, bool watchDevices, QWidget* parent)
    : QMainWindow(parent),
      boxes_(boxes),
      Timer_com_rec_(QStringLiteral("Timer_com_rec")),
      Timer_check_slavecom_(QStringLiteral("Timer_check_slavecom")) {
    setObjectName(QStringLiteral("FMmain"));
    if (!boxes_) {
        ownBoxes_ = std::make_unique<QtMessageBoxes>(this);
        boxes_ = ownBoxes_.get();
    }
    executor_ = std::make_unique<QtExecutor>(boxes_);
    if (!ApplicationExecutor()) {
        SetApplicationExecutor(executor_.get());
        ownsApplicationExecutor_ = true;
    }
    ksComm1_ = std::make_unique<TksComm>(executor_.get());
    // The settings ksComm1 keeps for the whole run; opening and the link
    // check change only the port number and the line format.
    ksComm1_->SetName("ksComm1");
    ksComm1_->SetBufferInSize(8192);
    ksComm1_->SetBufferOutSize(8192);
    ksComm1_->SetTimeoutRead(0);
    ksComm1_->SetTimeoutWrite(0);
    ksComm1_->SetRS485Mode(false);
    ksComm1_->SetUseMainThread(true);
    ksComm1_->SetKeepConnection(false);
    IFrameSink& sink = *this;
    IStatusText& status = *this;
    IHostProtocol& protocol = *this;
    master_ = std::make_unique<ModbusMaster>(sink, status, protocol, Timer_com_rec_);
    // The user's network ports join the port list from its first load on.
    netPorts_ = NetworkPortSettings::Load();
    PublishNetworkPorts();

    BuildUi();
    FormCreate();

    if (watchDevices) {
        deviceNotifier_ = new DeviceChangeNotifier([this] { WMDeviceChange(); }, this);
    }
}

TFMmain::~TFMmain() {
    // The monitor watches the master and the trend polls through it; the
    // master dies before the window's children.
    delete FMtrend_;
    FMtrend_ = nullptr;
    delete FMmonitor_;
    FMmonitor_ = nullptr;
    // Stop everything that could call into the window before its parts go:
    // the timers, then the component's threads.
    Timer_check_slavecom_.SetEnabled(false);
    Timer_com_rec_.SetEnabled(false);
    delete deviceNotifier_;
    deviceNotifier_ = nullptr;
    ksComm1_->SetOnAfterReceive({});
    ksComm1_->SetOnClose({});
    try {
        ksComm1_->SetActive(false);
    } catch (...) {
        // closing never throws for a failure inside the close itself
    }
    // The panels hold references to the master, the component and the
    // timers, which are members and die before the window's children would.
    delete PanelStack;
    PanelStack = nullptr;
    Pnl_comset_ = nullptr;
    modules_ = ModulePanels{};
    if (ownsApplicationExecutor_) SetApplicationExecutor(nullptr);
    if (FMmain == this) FMmain = nullptr;
}

void TFMmain::BuildUi() {
    setWindowTitle(kMainCaption);
    // Fixed single border with a system menu and a minimise box, no maximise box.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(kClientWidth, kClientHeight);

    QFont f = font();
    f.setFamilies(WindowFontFamilies());
    f.setPixelSize(16);
    setFont(f);

    ToolBar1 = new QToolBar(this);
    ToolBar1->setObjectName(QStringLiteral("ToolBar1"));
    ToolBar1->setMovable(false);
    ToolBar1->setFloatable(false);
    ToolBar1->setFixedHeight(kBarHeight);
    ToolBar1->setIconSize(QSize(20, 20));
    ToolBar1->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    // Lime background through the palette: a style sheet would re-polish
    // every button at start-up for one colour.
    ToolBar1->setAutoFillBackground(true);
    QPalette lime = ToolBar1->palette();
    lime.setColor(QPalette::Window, QColor(0x00, 0xFF, 0x00));
    lime.setColor(QPalette::Button, QColor(0x00, 0xFF, 0x00));
    ToolBar1->setPalette(lime);
    ToolBar1->setContextMenuPolicy(Qt::PreventContextMenu);
    addToolBar(Qt::TopToolBarArea, ToolBar1);
    auto makeButton = [this](const char* name, const QString& caption, int image) {
        auto* b = new QToolButton(ToolBar1);
        b->setObjectName(QString::fromLatin1(name));
        b->setText(caption);
        b->setIcon(ImageList2020Icon(image));
        b->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
        b->setAutoRaise(true);
        ToolBar1->addWidget(b);
        return b;
    };
    ToolButton_Scan = makeButton("ToolButton_Scan", QStringLiteral("扫描终端"), kImgScan);
    ToolButton_About = makeButton("ToolButton_About", QStringLiteral("关于"), kImgAbout);
    ToolButton_Close = makeButton("ToolButton_Close", QStringLiteral("退出"), kImgExit);
    ToolBar1->addSeparator();
    ToolButton_Monitor = makeButton("ToolButton_Monitor", QStringLiteral("通讯监视"), -1);
    ToolButton_Monitor->setIcon(MonitorIcon());
    ToolButton_Trend = makeButton("ToolButton_Trend", QStringLiteral("趋势图"), -1);
    ToolButton_Trend->setIcon(TrendIcon());
    ToolButton_Scan->setEnabled(false);
    connect(ToolButton_Scan, &QToolButton::clicked, this, [this] { ToolButton_ScanClick(); });
    connect(ToolButton_About, &QToolButton::clicked, this, [this] { ToolButton_AboutClick(); });
    connect(ToolButton_Close, &QToolButton::clicked, this, [this] { ToolButton_CloseClick(); });
    connect(ToolButton_Monitor, &QToolButton::clicked, this, [this] { ToolButton_MonitorClick(); });
    connect(ToolButton_Trend, &QToolButton::clicked, this, [this] { ToolButton_TrendClick(); });

    auto* central = new QWidget(this);
    central->setObjectName(QStringLiteral("ClientArea"));
    setCentralWidget(central);

    TreeView1 = new QTreeWidget(central);
    TreeView1->setObjectName(QStringLiteral("TreeView1"));
    TreeView1->setGeometry(0, 0, kTreeWidth, kTreeHeight);
    TreeView1->setHeaderHidden(true);
    TreeView1->setColumnCount(1);
    TreeView1->setIndentation(20);
    TreeView1->setIconSize(QSize(20, 20));
    TreeView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    TreeView1->setSelectionMode(QAbstractItemView::SingleSelection);
    // Long port descriptions scroll sideways instead of being cut off.
    TreeView1->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    TreeView1->header()->setStretchLastSection(false);
    TreeView1->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    // The selection stays visible when the tree loses focus.
    QPalette pal = TreeView1->palette();
    pal.setColor(QPalette::Inactive, QPalette::Highlight,
                 pal.color(QPalette::Active, QPalette::Highlight));
    pal.setColor(QPalette::Inactive, QPalette::HighlightedText,
                 pal.color(QPalette::Active, QPalette::HighlightedText));
    TreeView1->setPalette(pal);
    connect(TreeView1, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* current, QTreeWidgetItem*) { TreeView1Change(current); });
    TreeView1->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(TreeView1, &QTreeWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        // Module and channel nodes offer the trend; the root and the
        // network port nodes their own entries.
        const int level = TreeNodeLevel(TreeView1->itemAt(pos));
        if (level == 2 || level == 3)
            TreeView1ContextMenu(pos);
        else
            OnTreeContextMenu(pos);
    });

    PanelStack = new QStackedWidget(central);
    PanelStack->setObjectName(QStringLiteral("PanelStack"));
    PanelStack->setGeometry(kPanelLeft, 0, kClientWidth - kPanelLeft,
                            kClientHeight - 2 * kBarHeight);

    Pnlmain = BuildStartPage();
    PanelStack->addWidget(Pnlmain);

    IStatusText& status = *this;
    HostContext hctx{*ksComm1_,
                     *master_,
                     *boxes_,
                     status,
                     Timer_check_slavecom_,
                     [this](bool on) { ToolButton_Scan->setEnabled(on); },
                     [this](int index, bool open) { SetPortNodeImage(index, open); },
                     [this] { StatusBar1->update(); },
                     [this] {
                         // The port-loss question can come up over the scan
                         // dialog; ending the program closes it too.
                         if (TFMserching* d = ScanDialog()) d->reject();
                         if (FMnetport_) FMnetport_->reject();
                         close();
                     },
                     [this](std::uint16_t number) {
                         for (const NetworkPortEntry& e : netPorts_)
                             if (e.number == number) return e.Text();
                         return QStringLiteral("COM%1").arg(number);
                     }};
    Pnl_comset_ = new Pnl_comset(hctx, PanelStack);
    PanelStack->addWidget(Pnl_comset_);

    configHooks_.portOpen = [this] { return ksComm1_->Active(); };
    configHooks_.line = [this] {
        bus::LineSettings line;
        line.baud = Pnl_comset_->Cmb_combaud->currentText().toUInt();
        line.evenParity = Pnl_comset_->Cmb_comcheckbit->currentText() == QStringLiteral("Even");
        line.protocol = Pnl_comset_->ProtocolIndex() == kProtocolAscii ? bus::WireProtocol::Ascii
                                                                       : bus::WireProtocol::Rtu;
        return line;
    };
    ModuleContext mctx{*master_, *boxes_, TreeView1, nullptr, &configHooks_};
    modules_ = CreateModulePanels(mctx, PanelStack);
    for (ModulePanel* p : modules_.All()) PanelStack->addWidget(p);
    RegisterReplyHandlers(*master_, modules_);

    Pnl_Xi_type = modules_.Pnl_Xi_type;
    Pnl_Yo_type = modules_.Pnl_Yo_type;
    Gro_Xi_mode = Pnl_Xi_type->Gro_Xi_mode;
    Gro_Yo_mode = Pnl_Yo_type->Gro_Yo_mode;
    PanelStack->addWidget(Pnl_Xi_type);
    PanelStack->addWidget(Pnl_Yo_type);
    PanelStack->setCurrentWidget(Pnlmain);

    StatusBar1 = new TStatusBar(this);
    StatusBar1->SetOnDrawPanel([this](QPainter& p, const QRect& r) { StatusBar1DrawPanel(p, r); });
    setStatusBar(nullptr);
    // The status bar keeps its seven fixed panels; QMainWindow's own status
    // bar would add a size grip and its own layout.
    StatusBar1->setParent(this);
    StatusBar1->setGeometry(0, kClientHeight - kBarHeight, kClientWidth, kBarHeight);

    // Scan and link check replies reach their handlers through the dispatcher.
    RegisterScanHandler(*master_, *TreeView1, [](int i) { return ImageList2020Icon(i); });
    master_->SetCheckComHandler(
        [this](const Frame& Pbuf) { Pnl_comset_->Disposal_Modbus03_checkcom(Pbuf); });
    master_->SetCheckComTimer(&Timer_check_slavecom_);

    ksComm1_->SetOnAfterReceive(
        [this](TksBaseIO*, const std::uint8_t* Buffer, std::uint32_t Received) {
            master_->ksComm1AfterReceive(Buffer, Received);
        });
    // A port that vanishes is noticed by the component's threads; the same
    // check as for a device-change notice then asks the user, also where no
    // device notice arrives (or arrives before the component has noticed).
    ksComm1_->SetOnClose([this](TksComponent*) {
        executor_->Post([this] {
            StatusBar1->update();
            WMDeviceChange();
        });
    });
}

QWidget* TFMmain::BuildStartPage() {
    auto* page = new QWidget(PanelStack);
    page->setObjectName(QStringLiteral("Pnlmain"));
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(40, 40, 40, 40);
    layout->setSpacing(10);
    auto* title = new QLabel(QStringLiteral("支持型号："), page);
    title->setObjectName(QStringLiteral("Label_models"));
    layout->addWidget(title);
    const char* models[] = {"KELM-8I8T", "KELM-16I",  "KELM-16T", "KELM-8RY",
                            "KELM-8AS",  "KELM-8ASP", "KELM-8AD", "KELM-2AO"};
    for (const char* m : models) {
        auto* l = new QLabel(QString::fromLatin1(m), page);
        l->setObjectName(QStringLiteral("Label_") + QString::fromLatin1(m).remove('-'));
        l->setIndent(24);
        layout->addWidget(l);
    }
    layout->addStretch(1);
    return page;
}

void TFMmain::FormCreate() {
    ksComm1_->SetEnumPorts(TksEnumPorts::epFullPresent);
    ksComm1_->SetStreamProtocol(TStreamProtocol::spNone);
    Pnl_comset_->ksDeviceBox1()->SetksComm(ksComm1_.get());
    Pnl_comset_->ksDeviceBox1()->setVisible(false);
    Timer_com_rec_.SetEnabled(false);
    Timer_check_slavecom_.SetEnabled(false);
    master_->State().Scan_Device_Flag = false;

    TreeView1->clear();
    auto* root = new QTreeWidgetItem(TreeView1, {QStringLiteral("PC")});
    setNodeImage(root, kImgRoot);
    Refresh_Com_event();
    // The seven new-address lists are filled by the panels themselves
    // ("1" ... "247", first item selected) when they are created.
}

void TFMmain::Refresh_Com_event() {
    QTreeWidgetItem* root = TreeView1->topLevelItem(0);
    if (!root) return;
    const auto children = root->takeChildren();
    for (auto* c : children) delete c;
    TksDeviceBox* box = Pnl_comset_->ksDeviceBox1();
    for (int i = 0; i < box->count(); ++i) {
        auto* node = new QTreeWidgetItem(root, {box->itemText(i)});
        setNodeImage(node, kImgPortClosed);
        const auto device = box->Device(i);
        if (!device) continue;
        for (const NetworkPortEntry& e : netPorts_) {
            if (e.number == device->Data && e.PortName().toStdString() == device->PortName) {
                node->setData(0, kNetPortNumberRole, e.number);
                node->setIcon(0, NetworkPortIcon(false));
            }
        }
    }
    if (root->childCount() > 0) TreeView1->expandAll();
}

void TFMmain::TreeView1Change(QTreeWidgetItem* node) {
    if (node) Disp_treeview_event(node);
}

void TFMmain::Disp_treeview_event(QTreeWidgetItem* Node) {
    ToolButton_Scan->setEnabled(false);
    auto& st = master_->State();
    switch (TreeNodeLevel(Node)) {
        case 0:
            PanelStack->setCurrentWidget(Pnlmain);
            SetStatusText(kStatusPanelLink, {});
            break;
        case 1: {
            if (const NetworkPortEntry* net = NetworkPortOf(Node)) {
                Pnl_comset_->SetNetworkPort(
                    HostNetworkPort{net->number, net->address, net->PortName()});
            } else {
                const QString text = Node->text(0);
                const int blank = text.indexOf(QLatin1Char(' '));
                Pnl_comset_->SetComNumText(blank > 3 ? text.mid(3, blank - 3) : QString());
                Pnl_comset_->SetNetworkPort(std::nullopt);
            }
            st.Node_Level1_newindex = Node->parent()->indexOfChild(Node);
            PanelStack->setCurrentWidget(Pnl_comset_);
            if (st.Node_Level1_newindex != st.Node_Level1_oldindex) {
                Pnl_comset_->Com_close();
                st.Node_Level1_oldindex = st.Node_Level1_newindex;
            }
            SetStatusText(kStatusPanelLink, {});
            if (ksComm1_->Active()) ToolButton_Scan->setEnabled(true);
            break;
        }
        case 2:
            ShowModuleNode(Node);
            break;
        case 3:
            ShowChannelNode(Node);
            break;
        default:
            break;
    }
}

void TFMmain::ShowModuleNode(QTreeWidgetItem* node) {
    const auto m = parseModuleNode(node->text(0));
    if (!m) return;
    auto& st = master_->State();
    st.Node_Device_Name = m->name;
    st.Node_Device_ID = m->address;
    ModulePanel* panel = modules_.ForModel(m->name);
    if (!panel) return;  // a model without a panel leaves the panels as they are
    panel->Default();
    panel->SetDeviceFields(QString::fromStdString(m->name), m->addressText);
    PanelStack->setCurrentWidget(panel);
}

void TFMmain::ShowChannelNode(QTreeWidgetItem* node) {
    QTreeWidgetItem* module = node->parent();
    const auto m = parseModuleNode(module->text(0));
    if (!m) return;
    auto& st = master_->State();
    st.Node_Device_Name = m->name;
    st.Node_Device_ID = m->address;
    const int position = module->indexOfChild(node);
    // A digital module has at most 16 channel nodes; a position past them
    // (a tree no scan builds) selects nothing the panels could address.
    if (position < 0 || position > 15) return;
    st.Node_DeviceChild_Index = static_cast<std::uint8_t>(position);
    // The model's channel layout says which children are inputs and which
    // outputs; other models, and children past the layout, leave the panels
    // as they are.
    const models::Model* model = models::FindModel(m->name);
    if (!model) return;
    const models::Side side = models::ChildAt(*model, position).side;
    if (side == models::Side::None) return;
    const QString caption = module->text(0) + QLatin1Char(':') + node->text(0);
    if (side == models::Side::Input) {
        Pnl_Xi_type->Pnl_Xi_type_Default();
        Gro_Xi_mode->setTitle(caption);
        PanelStack->setCurrentWidget(Pnl_Xi_type);
    } else {
        Pnl_Yo_type->Pnl_Yo_type_Default();
        Gro_Yo_mode->setTitle(caption);
        PanelStack->setCurrentWidget(Pnl_Yo_type);
    }
}

void TFMmain::SetPortNodeImage(int index, bool open) {
    QTreeWidgetItem* root = TreeView1->topLevelItem(0);
    if (!root || index < 0 || index >= root->childCount()) return;
    QTreeWidgetItem* node = root->child(index);
    setNodeImage(node, open ? kImgPortOpen : kImgPortClosed);
    if (NetworkPortOf(node)) node->setIcon(0, NetworkPortIcon(open));
}

// --- network ports ----------------------------------------------------------

void TFMmain::PublishNetworkPorts() {
    std::vector<TksUserPort> ports;
    for (const NetworkPortEntry& e : netPorts_)
        ports.push_back({e.number, e.PortName().toStdString(), e.Text().toStdString()});
    ksComm1_->SetUserPorts(std::move(ports));
}

bool TFMmain::SaveNetworkPorts() {
    QString error;
    if (NetworkPortSettings::Save(netPorts_, &error)) return true;
    // The change holds for this run; the user learns it will not be kept.
    boxes_->Show(QStringLiteral("警告"), QStringLiteral("网络端口设置无法保存：%1").arg(error),
                 MsgIcon::Warning, MsgButtons::Ok);
    return false;
}

const NetworkPortEntry* TFMmain::NetworkPortOf(const QTreeWidgetItem* node) const {
    if (!node || TreeNodeLevel(node) != 1) return nullptr;
    const QVariant v = node->data(0, kNetPortNumberRole);
    if (!v.isValid()) return nullptr;
    const uint number = v.toUInt();
    for (const NetworkPortEntry& e : netPorts_)
        if (e.number == number) return &e;
    return nullptr;
}

QTreeWidgetItem* TFMmain::AddNetworkPortNode(const NetworkPortEntry& port) {
    QTreeWidgetItem* root = TreeView1->topLevelItem(0);
    if (!root) return nullptr;
    // After the serial ports and the network ports added before it, so that
    // the positions of the nodes already there do not change.
    auto* node = new QTreeWidgetItem(root, {port.Text()});
    setNodeImage(node, kImgPortClosed);
    node->setData(0, kNetPortNumberRole, port.number);
    node->setIcon(0, NetworkPortIcon(false));
    root->setExpanded(true);
    return node;
}

bool TFMmain::AddNetworkPort(const net::NetAddress& address) {
    for (const NetworkPortEntry& e : netPorts_) {
        if (e.address == address) {
            boxes_->Show(QStringLiteral("警告"),
                         QStringLiteral("该网络端口已存在：%1").arg(e.Text()), MsgIcon::Warning,
                         MsgButtons::Ok);
            return false;
        }
    }
    NetworkPortEntry entry;
    entry.address = address;
    entry.number = NextNetworkPortNumber(netPorts_);
    if (entry.number == 0) {
        boxes_->Show(QStringLiteral("警告"), QStringLiteral("网络端口太多，无法再添加。"),
                     MsgIcon::Warning, MsgButtons::Ok);
        return false;
    }
    netPorts_.push_back(entry);
    PublishNetworkPorts();
    SaveNetworkPorts();
    if (QTreeWidgetItem* node = AddNetworkPortNode(entry)) TreeView1->scrollToItem(node);
    return true;
}

void TFMmain::AddNetworkPortClick() {
    if (FMnetport_) return;  // one dialog at a time
    FMnetport_ = new TFMnetport(
        *boxes_,
        [this](const net::NetAddress& a) {
            for (const NetworkPortEntry& e : netPorts_)
                if (e.address == a) return true;
            return false;
        },
        this);
    const bool accepted = FMnetport_->exec() == QDialog::Accepted;
    const std::optional<net::NetAddress> address = FMnetport_->Address();
    delete FMnetport_;
    FMnetport_ = nullptr;
    if (accepted && address) AddNetworkPort(*address);
}

void TFMmain::RemoveNetworkPort(QTreeWidgetItem* node) {
    const NetworkPortEntry* entry = NetworkPortOf(node);
    if (!entry) return;
    const std::uint16_t number = entry->number;
    QTreeWidgetItem* root = node->parent();
    const int index = root->indexOfChild(node);
    auto& st = master_->State();
    // Its port closes first; a close that fails leaves the node where it is.
    if (index == st.Node_Level1_oldindex && Pnl_comset_->PortOpenByUser()) {
        Pnl_comset_->Com_close();
        if (Pnl_comset_->PortOpenByUser()) return;
    }
    // Nothing stays selected under a node that goes away.
    for (QTreeWidgetItem* c = TreeView1->currentItem(); c; c = c->parent()) {
        if (c == node) {
            TreeView1->setCurrentItem(root);
            break;
        }
    }
    delete node;
    // The positions after it move up by one; its own is no port's any more.
    auto shift = [index](std::int32_t& position) {
        if (position == index)
            position = -1;
        else if (position > index)
            --position;
    };
    shift(st.Node_Level1_oldindex);
    shift(st.Node_Level1_newindex);
    std::erase_if(netPorts_, [number](const NetworkPortEntry& e) { return e.number == number; });
    PublishNetworkPorts();
    SaveNetworkPorts();
}

QMenu* TFMmain::TreeMenuFor(QTreeWidgetItem* node) {
    if (!node) return nullptr;
    if (TreeNodeLevel(node) == 0) {
        auto* menu = new QMenu(this);
        menu->setObjectName(QStringLiteral("Menu_tree_root"));
        menu->addAction(kAddNetworkPortCaption, this, [this] { AddNetworkPortClick(); });
        return menu;
    }
    if (NetworkPortOf(node)) {
        auto* menu = new QMenu(this);
        menu->setObjectName(QStringLiteral("Menu_tree_netport"));
        // The node may be gone by the time the action runs (never while the
        // menu is up, but be safe): look it up again by its number.
        const uint number = node->data(0, kNetPortNumberRole).toUInt();
        menu->addAction(kRemoveNetworkPortCaption, this, [this, number] {
            QTreeWidgetItem* root = TreeView1->topLevelItem(0);
            for (int i = 0; root && i < root->childCount(); ++i) {
                QTreeWidgetItem* n = root->child(i);
                if (n->data(0, kNetPortNumberRole).isValid() &&
                    n->data(0, kNetPortNumberRole).toUInt() == number) {
                    RemoveNetworkPort(n);
                    return;
                }
            }
        });
        return menu;
    }
    return nullptr;
}

void TFMmain::OnTreeContextMenu(const QPoint& pos) {
    QMenu* menu = TreeMenuFor(TreeView1->itemAt(pos));
    if (!menu) return;
    menu->exec(TreeView1->viewport()->mapToGlobal(pos));
    delete menu;
}

void TFMmain::StatusBar1DrawPanel(QPainter& painter, const QRect& rect) {
    const QPixmap pm = ImageList2020(ksComm1_->Active() ? kImgStatusOpen : kImgStatusClosed);
    // Centred in the owner-drawn panel.
    painter.drawPixmap(rect.x() + (rect.width() - pm.width()) / 2,
                       rect.y() + (rect.height() - pm.height()) / 2, pm);
}

ScanContext TFMmain::MakeScanContext() {
    // The scan's requests go through the master, so that the line's watcher
    // sees them; SendFrame leaves the status text alone as before.
    return ScanContext{*master_,
                       *boxes_,
                       *TreeView1,
                       [this](const ByteString& s) { master_->SendFrame(s); },
                       [this] { return Pnl_comset_->ProtocolIndex(); },
                       [this] { return ksComm1_->Active(); },
                       [this] { return Timer_check_slavecom_.Enabled(); },
                       [](int i) { return ImageList2020Icon(i); },
                       BusyPicture()};
}

TFMserching* TFMmain::ScanDialog() const {
    // The start-up instance stays hidden; the one in use is shown.
    for (TFMserching* d : findChildren<TFMserching*>())
        if (d->isVisible()) return d;
    return nullptr;
}

void TFMmain::ToolButton_ScanClick() {
    OpenScanDialog(MakeScanContext(), this);
}

void TFMmain::ToolButton_AboutClick() {
    // A fresh box for each use, destroyed when it closes.
    Fmabout_ = new TFmabout(this);
    Fmabout_->exec();
    delete Fmabout_;
    Fmabout_ = nullptr;
}

void TFMmain::ToolButton_CloseClick() {
    close();
}

void TFMmain::ToolButton_MonitorClick() {
    // Non-modal and kept: closing only hides it, and it goes on recording.
    if (!FMmonitor_) {
        FMmonitor_ = new TFMmonitor(
            *master_, *boxes_, [this] { return ksComm1_->Active(); }, this);
        // Values are described in the modes the selected module's panel
        // converts them by.
        FMmonitor_->SetChannelModes([this]() -> std::vector<int> {
            const ModulePanel* panel = modules_.ForModel(master_->State().Node_Device_Name);
            return panel ? panel->ChannelModes() : std::vector<int>{};
        });
    }
    FMmonitor_->show();
    FMmonitor_->raise();
    FMmonitor_->activateWindow();
}

void TFMmain::ToolButton_TrendClick() {
    // Non-modal and kept: closing it stops its polling and keeps its readings.
    if (!FMtrend_) {
        auto modules = [this] {
            std::vector<TrendModule> out;
            QTreeWidgetItem* root = TreeView1->topLevelItem(0);
            if (!root) return out;
            for (int p = 0; p < root->childCount(); ++p)
                for (int m = 0; m < root->child(p)->childCount(); ++m)
                    if (const auto mod = parseModuleNode(root->child(p)->child(m)->text(0)))
                        out.push_back(TrendModule{mod->address, mod->name});
            return out;
        };
        FMtrend_ = new TFMtrend(
            *master_, *boxes_, [this] { return ksComm1_->Active(); },
            [this] { return ksComm1_->BaudRate(); }, modules, this);
    }
    FMtrend_->show();
    FMtrend_->raise();
    FMtrend_->activateWindow();
}

void TFMmain::TreeView1ContextMenu(const QPoint& pos) {
    QTreeWidgetItem* node = TreeView1->itemAt(pos);
    const int level = TreeNodeLevel(node);
    if (node == nullptr || (level != 2 && level != 3)) return;
    QMenu menu(this);
    QAction* add = menu.addAction(QStringLiteral("加入趋势图"));
    if (menu.exec(TreeView1->viewport()->mapToGlobal(pos)) == add) AddNodeToTrend(node);
}

void TFMmain::AddNodeToTrend(QTreeWidgetItem* node) {
    const int level = TreeNodeLevel(node);
    if (node == nullptr || (level != 2 && level != 3)) return;
    QTreeWidgetItem* moduleNode = level == 2 ? node : node->parent();
    const auto m = parseModuleNode(moduleNode->text(0));
    if (!m) return;
    std::vector<ChannelId> channels;
    if (level == 2) {
        channels = DefaultChannelsOf(m->address, m->name);
    } else {
        ChannelId c;
        if (ChannelOfNode(m->address, m->name, moduleNode->indexOfChild(node), &c))
            channels.push_back(c);
    }
    ToolButton_TrendClick();
    FMtrend_->AddChannels(channels);
}

void TFMmain::WMDeviceChange() {
    Pnl_comset_->WMDeviceChange();
}

QString TFMmain::StatusText(int panel) const {
    return StatusBar1->PanelText(panel);
}

void TFMmain::SetStatusText(int panel, const std::string& utf8) {
    StatusBar1->SetPanelText(panel, QString::fromStdString(utf8));
}

void TFMmain::SendString(const ByteString& S) {
    ksComm1_->SendString(S);
}

int TFMmain::ProtocolIndex() const {
    return Pnl_comset_ ? Pnl_comset_->ProtocolIndex() : -1;
}

std::string TFMmain::ProtocolText() const {
    return Pnl_comset_ ? Pnl_comset_->ProtocolText() : std::string();
}

}  // namespace kelm
