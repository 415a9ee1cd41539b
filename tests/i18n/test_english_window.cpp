// The window in English: every text of the main window, the host port panel,
// the scan dialog, the About box, the monitor, the trend view, the network
// port dialog and the port properties dialog, and the message boxes that
// their actions bring up, without a Chinese character; switching at run time
// retranslates open windows and switching back restores the Chinese texts
// byte for byte; where the language comes from at start.
#include <gtest/gtest.h>

#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QStackedWidget>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QToolButton>
#include <QTreeWidget>
#include <cstring>

#include "QtAppEnvironment.h"
#include "TextWalk.h"
#include "app/NetworkPorts.h"
#include "app/TFMmain.h"
#include "app/TFMmonitor.h"
#include "app/TFMnetport.h"
#include "app/TFMtrend.h"
#include "app/TFmabout.h"
#include "app/UiLanguageChoice.h"
#include "config/ConfigFile.h"
#include "config/ModuleIo.h"
#include "gui/Language.h"
#include "gui/MessageBoxes.h"
#include "host/Pnl_comset.h"
#include "host/ScanContext.h"
#include "host/TFMserching.h"
#include "live/LiveModels.h"
#include "modbus/Checks.h"
#include "modbus/ModbusMaster.h"
#include "models/ModelMap.h"
#include "modules/ConfigTransfer.h"
#include "modules/ModuleRig.h"
#include "serial/VirtualPortDir.h"
#include "serial/posix/Pty.h"
#include "serialui/TksPortConfigDialog.h"
#include "support/RecordingMessageBoxes.h"

namespace kelm::test {
namespace {

// A settings directory and a port directory of the test's own, and Chinese
// again after each case.
class English : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(configDir_.isValid());
        ASSERT_TRUE(portsDir_.isValid());
        qputenv("XDG_CONFIG_HOME", configDir_.path().toLocal8Bit());
        qputenv("KELM_PORTS_DIR", portsDir_.path().toLocal8Bit());
        qunsetenv("KELM_LANG");
    }
    void TearDown() override {
        window_.reset();
        SetUiLanguage(UiLanguage::Chinese);
        qunsetenv("XDG_CONFIG_HOME");
        qunsetenv("KELM_PORTS_DIR");
        qunsetenv("KELM_LANG");
    }
    TFMmain& MakeWindow() {
        window_ = std::make_unique<TFMmain>(&boxes_, false);
        window_->show();
        return *window_;
    }
    static void Settle() {
        // Translators post LanguageChange; let every window take it.
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
    }
    std::string BoxesWithChinese() const {
        std::string bad;
        for (const RecordedBox& b : boxes_.boxes)
            if (HasChinese(b.title) || HasChinese(b.text))
                bad += b.title.toStdString() + " / " + b.text.toStdString() + "\n";
        return bad;
    }

    QTemporaryDir configDir_;
    QTemporaryDir portsDir_;
    RecordingMessageBoxes boxes_;
    std::unique_ptr<TFMmain> window_;
};

TEST_F(English, TheMainWindowAndItsDialogsShowNoChinese) {
    ASSERT_TRUE(SetUiLanguage(UiLanguage::English));
    TFMmain& w = MakeWindow();
    // The host port panel with its advanced box open, and a network port's note.
    w.PanelStack->setCurrentWidget(w.PnlComset());
    w.PnlComset()->btn_advancedClick();
    w.PnlComset()->SetNetworkPort(HostNetworkPort{4097,
                                                  *net::ParseNetAddress("mbtcp://127.0.0.1:502"),
                                                  QStringLiteral("mbtcp://127.0.0.1:502")});
    w.ToolButton_MonitorClick();
    w.ToolButton_TrendClick();
    ASSERT_NE(w.Monitor(), nullptr);
    ASSERT_NE(w.Trend(), nullptr);
    // Channels of several modules: inputs, counters and analog values.
    for (const auto& [address, model] : {std::pair<int, const char*>{1, "KELM-8I8T"},
                                         {2, "KELM-8AD"},
                                         {3, "KELM-16I"},
                                         {4, "KELM-8AS"},
                                         {5, "KELM-2AO"}})
        w.Trend()->AddChannels(ChannelsOf(static_cast<std::uint8_t>(address), model));
    ASSERT_GT(w.Trend()->Channels().size(), 20u);
    TFMserching scan(w.MakeScanContext(), &w);
    TFmabout about(&w);
    TFMnetport netport(boxes_, {}, &w);
    TCommConfig cfg{};
    cfg.dcb.BaudRate = 9600;
    cfg.dcb.ByteSize = 8;
    TksPortConfigDialog props("COM7", cfg, &w);
    Settle();

    // Every module panel and both channel panels, shown or not.
    std::string bad = ChineseIn(CollectTexts(&w));
    for (QWidget* d :
         std::initializer_list<QWidget*>{w.Monitor(), w.Trend(), &scan, &about, &netport, &props})
        bad += ChineseIn(CollectTexts(d));
    // The tree's menus.
    std::unique_ptr<QMenu> menu(w.TreeMenuFor(w.TreeView1->topLevelItem(0)));
    ASSERT_NE(menu, nullptr);
    bad += ChineseIn(CollectTexts(menu.get()));
    // The one Chinese text that stays: the language list names Chinese in Chinese.
    EXPECT_EQ(bad, "QComboBox 'Cmb_language' item: 中文\n");

    EXPECT_EQ(w.ToolButton_Scan->text(), "Scan bus");
    EXPECT_EQ(w.PnlComset()->Sbtn_com_open->text(), "Open port");
    EXPECT_EQ(about.windowTitle(), "About");
    EXPECT_EQ(props.windowTitle(), "COM7 Properties");
}

TEST_F(English, MessageBoxesOfTheWindowsActionsAreEnglish) {
    ASSERT_TRUE(SetUiLanguage(UiLanguage::English));
    TFMmain& w = MakeWindow();
    Pnl_comset& host = *w.PnlComset();
    // A port that is not there; the link check with the port closed.
    host.SetComNumText(QStringLiteral("65000"));
    host.Sbtn_com_openClick();
    host.Btn_readcominfoClick();
    // A Modbus TCP gateway with the ASCII protocol.
    host.SetNetworkPort(HostNetworkPort{4097, *net::ParseNetAddress("mbtcp://127.0.0.1:502"),
                                        QStringLiteral("mbtcp://127.0.0.1:502")});
    host.Cmb_comXY->setCurrentIndex(1);
    host.Sbtn_com_openClick();
    // The network port dialog: nothing entered, then a bad port number, then
    // one that is listed already.
    TFMnetport dialog(
        boxes_, [](const net::NetAddress&) { return true; }, &w);
    dialog.Btn_okClick();
    dialog.Edit_net_host->setText(QStringLiteral("10.0.0.5"));
    dialog.Edit_net_port->setText(QStringLiteral("99999"));
    dialog.Btn_okClick();
    dialog.Edit_net_port->setText(QStringLiteral("4001"));
    dialog.Btn_okClick();
    // The same address twice from the window.
    const auto address = *net::ParseNetAddress("tcp://10.0.0.5:4001");
    ASSERT_TRUE(w.AddNetworkPort(address));
    EXPECT_FALSE(w.AddNetworkPort(address));
    // The scan dialog with an interval out of range.
    TFMserching scan(w.MakeScanContext(), &w);
    scan.findChild<QLineEdit*>(QStringLiteral("Edit_scan_time"))->setText(QStringLiteral("10"));
    scan.Btn_startClick();
    // The monitor's save to a place that cannot be written.
    w.ToolButton_MonitorClick();
    QString error;
    EXPECT_FALSE(w.Monitor()->SaveRows(configDir_.path() + "/no/such/dir/x.txt", &error));

    ASSERT_GE(boxes_.boxes.size(), 8u);
    EXPECT_EQ(BoxesWithChinese(), "");
    EXPECT_EQ(boxes_.boxes[0].title, "Warning");
    EXPECT_EQ(boxes_.boxes[0].text, "The port does not exist or is in use!");
    EXPECT_EQ(boxes_.boxes[1].title, "Notice");
    EXPECT_EQ(boxes_.boxes[1].text, "The port is not open!");
}

// The link check's answer in the memo is built whole in each language.
TEST_F(English, TheLinkChecksAnswerIsBuiltWhole) {
    const struct {
        UiLanguage lang;
        const char* memo;
    } cases[] = {
        {UiLanguage::Chinese, "地址：17\n串口配置：19200/8/2/None"},
        {UiLanguage::English, "Address: 17\nSerial format: 19200/8/2/None"},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(SetUiLanguage(c.lang));
        TFMmain& w = MakeWindow();
        // Registers 3 to 5: format 4 (19200, none, 2 stop), address 17, 'R'.
        const ByteString pbuf = {0x00, 0x03, 0x06, 0x00, 0x04, 0x00, 0x11, 0x00, 0x52};
        w.PnlComset()->Disposal_Modbus03_checkcom(Frame(pbuf));
        EXPECT_EQ(w.PnlComset()->Memo_slavecominf->toPlainText(), QString::fromUtf8(c.memo));
        window_.reset();
    }
}

TEST_F(English, SwitchingRetranslatesOpenWindowsAndBackIsByteForByte) {
    TFMmain& w = MakeWindow();
    w.ToolButton_MonitorClick();
    w.ToolButton_TrendClick();
    w.PnlComset()->btn_advancedClick();
    const ByteString body = {0x00, 0x03, 0x06, 0x00, 0x04, 0x00, 0x11, 0x00, 0x52};
    w.PnlComset()->Disposal_Modbus03_checkcom(Frame(body));
    const std::vector<ShownText> before = CollectTexts(&w);
    const std::vector<ShownText> monitorBefore = CollectTexts(w.Monitor());
    const std::vector<ShownText> trendBefore = CollectTexts(w.Trend());
    EXPECT_EQ(w.ToolButton_Scan->text(), "扫描终端");

    // As the user picks it in the toolbar.
    w.Cmb_language->setCurrentIndex(1);
    emit w.Cmb_language->activated(1);
    Settle();
    EXPECT_EQ(CurrentUiLanguage(), UiLanguage::English);
    EXPECT_EQ(w.ToolButton_Scan->text(), "Scan bus");
    EXPECT_EQ(w.PnlComset()->btn_advanced->text(), "Advanced <<");
    EXPECT_EQ(w.PnlComset()->Memo_slavecominf->toPlainText(),
              "Address: 17\nSerial format: 19200/8/2/None");
    EXPECT_EQ(w.Monitor()->windowTitle(), "Communication monitor");
    EXPECT_EQ(w.Trend()->windowTitle(), "Trend");
    std::string bad = ChineseIn(CollectTexts(&w));
    bad += ChineseIn(CollectTexts(w.Monitor()));
    bad += ChineseIn(CollectTexts(w.Trend()));
    EXPECT_EQ(bad, "QComboBox 'Cmb_language' item: 中文\n");
    // Remembered for the next start.
    EXPECT_EQ(RememberedUiLanguage(), UiLanguage::English);

    w.Cmb_language->setCurrentIndex(0);
    emit w.Cmb_language->activated(0);
    Settle();
    EXPECT_EQ(CurrentUiLanguage(), UiLanguage::Chinese);
    EXPECT_EQ(RememberedUiLanguage(), UiLanguage::Chinese);
    auto same = [](const std::vector<ShownText>& a, const std::vector<ShownText>& b) {
        ASSERT_EQ(a.size(), b.size());
        for (std::size_t i = 0; i < a.size(); ++i)
            EXPECT_EQ(a[i].text.toStdString(), b[i].text.toStdString()) << a[i].where;
    };
    same(CollectTexts(&w), before);
    same(CollectTexts(w.Monitor()), monitorBefore);
    same(CollectTexts(w.Trend()), trendBefore);
}

// The monitor's verdicts for the frames it explains, in English.
TEST_F(English, MonitorVerdictsInEnglish) {
    ASSERT_TRUE(SetUiLanguage(UiLanguage::English));
    ModuleRig rig;
    TFMmonitor monitor{rig.master, rig.boxes};
    rig.Select("KELM-8AD", 1);
    auto hex = [](const char* s) {
        ByteString out;
        for (const char* p = s; *p;) {
            if (*p == ' ') {
                ++p;
                continue;
            }
            out.push_back(static_cast<std::uint8_t>(std::stoi(std::string(p, 2), nullptr, 16)));
            p += 2;
        }
        return out;
    };
    auto text = [](const char* s) { return ByteString(s, s + std::strlen(s)); };
    rig.master.Modbus_Send_oneWord(3, 0, 3);
    const struct {
        int proto;
        ByteString wire;
        QString verdict;
    } rows[] = {
        {kProtocolRtu, FrameRtu(hex("01 03 06 00 10 00 A1 00 B3")),
         "to KELM_8AD_Event, row FC 03 @0 x6 (versions)"},
        {kProtocolRtu, hex("01 03 00"), "Dropped: too short (3 bytes, at least 5)"},
        {kProtocolRtu, FrameRtu(hex("07 03 06 00 10 00 A1 00 B3")),
         "Dropped: from address 7, not the selected module (address 1)"},
        {kProtocolRtu, FrameRtu(hex("01 03 04 00 10 00 A1")),
         "to KELM_8AD_Event, no matching row (function 03, register 0, byte count 4)"},
        {kProtocolAscii, text(":0103060\r\n"),
         "Dropped: odd number of ASCII characters (7 between the colon and CR LF)"},
        {kProtocolAscii, text(":01050000FF00FA\r\n"), "Dropped: LRC error (got FA, expected FB)"},
    };
    for (const auto& r : rows) {
        rig.protocol.index = r.proto;
        rig.St().Modbus_Reg_Addr = 0;
        rig.ReceiveRaw(r.wire);
        const MonitorModel& m = monitor.Frames();
        EXPECT_EQ(m.data(m.index(m.rowCount() - 1, MonitorModel::kColVerdict), Qt::DisplayRole)
                      .toString(),
                  r.verdict);
    }
    // Traffic the frames' words describe: a write and its echo, a read of
    // the modes and its reply, an exception.
    rig.protocol.index = kProtocolRtu;
    rig.master.Modbus_Send_oneWord(6, 7, 0x31);
    rig.St().Modbus_Reg_Addr = 7;
    rig.ReceiveRaw(FrameRtu(hex("01 06 00 07 00 31")));
    rig.master.Modbus_Send_oneWord(3, 6, 8);
    rig.St().Modbus_Reg_Addr = 6;
    rig.ReceiveRaw(FrameRtu(hex("01 03 10 00 30 00 31 00 32 00 33 00 34 00 35 00 36 00 37")));
    rig.master.Modbus_Send_oneWord(4, 0, 12);
    rig.ReceiveRaw(FrameRtu(hex("01 84 02")));
    monitor.RefreshCounters();
    const MonitorModel& m = monitor.Frames();
    auto words = [&m](int row) {
        return m.data(m.index(row, MonitorModel::kColWords), Qt::DisplayRole).toString();
    };
    QStringList all;
    for (int row = 0; row < m.rowCount(); ++row) all << words(row);
    const std::string listed = all.join('\n').toStdString();
    EXPECT_TRUE(all.contains("Read device type, hardware version, software version")) << listed;
    EXPECT_TRUE(all.contains("Write CH1 mode = ±10V")) << listed;
    EXPECT_TRUE(all.contains("Reply: wrote CH1 mode = ±10V")) << listed;
    EXPECT_TRUE(all.contains("Reply: exception 02")) << listed;
    // Every column, the frames' words included.
    std::string bad;
    for (int row = 0; row < m.rowCount(); ++row)
        for (int col = 0; col < MonitorModel::kColumnCount; ++col)
            if (HasChinese(m.data(m.index(row, col), Qt::DisplayRole).toString()))
                bad += m.data(m.index(row, col), Qt::DisplayRole).toString().toStdString() + "\n";
    for (int col = 0; col < MonitorModel::kColumnCount; ++col)
        if (HasChinese(m.headerData(col, Qt::Horizontal, Qt::DisplayRole).toString()))
            bad += "header " + std::to_string(col) + "\n";
    bad += ChineseIn(CollectTexts(monitor.Label_counters));
    bad += ChineseIn(CollectTexts(monitor.Grid_addresses));
    EXPECT_EQ(bad, "");
    // The rows already recorded follow a change of language.
    ASSERT_TRUE(SetUiLanguage(UiLanguage::Chinese));
    all.clear();
    for (int row = 0; row < m.rowCount(); ++row) all << words(row);
    EXPECT_TRUE(all.contains("写 CH1 模式 = ±10V")) << all.join('\n').toStdString();
    EXPECT_TRUE(all.contains("回复: 异常 02")) << all.join('\n').toStdString();
}

// A configuration of the model with every item at its first valid value.
config::ModuleConfig FirstValues(const char* name, int address) {
    config::ModuleConfig c;
    c.model = models::FindModel(name);
    if (!c.model) return c;
    c.identity.address = address;
    c.identity.type = c.model->typeCode;
    for (const models::Item* item : config::ConfigItems(*c.model)) {
        std::uint32_t v = item->min;
        if (item->encoding == models::Encoding::WordBits)
            v = 0;
        else if (!item->choices.empty())
            v = item->choices[0].code;
        c.settings.push_back({item, std::vector<std::uint32_t>(item->channels, v)});
    }
    return c;
}

// The configuration file's dialogs: the difference between the module and a
// file, and the outcome of writing it, with their tables and summaries.
TEST_F(English, ConfigurationDialogsShowNoChinese) {
    ASSERT_TRUE(SetUiLanguage(UiLanguage::English));
    const config::ModuleConfig module = FirstValues("KELM-8I8T", 1);
    ASSERT_NE(module.model, nullptr);
    // The file: a channel's output mode (a choice), a pulse time (a unit) and
    // the module's address (a communication parameter) differ.
    config::ModuleConfig file = module;
    int changed = 0;
    for (config::Setting& st : file.settings) {
        if (st.item->key == "do_mode") {
            st.values[1] = 1;
            ++changed;
        } else if (st.item->key == "pulse_on") {
            st.values[0] += 10;
            ++changed;
        } else if (st.item->key == "address") {
            st.values[0] = 7;
            ++changed;
        }
    }
    ASSERT_EQ(changed, 3);

    ConfigDiffDialog diff(module, file);
    diff.show();
    EXPECT_EQ(diff.DifferingRows(), 3);
    std::string bad = ChineseIn(CollectTexts(&diff));
    QStringList cells;
    for (int row = 0; row < diff.Table()->rowCount(); ++row)
        for (int col = 0; col < diff.Table()->columnCount(); ++col)
            cells << diff.Table()->item(row, col)->text();
    const std::string listed = cells.join('|').toStdString();
    // The differing rows first, the communication parameter marked.
    EXPECT_EQ(cells.first(), "*") << listed;
    EXPECT_TRUE(cells.contains("*Comm")) << listed;
    EXPECT_TRUE(cells.filter("output mode").size() > 0) << listed;

    std::string error;
    const auto plan = config::PlanRestore(module, file, true, &error);
    ASSERT_TRUE(plan) << error;
    ASSERT_EQ(plan->size(), 3u);
    // One that stopped on a failure, the communication step not written.
    config::RestoreResult failed;
    failed.address = 1;
    failed.error = {config::IoFailure::NoReply, "no reply"};
    for (const config::Step& step : *plan)
        failed.steps.push_back({step, config::StepState::NotWritten, {}});
    failed.steps[0].state = config::StepState::Verified;
    failed.steps[1].state = config::StepState::Failed;
    failed.steps[1].message = "no reply";
    // One that wrote everything, the communication step last.
    config::RestoreResult done;
    done.ok = true;
    done.address = 7;
    for (const config::Step& step : *plan)
        done.steps.push_back({step, config::StepState::Verified, {}});
    for (const config::RestoreResult* r : {&failed, &done}) {
        ConfigResultDialog result(*r, file);
        result.show();
        bad += ChineseIn(CollectTexts(&result));
    }
    for (const auto state :
         {config::StepState::NotWritten, config::StepState::Failed, config::StepState::Written,
          config::StepState::Verified, config::StepState::Differs})
        if (HasChinese(StepStateLabel(state))) bad += StepStateLabel(state).toStdString() + "\n";
    EXPECT_EQ(bad, "");
    EXPECT_EQ(diff.windowTitle(), "Load configuration");
    EXPECT_EQ(ConfigResultDialog(failed, file).Summary(),
              "Writing did not complete: no reply\nWritten and verified: 1, written but not "
              "verified: 0, read back differs: 0, failed: 1, not written: 1.\nThe communication "
              "parameters were not written.");
    EXPECT_EQ(ConfigResultDialog(done, file).Summary(),
              "All 3 settings were written and verified by reading back.\nThe module's "
              "communication parameters were written (address 7): scan again with the new "
              "parameters.");
}

// Where the language comes from at start: --lang, then KELM_LANG, then the
// remembered choice, then Chinese; never the system's locale.
TEST_F(English, StartupLanguageSources) {
    const struct {
        QStringList args;
        const char* env;         // KELM_LANG, or nullptr
        const char* remembered;  // or nullptr
        UiLanguage want;
        bool warns;
    } cases[] = {
        {{}, nullptr, nullptr, UiLanguage::Chinese, false},
        {{"--lang", "en"}, nullptr, nullptr, UiLanguage::English, false},
        {{"--lang=en_GB"}, nullptr, nullptr, UiLanguage::English, false},
        {{"--lang", "zh"}, "en", "en", UiLanguage::Chinese, false},
        {{}, "en", nullptr, UiLanguage::English, false},
        {{}, "zh_CN", "en", UiLanguage::Chinese, false},
        {{}, nullptr, "en", UiLanguage::English, false},
        {{"--lang", "fr"}, "en", nullptr, UiLanguage::English, true},
        {{"--lang"}, nullptr, "en", UiLanguage::English, true},
        {{}, "klingon", nullptr, UiLanguage::Chinese, true},
    };
    qputenv("LANG", "en_US.UTF-8");
    for (const auto& c : cases) {
        QFile::remove(NetworkPortSettings::FilePath());
        if (c.env)
            qputenv("KELM_LANG", c.env);
        else
            qunsetenv("KELM_LANG");
        if (c.remembered) {
            QString error;
            ASSERT_TRUE(RememberUiLanguage(*ParseUiLanguage(c.remembered), &error))
                << error.toStdString();
        }
        const UiLanguageStart s = StartupUiLanguage(QStringList{"kelm-utility"} + c.args);
        EXPECT_EQ(s.language, c.want) << c.args.join(' ').toStdString();
        EXPECT_EQ(!s.warning.isEmpty(), c.warns) << s.warning.toStdString();
    }
}

// The language choice shares the settings file with the network ports;
// neither clobbers the other.
TEST_F(English, TheChoiceKeepsTheNetworkPorts) {
    NetworkPortEntry e;
    e.address = *net::ParseNetAddress("tcp://10.0.0.9:4001");
    e.number = 4097;
    QString error;
    ASSERT_TRUE(NetworkPortSettings::Save({e}, &error));
    ASSERT_TRUE(RememberUiLanguage(UiLanguage::English, &error));
    ASSERT_TRUE(NetworkPortSettings::Save({e}, &error));
    EXPECT_EQ(RememberedUiLanguage(), UiLanguage::English);
    const auto ports = NetworkPortSettings::Load();
    ASSERT_EQ(ports.size(), 1u);
    EXPECT_EQ(ports[0].address, e.address);
}

// The configuration buttons' refusals, through the recording double.
TEST_F(English, ConfigurationMessageBoxesAreEnglish) {
    ASSERT_TRUE(SetUiLanguage(UiLanguage::English));
    ModuleRig rig;
    bool portOpen = true;
    QString path;
    ConfigHooks hooks;
    hooks.portOpen = [&portOpen] { return portOpen; };
    hooks.openFileName = [&path](QWidget*) { return path; };
    hooks.saveFileName = [&path](QWidget*, const QString&) { return path; };
    rig.ctx.config = &hooks;
    auto write = [this](const QString& name, const std::string& text) {
        const QString p = configDir_.path() + "/" + name;
        QFile f(p);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text.data(), static_cast<qint64>(text.size()));
        return p;
    };

    SaveModuleConfig(nullptr, rig.ctx);  // no module selected
    rig.Select("KELM-8I8T", 1);
    path = configDir_.path() + "/missing.json";
    LoadModuleConfig(nullptr, rig.ctx);
    path = write("garbage.json", "not a configuration");
    LoadModuleConfig(nullptr, rig.ctx);
    path = write("8ad.json", config::ToJson(FirstValues("KELM-8AD", 1)));
    LoadModuleConfig(nullptr, rig.ctx);
    portOpen = false;
    path = write("8i8t.json", config::ToJson(FirstValues("KELM-8I8T", 1)));
    LoadModuleConfig(nullptr, rig.ctx);

    ASSERT_EQ(rig.boxes.boxes.size(), 5u);
    std::string bad;
    for (const RecordedBox& b : rig.boxes.boxes) {
        EXPECT_EQ(b.title, NoticeTitle());
        if (HasChinese(b.title) || HasChinese(b.text))
            bad += b.title.toStdString() + " / " + b.text.toStdString() + "\n";
    }
    EXPECT_EQ(bad, "");
    const auto& boxes = rig.boxes.boxes;
    EXPECT_EQ(boxes[0].text, "Select a module in the device tree first.");
    EXPECT_TRUE(boxes[1].text.startsWith("Cannot read the file " + configDir_.path()))
        << boxes[1].text.toStdString();
    EXPECT_TRUE(boxes[2].text.startsWith("Invalid configuration file: "))
        << boxes[2].text.toStdString();
    EXPECT_TRUE(boxes[2].text.endsWith("\nNo request was sent.")) << boxes[2].text.toStdString();
    EXPECT_EQ(boxes[3].text,
              "model: the configuration file is for a KELM-8AD, the selected module is a "
              "KELM-8I8T; no request was sent.");
    EXPECT_EQ(boxes[4].text, "The serial port is not open. Open it first.");
}

}  // namespace
}  // namespace kelm::test
