#pragma once
// `TFMmain`, "KELM-Utility(V1.00)": the program's one working window. It owns
// the serial port component ksComm1, the master, the device tree, the toolbar,
// the status bar and every right-hand panel, for the whole run.
#include <QMainWindow>
#include <QString>
#include <memory>
#include <vector>

#include "app/NetworkPorts.h"
#include "app/QtExecutor.h"
#include "app/QtTimer.h"
#include "gui/MessageBoxes.h"
#include "modbus/Interfaces.h"
#include "modules/ConfigTransfer.h"
#include "modules/ModulePanels.h"

class QGroupBox;
class QLabel;
class QMenu;
class QStackedWidget;
class QToolBar;
class QToolButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace kelm {

class DeviceChangeNotifier;
class ModbusMaster;
class Pnl_comset;
class QtMessageBoxes;
class TFMmonitor;
class TFMtrend;
class TFMnetport;
class TFMserching;
class TFmabout;
class TStatusBar;
class TksComm;
struct ScanContext;

inline const QString kMainCaption = QStringLiteral("KELM-Utility(V1.00)");
inline const QString kAddNetworkPortCaption = QStringLiteral("添加网络端口...");
inline const QString kRemoveNetworkPortCaption = QStringLiteral("删除网络端口");
// A network port node keeps the component's number for it under this role
// (serial port nodes have none).
inline constexpr int kNetPortNumberRole = Qt::UserRole + 2;

class TFMmain : public QMainWindow, private IStatusText, private IFrameSink, private IHostProtocol {
    Q_OBJECT
  public:
    // boxes: where message boxes go (the topmost QMessageBoxes when null).
    // watchDevices: whether to watch the system for device changes (tests
    // that drive WMDeviceChange themselves may turn it off).
    explicit TFMmain(IMessageBoxes* boxes = nullptr, bool watchDevices = true,
                     QWidget* parent = nullptr);
    ~TFMmain() override;

    // Window creation: component set-up, tree, address lists.
    void FormCreate();
    // Rebuilds the port nodes under the root from the port selector's list.
    void Refresh_Com_event();
    // Navigation for the selected node.
    void TreeView1Change(QTreeWidgetItem* node);
    void Disp_treeview_event(QTreeWidgetItem* Node);
    // Paints the port-state icon in the owner-drawn status panel.
    void StatusBar1DrawPanel(QPainter& painter, const QRect& rect);
    void ToolButton_ScanClick();
    void ToolButton_AboutClick();
    void ToolButton_CloseClick();
    // Opens the communication monitor (created on first use) and raises it.
    void ToolButton_MonitorClick();
    // Opens the trend view (created on first use) and raises it.
    void ToolButton_TrendClick();
    // The tree's "加入趋势图": a module node adds its inputs, a channel node
    // that channel; the trend view opens.
    void AddNodeToTrend(QTreeWidgetItem* node);
    // The system's device-change notice: checks the open port.
    void WMDeviceChange();

    // Network ports. The tree's context menu for a node (the root: add; a
    // network port node: remove), or nullptr where there is none. A child of
    // the window that the caller deletes (while the window is still there).
    QMenu* TreeMenuFor(QTreeWidgetItem* node);
    // Asks for a network port (the add dialog) and adds it.
    void AddNetworkPortClick();
    // Adds the port: remembered in the settings, a node under "PC". False
    // (after telling the user) when it cannot be added.
    bool AddNetworkPort(const net::NetAddress& address);
    // Removes a network port node, closing its port first when it is open.
    void RemoveNetworkPort(QTreeWidgetItem* node);
    const std::vector<NetworkPortEntry>& NetworkPorts() const { return netPorts_; }
    // The network port behind a port node, or nullptr for a serial port node.
    const NetworkPortEntry* NetworkPortOf(const QTreeWidgetItem* node) const;
    // The add dialog being shown, or nullptr.
    TFMnetport* NetPortDialog() const { return FMnetport_; }

    // Owned parts, for the start-up, the tests and the benchmark.
    TksComm& ksComm1() { return *ksComm1_; }
    ModbusMaster& Master() { return *master_; }
    IMessageBoxes& Boxes() { return *boxes_; }
    Pnl_comset* PnlComset() const { return Pnl_comset_; }
    const ModulePanels& Modules() const { return modules_; }
    // The module panels' configuration-file buttons: their file dialogs
    // (tests put their own paths here), port state and line.
    ConfigHooks& ConfigFileHooks() { return configHooks_; }
    TStatusBar* StatusBar() const { return StatusBar1; }
    QString StatusText(int panel) const;
    // The link check's step timer and the end-of-frame timer.
    QTimer* Timer_check_slavecom() { return Timer_check_slavecom_.timer(); }
    QTimer* Timer_com_rec() { return Timer_com_rec_.timer(); }
    // The scan dialog being shown, or nullptr.
    TFMserching* ScanDialog() const;
    // The About box being shown, or nullptr (Fmabout).
    TFmabout* AboutBox() const { return Fmabout_; }
    // The communication monitor, or nullptr before its first opening.
    TFMmonitor* Monitor() const { return FMmonitor_; }
    // The trend view, or nullptr before its first opening.
    TFMtrend* Trend() const { return FMtrend_; }
    ScanContext MakeScanContext();

    QToolBar* ToolBar1 = nullptr;
    QToolButton* ToolButton_Scan = nullptr;
    QToolButton* ToolButton_About = nullptr;
    QToolButton* ToolButton_Close = nullptr;
    QToolButton* ToolButton_Monitor = nullptr;
    QToolButton* ToolButton_Trend = nullptr;
    QTreeWidget* TreeView1 = nullptr;
    TStatusBar* StatusBar1 = nullptr;
    QStackedWidget* PanelStack = nullptr;
    QWidget* Pnlmain = nullptr;
    // The channel panels (also in Modules()) and their captioned groups.
    TPnlXiType* Pnl_Xi_type = nullptr;
    TPnlYoType* Pnl_Yo_type = nullptr;
    QGroupBox* Gro_Xi_mode = nullptr;
    QGroupBox* Gro_Yo_mode = nullptr;

  private:
    // IStatusText, IFrameSink, IHostProtocol for the master.
    void SetStatusText(int panel, const std::string& utf8) override;
    void SendString(const ByteString& S) override;
    int ProtocolIndex() const override;
    std::string ProtocolText() const override;

    void BuildUi();
    QWidget* BuildStartPage();
    void SetPortNodeImage(int index, bool open);
    // Numbers the user's network ports for the component.
    void PublishNetworkPorts();
    bool SaveNetworkPorts();
    QTreeWidgetItem* AddNetworkPortNode(const NetworkPortEntry& port);
    void OnTreeContextMenu(const QPoint& pos);
    void ShowModuleNode(QTreeWidgetItem* node);
    void ShowChannelNode(QTreeWidgetItem* node);
    void TreeView1ContextMenu(const QPoint& pos);

    std::unique_ptr<QtMessageBoxes> ownBoxes_;
    IMessageBoxes* boxes_ = nullptr;
    // Declared before the component: its threads reach the GUI thread through
    // it, so it must outlive them.
    std::unique_ptr<QtExecutor> executor_;
    bool ownsApplicationExecutor_ = false;
    QtTimer Timer_com_rec_;
    QtTimer Timer_check_slavecom_;
    std::unique_ptr<TksComm> ksComm1_;
    std::unique_ptr<ModbusMaster> master_;
    Pnl_comset* Pnl_comset_ = nullptr;
    ConfigHooks configHooks_;
    ModulePanels modules_;
    DeviceChangeNotifier* deviceNotifier_ = nullptr;
    TFmabout* Fmabout_ = nullptr;
    TFMmonitor* FMmonitor_ = nullptr;
    TFMtrend* FMtrend_ = nullptr;
    TFMnetport* FMnetport_ = nullptr;
    std::vector<NetworkPortEntry> netPorts_;
};

// The program-wide main window instance (set by the start-up).
extern TFMmain* FMmain;

}  // namespace kelm
