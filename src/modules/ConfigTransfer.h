#pragma once
// A module's configuration file from the window: "保存配置..." reads the
// selected module's configuration items through the window's master and
// writes the file `kelm backup` writes; "载入配置..." checks a file, reads the
// module, shows what differs (DlgConfigDiff), writes the differing settings
// with a progress dialog that can stop between settings, the communication
// parameters last and only when asked and only after everything else was
// verified, and ends with each setting's outcome (DlgConfigResult).
#include <QDialog>
#include <QString>
#include <functional>
#include <vector>

#include "bus/BusClient.h"
#include "config/ConfigFile.h"
#include "config/ModuleIo.h"

class QCheckBox;
class QLabel;
class QTableWidget;
class QWidget;

namespace kelm {

struct ModuleContext;

// What the transfer needs from the window; every member may be empty.
struct ConfigHooks {
    // The file to write, offered `suggested`; empty: the user cancelled.
    // Empty function: a QFileDialog.
    std::function<QString(QWidget* parent, const QString& suggested)> saveFileName;
    // The file to read; empty: the user cancelled. Empty function: a QFileDialog.
    std::function<QString(QWidget* parent)> openFileName;
    // Whether the port is open (empty: taken as open).
    std::function<bool()> portOpen;
    // The window's port settings (empty: 9600, no parity, RTU).
    std::function<bus::LineSettings()> line;
};

// "KELM-8I8T_addr5.json"
QString SuggestedConfigFileName(const QString& model, int address);

// Lists the settings of the module and of the file: every setting of the
// file, the differing ones first and marked, with a check box for the
// communication parameters (off by default).
class ConfigDiffDialog : public QDialog {
    Q_OBJECT
  public:
    ConfigDiffDialog(const config::ModuleConfig& module, const config::ModuleConfig& file,
                     QWidget* parent = nullptr);
    bool WithComm() const;
    int DifferingRows() const { return differing_; }
    QTableWidget* Table() const { return table_; }
    QCheckBox* CommBox() const { return comm_; }

  private:
    QTableWidget* table_ = nullptr;
    QCheckBox* comm_ = nullptr;
    int differing_ = 0;
};

// Each setting written and its outcome, and for a failure what was and what
// was not written.
class ConfigResultDialog : public QDialog {
    Q_OBJECT
  public:
    ConfigResultDialog(const config::RestoreResult& result, const config::ModuleConfig& wanted,
                       QWidget* parent = nullptr);
    const config::RestoreResult& Result() const { return result_; }
    QTableWidget* Table() const { return table_; }
    QString Summary() const;

  private:
    config::RestoreResult result_;
    QTableWidget* table_ = nullptr;
    QLabel* summary_ = nullptr;
};

// The outcome as the result dialog names it: "已校验", "读回不同", ...
QString StepStateLabel(config::StepState s);

// The two buttons' actions, on the selected module (the master's
// Node_Device_Name and Node_Device_ID); parent owns the dialogs.
void SaveModuleConfig(QWidget* parent, const ModuleContext& ctx);
void LoadModuleConfig(QWidget* parent, const ModuleContext& ctx);

}  // namespace kelm
