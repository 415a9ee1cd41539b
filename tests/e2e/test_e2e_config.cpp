// End to end on the module panels' configuration files: the real window and
// serial component against a simulated KELM-8I8T on a pseudo-terminal. The
// file a panel saves is the one `kelm backup` writes; a loaded file is
// checked before anything is sent, shown as a difference, written setting
// by setting with the communication parameters last, and ends with each
// setting's outcome, also when the user stops it or the line goes away.
#include <QApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QProgressDialog>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>
#include <QToolButton>
#include <functional>
#include <nlohmann/json.hpp>

#include "../app/WindowFixture.h"
#include "../kelm/RunProgram.h"
#include "app/TFMtrend.h"
#include "config/ConfigFile.h"
#include "kelm-sim/PtyServer.h"
#include "modules/ConfigTransfer.h"
#include "modules/ModulePanel.h"

using namespace kelm;
using namespace kelm::test;

namespace {

constexpr unsigned kCom = 9;
constexpr std::uint8_t kAddr = 5;
constexpr std::uint8_t kType8I8T = 10;
// Holding registers of the KELM-8I8T's pulse times.
constexpr unsigned kPulseOn = 8;
constexpr unsigned kPulseOff = 16;

// Counts the frames the master hands to the line.
struct SentCounter : IFrameObserver {
    int sent = 0;
    void OnFrameSent(const SentFrameInfo&) override { ++sent; }
    void OnFrameReceived(const ReceivedFrameInfo&) override {}
    void OnReplyRow(const ReplyRowInfo&) override {}
};

// The visible top-level widget of that object name, or nullptr.
template <class T>
T* Shown(const char* name) {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->isVisible() && w->objectName() == QLatin1String(name))
            if (auto* t = qobject_cast<T*>(w)) return t;
    return nullptr;
}

// Runs `act` once on the dialog called `name` as soon as it shows, from
// inside whatever event loop is running then (a dialog's exec, the wait for
// a reply).
class WhenShown : public QObject {
  public:
    WhenShown(const char* name, std::function<void(QWidget*)> act)
        : name_(name), act_(std::move(act)) {
        connect(&timer_, &QTimer::timeout, this, [this] {
            for (QWidget* w : QApplication::topLevelWidgets()) {
                if (!done_ && w->isVisible() && w->objectName() == QLatin1String(name_)) {
                    done_ = true;
                    timer_.stop();
                    act_(w);
                    return;
                }
            }
        });
        timer_.start(5);
    }
    bool Done() const { return done_; }

  private:
    const char* name_;
    std::function<void(QWidget*)> act_;
    QTimer timer_;
    bool done_ = false;
};

QString ReadText(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    return QString::fromUtf8(f.readAll());
}

void WriteText(const QString& path, const std::string& text) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(text.data(), static_cast<qint64>(text.size()));
}

config::Setting* Find(config::ModuleConfig& c, std::string_view key) {
    for (auto& s : c.settings)
        if (s.item->key == key) return &s;
    ADD_FAILURE() << "no setting " << key;
    static config::Setting none;
    return &none;
}

}  // namespace

class ConfigEndToEnd : public WindowFixture {
  protected:
    void SetUp() override {
        WindowFixture::SetUp();
        ASSERT_TRUE(files_.isValid());
        std::string err;
        server_ = sim::PtyServer::Create(
            {{sim::ModuleConfig{kType8I8T, kAddr}}, sim::kDefaultReplyDelay, nullptr}, &err);
        ASSERT_TRUE(server_) << err;
        server_->Start();
        Publish(kCom, server_->SlavePath());
        MakeWindow();
        ASSERT_TRUE(PortNamed(kCom));
        OpenPort(kCom);
        W().ConfigFileHooks().saveFileName = [this](QWidget*, const QString& suggested) {
            suggested_ = suggested;
            return savePath_;
        };
        W().ConfigFileHooks().openFileName = [this](QWidget*) { return openPath_; };
        node_ = AddModule(PortNamed(kCom), QStringLiteral("KELM-8I8T(5)"),
                          Channels(QStringLiteral("DI"), 8) + Channels(QStringLiteral("DO"), 8));
        Select(Root());
        Select(node_);
        panel_ = W().Modules().ForModel("KELM-8I8T");
        ASSERT_TRUE(panel_);
        ASSERT_TRUE(panel_->isVisible());
    }
    void TearDown() override {
        WindowFixture::TearDown();
        if (server_) server_->Stop();
    }

    QString File(const char* name) const { return files_.filePath(QLatin1String(name)); }

    std::uint16_t Holding(unsigned reg) {
        return server_->WithBus([&](sim::SimBus& bus) {
            sim::SimModule* m = bus.Find(kAddr);
            return m ? m->HoldingRegister(reg, sim::PtyServer::Now()) : std::uint16_t{0xFFFF};
        });
    }

    // Saves the module through the panel's button and returns the file read back.
    config::ModuleConfig SaveThroughPanel(const char* name) {
        savePath_ = File(name);
        boxes_.boxes.clear();
        panel_->SaveConfigButton()->click();
        EXPECT_EQ(boxes_.boxes.size(), 1u);
        if (!boxes_.boxes.empty()) {
            EXPECT_EQ(boxes_.boxes[0].icon, MsgIcon::Information)
                << boxes_.boxes[0].text.toStdString();
        }
        std::string error;
        auto c = config::ParseConfig(ReadText(savePath_).toStdString(), &error);
        EXPECT_TRUE(c) << error;
        boxes_.boxes.clear();
        return c ? *c : config::ModuleConfig{};
    }

    // Loads `file` through the panel's button: `onDiff` sees the difference
    // dialog (and accepts or rejects it), `onProgress` the progress dialog
    // once shown; returns the outcome the result dialog showed (nullopt when
    // none showed).
    std::optional<config::RestoreResult> Load(
        const config::ModuleConfig& file, const std::function<void(ConfigDiffDialog&)>& onDiff,
        const std::function<void(QProgressDialog&)>& onProgress = {}) {
        openPath_ = File("load.json");
        WriteText(openPath_, config::ToJson(file));
        return LoadPath(onDiff, onProgress);
    }
    std::optional<config::RestoreResult> LoadPath(
        const std::function<void(ConfigDiffDialog&)>& onDiff,
        const std::function<void(QProgressDialog&)>& onProgress = {}) {
        std::optional<config::RestoreResult> result;
        WhenShown diff("DlgConfigDiff", [&](QWidget* w) {
            auto* d = qobject_cast<ConfigDiffDialog*>(w);
            ASSERT_TRUE(d);
            onDiff(*d);
        });
        std::unique_ptr<WhenShown> progress;
        if (onProgress) {
            progress = std::make_unique<WhenShown>("DlgConfigProgress", [&](QWidget* w) {
                auto* p = qobject_cast<QProgressDialog*>(w);
                ASSERT_TRUE(p);
                onProgress(*p);
            });
        }
        WhenShown shown("DlgConfigResult", [&](QWidget* w) {
            auto* r = qobject_cast<ConfigResultDialog*>(w);
            ASSERT_TRUE(r);
            result = r->Result();
            resultSummary_ = r->Summary();
            resultRows_ = r->Table()->rowCount();
            r->accept();
        });
        panel_->LoadConfigButton()->click();
        return result;
    }

    // Calls act once the progress bar reaches `at` (from inside the write).
    static void At(QProgressDialog& p, int at, std::function<void()> act) {
        auto* bar = p.findChild<QProgressBar*>();
        ASSERT_TRUE(bar);
        ASSERT_LT(bar->value(), at) << "the write ran past the point before the test saw it";
        auto fired = std::make_shared<bool>(false);
        QObject::connect(bar, &QProgressBar::valueChanged, &p, [=](int v) {
            if (v >= at && !*fired) {
                *fired = true;
                act();
            }
        });
    }

    QTemporaryDir files_;
    std::unique_ptr<sim::PtyServer> server_;
    QTreeWidgetItem* node_ = nullptr;
    ModulePanel* panel_ = nullptr;
    QString savePath_;
    QString openPath_;
    QString suggested_;
    QString resultSummary_;
    int resultRows_ = 0;
};

TEST_F(ConfigEndToEnd, TheButtonsSitUnderTheIdentityBoxesOfEveryPanel) {
    for (ModulePanel* p : W().Modules().All()) {
        SCOPED_TRACE(p->objectName().toStdString());
        ASSERT_TRUE(p->SaveConfigButton());
        EXPECT_EQ(p->SaveConfigButton()->objectName(), QStringLiteral("Btn_SaveConfig"));
        EXPECT_EQ(p->SaveConfigButton()->text(), QStringLiteral("保存配置..."));
        EXPECT_EQ(p->LoadConfigButton()->objectName(), QStringLiteral("Btn_LoadConfig"));
        EXPECT_EQ(p->LoadConfigButton()->text(), QStringLiteral("载入配置..."));
    }
    // On the shown panel: inside it, below the new-parameter box, over
    // nothing else.
    const QRect save = panel_->SaveConfigButton()->geometry();
    const QRect load = panel_->LoadConfigButton()->geometry();
    EXPECT_TRUE(panel_->rect().contains(save));
    EXPECT_TRUE(panel_->rect().contains(load));
    EXPECT_FALSE(save.intersects(load));
    for (QWidget* w : panel_->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (w == panel_->SaveConfigButton() || w == panel_->LoadConfigButton() || !w->isVisible())
            continue;
        SCOPED_TRACE(w->objectName().toStdString());
        EXPECT_FALSE(w->geometry().intersects(save));
        EXPECT_FALSE(w->geometry().intersects(load));
    }
}

TEST_F(ConfigEndToEnd, SaveWritesWhatKelmBackupWrites) {
    savePath_ = File("panel.json");
    panel_->SaveConfigButton()->click();
    EXPECT_EQ(suggested_, QStringLiteral("KELM-8I8T_addr5.json"));
    ASSERT_EQ(boxes_.boxes.size(), 1u);
    EXPECT_EQ(boxes_.boxes[0].icon, MsgIcon::Information);
    const auto saved = nlohmann::ordered_json::parse(ReadText(savePath_).toStdString());

    // The command line needs the port: the window lets it go.
    Host().Sbtn_com_open->click();
    ASSERT_FALSE(W().ksComm1().Active());
    const auto r = RunProgram(KELM_PROGRAM, {"backup", "--port", server_->SlavePath(), "--address",
                                             "5", "--timeout", "2000"});
    ASSERT_EQ(r.status, 0) << r.err;
    auto backup = nlohmann::ordered_json::parse(r.out);
    auto panel = saved;
    ASSERT_TRUE(panel["identity"].contains("time"));
    backup["identity"].erase("time");
    panel["identity"].erase("time");
    EXPECT_EQ(panel.dump(2), backup.dump(2));
}

TEST_F(ConfigEndToEnd, LoadWritesOnlyWhatDiffersAndVerifiesIt) {
    auto file = SaveThroughPanel("before.json");
    ASSERT_TRUE(file.model);
    const std::uint16_t on3 = Holding(kPulseOn + 3) == 250 ? 251 : 250;
    const std::uint16_t off1 = Holding(kPulseOff + 1) == 300 ? 301 : 300;
    Find(file, "pulse_on")->values[3] = on3;
    Find(file, "pulse_off")->values[1] = off1;
    auto& mode = Find(file, "do_mode")->values[2];
    mode = mode ? 0 : 1;
    const std::uint32_t wantMode = mode;
    const auto result = Load(file, [&](ConfigDiffDialog& d) {
        EXPECT_EQ(d.DifferingRows(), 3);
        // The differing rows come first and are marked; the others are not.
        QStringList marked;
        for (int row = 0; row < d.Table()->rowCount(); ++row) {
            if (!d.Table()->item(row, 0)->text().isEmpty())
                marked << d.Table()->item(row, 1)->text().section(QLatin1Char(' '), 0, 0);
            else
                EXPECT_GE(row, 3);
        }
        EXPECT_EQ(marked,
                  (QStringList{QStringLiteral("do_mode.DO2"), QStringLiteral("pulse_on.DO3"),
                               QStringLiteral("pulse_off.DO1")}));
        EXPECT_EQ(d.Table()->item(1, 3)->text().section(QLatin1Char(' '), 0, 0),
                  QString::number(on3));
        EXPECT_FALSE(d.CommBox()->isChecked());
        d.accept();
    });
    ASSERT_TRUE(result);
    EXPECT_TRUE(result->ok) << result->error.message;
    ASSERT_EQ(result->steps.size(), 3u);
    for (const auto& s : result->steps) {
        EXPECT_EQ(s.state, config::StepState::Verified);
        EXPECT_FALSE(s.step.comm);
    }
    EXPECT_EQ(resultRows_, 3);
    EXPECT_TRUE(resultSummary_.contains(QStringLiteral("校验一致")))
        << resultSummary_.toStdString();
    EXPECT_EQ(Holding(kPulseOn + 3), on3);
    EXPECT_EQ(Holding(kPulseOff + 1), off1);
    // The module now reads as the file.
    const auto after = SaveThroughPanel("after.json");
    for (const auto& s : file.settings) {
        SCOPED_TRACE(std::string(s.item->key));
        ASSERT_TRUE(after.Find(s.item->key));
        EXPECT_EQ(after.Find(s.item->key)->values, s.values);
    }
    EXPECT_EQ(after.Find("do_mode")->values[2], wantMode);
}

TEST_F(ConfigEndToEnd, CancelStopsBetweenSettingsAndTheResultSaysWhatWasWritten) {
    auto file = SaveThroughPanel("before.json");
    const auto before = file;
    for (std::uint32_t ch = 0; ch < 8; ++ch) {
        Find(file, "pulse_on")->values[ch] = 1000 + ch;
        Find(file, "pulse_off")->values[ch] = 2000 + ch;
    }
    Find(file, "address")->values[0] = 9;
    const auto result = Load(
        file,
        [](ConfigDiffDialog& d) {
            d.CommBox()->setChecked(true);
            d.accept();
        },
        [](QProgressDialog& p) { At(p, 2, [&p] { p.cancel(); }); });
    ASSERT_TRUE(result);
    EXPECT_FALSE(result->ok);
    ASSERT_EQ(result->steps.size(), 17u);  // 16 channels, then the communication write
    for (std::size_t i = 0; i < result->steps.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(result->steps[i].state,
                  i < 2 ? config::StepState::Verified : config::StepState::NotWritten);
    }
    EXPECT_TRUE(result->steps.back().step.comm);
    EXPECT_TRUE(resultSummary_.contains(QStringLiteral("写入已取消")))
        << resultSummary_.toStdString();
    EXPECT_TRUE(resultSummary_.contains(QStringLiteral("未写入 15 项")))
        << resultSummary_.toStdString();
    EXPECT_TRUE(resultSummary_.contains(QStringLiteral("通讯参数未写入")));
    EXPECT_EQ(Holding(kPulseOn + 0), 1000);
    EXPECT_EQ(Holding(kPulseOn + 1), 1001);
    for (unsigned ch = 2; ch < 8; ++ch)
        EXPECT_EQ(Holding(kPulseOn + ch), before.Find("pulse_on")->values[ch]);
    EXPECT_EQ(Holding(4), kAddr);  // the address register
}

TEST_F(ConfigEndToEnd, APortLostMidwayEndsWithTheResultAndNoCommunicationWrite) {
    auto file = SaveThroughPanel("before.json");
    for (std::uint32_t ch = 0; ch < 8; ++ch) Find(file, "pulse_on")->values[ch] = 3000 + ch;
    Find(file, "address")->values[0] = 9;
    const auto result = Load(
        file,
        [](ConfigDiffDialog& d) {
            d.CommBox()->setChecked(true);
            d.accept();
        },
        [this](QProgressDialog& p) { At(p, 2, [this] { server_->Stop(); }); });
    ASSERT_TRUE(result) << "no result dialog";
    EXPECT_FALSE(result->ok);
    EXPECT_TRUE(result->error.failure == config::IoFailure::PortLost ||
                result->error.failure == config::IoFailure::NoReply)
        << result->error.message;
    ASSERT_EQ(result->steps.size(), 9u);
    EXPECT_EQ(result->steps[0].state, config::StepState::Written);
    EXPECT_EQ(result->steps[1].state, config::StepState::Written);
    EXPECT_EQ(result->steps[2].state, config::StepState::Failed);
    for (std::size_t i = 3; i < result->steps.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(result->steps[i].state, config::StepState::NotWritten);
    }
    EXPECT_TRUE(result->steps.back().step.comm);
    EXPECT_TRUE(resultSummary_.contains(QStringLiteral("通讯参数未写入")))
        << resultSummary_.toStdString();
}

TEST_F(ConfigEndToEnd, ABadFileIsRefusedNamingTheKeyAndNothingIsSent) {
    const auto good = nlohmann::ordered_json::parse(config::ToJson(SaveThroughPanel("good.json")));
    auto edit = [&](const std::function<void(nlohmann::ordered_json&)>& f) {
        auto j = good;
        f(j);
        return j.dump(2);
    };
    // A good file of another model.
    const std::string other = R"({"format":"kelm-module-config","version":1,"model":"KELM-8RY",
        "settings":{"ry_init":{"RY0":"on","RY1":"off","RY2":"off","RY3":"off","RY4":"off",
        "RY5":"off","RY6":"off","RY7":"on"}}})";
    struct Case {
        const char* what;
        std::string text;
        const char* mustName;
    };
    const Case cases[] = {
        {"other model", other, "model"},
        {"bad JSON", "{\"format\": \"kelm-module-config\", \"version\": ", "JSON"},
        {"out of range", edit([](auto& j) { j["settings"]["pulse_on"]["DO3"] = 1; }),
         "settings.pulse_on.DO3"},
        {"unknown key", edit([](auto& j) { j["settings"]["ai_mode"] = "current"; }),
         "settings.ai_mode"},
    };
    SentCounter counter;
    W().Master().SetFrameObserver(&counter);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        openPath_ = File("bad.json");
        WriteText(openPath_, c.text);
        boxes_.boxes.clear();
        const auto result = LoadPath([](ConfigDiffDialog& d) {
            ADD_FAILURE() << "the difference was shown";
            d.reject();
        });
        EXPECT_FALSE(result);
        ASSERT_EQ(boxes_.boxes.size(), 1u);
        EXPECT_EQ(boxes_.boxes[0].icon, MsgIcon::Warning);
        EXPECT_TRUE(boxes_.boxes[0].text.contains(QLatin1String(c.mustName)))
            << boxes_.boxes[0].text.toStdString();
        EXPECT_TRUE(boxes_.boxes[0].text.contains(QStringLiteral("未发送任何请求")));
        EXPECT_EQ(counter.sent, 0);
    }
    W().Master().SetFrameObserver(nullptr);
}

// With the trend view polling the same module, the transfer's requests take
// their turns with the polls: what is saved and what is written are the same
// as on a quiet line.
TEST_F(ConfigEndToEnd, SaveAndLoadTakeTheirTurnsWithTheTrendPoller) {
    const auto quiet = SaveThroughPanel("quiet.json");
    W().AddNodeToTrend(node_);
    TFMtrend* trend = W().Trend();
    ASSERT_TRUE(trend);
    trend->Btn_start->click();
    ASSERT_TRUE(WaitUntil([&] { return trend->Poller().Rounds() >= 2; }, 20000));
    Select(Root());
    Select(node_);

    auto busy = SaveThroughPanel("busy.json");
    ASSERT_EQ(busy.settings.size(), quiet.settings.size());
    for (std::size_t i = 0; i < busy.settings.size(); ++i) {
        SCOPED_TRACE(std::string(busy.settings[i].item->key));
        EXPECT_EQ(busy.settings[i].values, quiet.settings[i].values);
    }
    const std::uint16_t on5 = Holding(kPulseOn + 5) == 777 ? 778 : 777;
    Find(busy, "pulse_on")->values[5] = on5;
    const auto result = Load(busy, [](ConfigDiffDialog& d) { d.accept(); });
    ASSERT_TRUE(result);
    EXPECT_TRUE(result->ok) << result->error.message;
    ASSERT_EQ(result->steps.size(), 1u);
    EXPECT_EQ(result->steps[0].state, config::StepState::Verified);
    EXPECT_EQ(Holding(kPulseOn + 5), on5);
    EXPECT_TRUE(trend->Poller().Running());
    trend->Btn_stop->click();
}
