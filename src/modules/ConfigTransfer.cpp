#include "modules/ConfigTransfer.h"

#include <QApplication>
#include <QCheckBox>
#include <QDateTime>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QProgressDialog>
#include <QPushButton>
#include <QSaveFile>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <optional>

#include "gui/Language.h"
#include "gui/MessageBoxes.h"
#include "modbus/ModbusMaster.h"
#include "modules/MasterTransactor.h"
#include "modules/ModuleContext.h"
#include "modules/PanelTexts.h"

namespace kelm {

namespace {

namespace m = kelm::models;
using config::ModuleConfig;
using config::StepState;

// A configuration file is small; anything far larger is not one.
constexpr qint64 kMaxFileSize = 1 << 20;

QString U8(const std::string& s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

QString Title() {
    return NoticeTitle();
}

QString UtcNow() {
    return QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ssZ"));
}

bus::LineSettings LineOf(const ConfigHooks* hooks) {
    return hooks && hooks->line ? hooks->line() : bus::LineSettings{};
}

std::function<bool()> PortOpenOf(const ConfigHooks* hooks) {
    return hooks ? hooks->portOpen : std::function<bool()>{};
}

// The selected module: its model and address; nullptr when the selection is
// not a module this program knows.
const m::Model* SelectedModel(const ModuleContext& ctx) {
    return m::FindModel(ctx.master.State().Node_Device_Name);
}

bool CheckPort(const ModuleContext& ctx) {
    const ConfigHooks* hooks = ctx.config;
    if (hooks && hooks->portOpen && !hooks->portOpen()) {
        ctx.boxes.Warning(Title(),
                          PanelTr(QT_TRANSLATE_NOOP("kelm::Panels", "串口未打开，请先打开串口。")));
        return false;
    }
    return true;
}

// One value as the table shows it: the file's spelling, and for an
// enumerated item the label the panels show.
QString ValueCell(const m::Item& item, std::uint32_t v) {
    QString text = U8(config::ValueText(item, v));
    const m::Choice* c = item.ChoiceByCode(v);
    const QString label = c ? ModelTr(c->label) : QString();
    if (c && label.compare(text, Qt::CaseInsensitive) != 0)
        text += QStringLiteral(" (") + label + QLatin1Char(')');
    else if (!item.unit.empty())
        text += QLatin1Char(' ') + U8(std::string(item.unit));
    return text;
}

QString SettingCell(const m::Item& item, int channel) {
    QString name = U8(config::SettingName(item, channel));
    // The item's short name in the window's language after the file's key.
    const std::string_view shortName = UiIsEnglish() ? item.en : item.zh;
    if (!shortName.empty()) name += QStringLiteral("  ") + U8(std::string(shortName));
    return name;
}

// Reads the module through the window's master; a failure is reported.
std::optional<ModuleConfig> ReadModule(QWidget* parent, const ModuleContext& ctx,
                                       MasterTransactor& link, int address) {
    QProgressDialog busy(PanelTr(QT_TRANSLATE_NOOP("kelm::Panels", "正在读取模块配置......")),
                         QString(), 0, 0, parent);
    busy.setObjectName(QStringLiteral("DlgConfigReading"));
    busy.setWindowTitle(Title());
    busy.setWindowModality(Qt::WindowModal);
    busy.setMinimumDuration(0);
    busy.setValue(0);
    config::IoError error;
    auto c = config::ReadConfig(link, address, {}, UtcNow().toStdString(), &error);
    busy.reset();
    if (!c) {
        ctx.boxes.Warning(Title(),
                          PanelTr(QT_TRANSLATE_NOOP("kelm::Panels", "读取模块配置失败：%1"))
                              .arg(U8(error.message)));
        return std::nullopt;
    }
    return c;
}

}  // namespace

QString SuggestedConfigFileName(const QString& model, int address) {
    return model + QStringLiteral("_addr") + QString::number(address) + QStringLiteral(".json");
}

QString StepStateLabel(StepState s) {
    switch (s) {
        case StepState::NotWritten:
            return PanelTr(QT_TRANSLATE_NOOP("kelm::Panels", "未写入"));
        case StepState::Failed:
            return PanelTr(QT_TRANSLATE_NOOP("kelm::Panels", "失败"));
        case StepState::Written:
            return PanelTr(QT_TRANSLATE_NOOP("kelm::Panels", "已写入，未校验"));
        case StepState::Verified:
            return PanelTr(QT_TRANSLATE_NOOP("kelm::Panels", "已校验"));
        case StepState::Differs:
            return PanelTr(QT_TRANSLATE_NOOP("kelm::Panels", "读回不同"));
    }
    return {};
}

// ---------------------------------------------------------------------------
// The difference

ConfigDiffDialog::ConfigDiffDialog(const ModuleConfig& module, const ModuleConfig& file,
                                   QWidget* parent)
    : QDialog(parent) {
    setObjectName(QStringLiteral("DlgConfigDiff"));
    setWindowTitle(PanelTr(QT_TRANSLATE_NOOP("kelm::Panels", "载入配置")));
    auto* layout = new QVBoxLayout(this);
    auto* intro = new QLabel(
        PanelTr(QT_TRANSLATE_NOOP(
                    "kelm::Panels",
                    "模块 %1（地址 %2）与配置文件的设置；标 * 的行不同，确定后写入这些设置。"))
            .arg(U8(std::string(file.model->name)))
            .arg(module.identity.address),
        this);
    intro->setObjectName(QStringLiteral("Lbl_ConfigDiff"));
    intro->setWordWrap(true);
    layout->addWidget(intro);

    struct Row {
        const m::Item* item;
        int channel;
        std::uint32_t from, to;
    };
    std::vector<Row> differ, same;
    for (const auto& s : file.settings) {
        const config::Setting* cur = module.Find(s.item->key);
        if (!cur) continue;
        for (std::size_t ch = 0; ch < s.values.size() && ch < cur->values.size(); ++ch) {
            Row r{s.item, s.item->channels > 1 ? static_cast<int>(ch) : -1, cur->values[ch],
                  s.values[ch]};
            (r.from != r.to ? differ : same).push_back(r);
        }
    }
    // The communication parameters last, as they are written.
    auto commLast = [](const Row& a, const Row& b) {
        return !config::IsCommItem(*a.item) && config::IsCommItem(*b.item);
    };
    std::stable_sort(differ.begin(), differ.end(), commLast);
    differing_ = static_cast<int>(differ.size());

    table_ = new QTableWidget(static_cast<int>(differ.size() + same.size()), 4, this);
    table_->setObjectName(QStringLiteral("Tbl_ConfigDiff"));
    table_->setHorizontalHeaderLabels({QString(),
                                       PanelTr(QT_TRANSLATE_NOOP("kelm::Panels", "设置")),
                                       PanelTr(QT_TRANSLATE_NOOP("kelm::Panels", "模块值")),
                                       PanelTr(QT_TRANSLATE_NOOP("kelm::Panels", "文件值"))});
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setSelectionMode(QAbstractItemView::NoSelection);
    table_->verticalHeader()->hide();
    int row = 0;
    for (const auto* list : {&differ, &same}) {
        for (const Row& r : *list) {
            const bool differs = r.from != r.to;
            QString mark = differs ? QStringLiteral("*") : QString();
            if (differs && config::IsCommItem(*r.item))
                mark = PanelTr(QT_TRANSLATE_NOOP("kelm::Panels", "*通讯"));
            const QString cells[] = {mark, SettingCell(*r.item, std::max(r.channel, 0)),
                                     ValueCell(*r.item, r.from), ValueCell(*r.item, r.to)};
            for (int col = 0; col < 4; ++col) {
                auto* cell = new QTableWidgetItem(cells[col]);
                if (differs) {
                    QFont f = cell->font();
                    f.setBold(true);
                    cell->setFont(f);
                }
                table_->setItem(row, col, cell);
            }
            ++row;
        }
    }
    table_->resizeColumnsToContents();
    table_->horizontalHeader()->setStretchLastSection(true);
    layout->addWidget(table_, 1);

    comm_ =
        new QCheckBox(PanelTr(QT_TRANSLATE_NOOP(
                          "kelm::Panels", "同时写入通讯参数（串口格式、地址、协议；最后写入）")),
                      this);
    comm_->setObjectName(QStringLiteral("Chk_ConfigComm"));
    comm_->setChecked(false);
    const bool commDiffers = std::any_of(differ.begin(), differ.end(),
                                         [](const Row& r) { return config::IsCommItem(*r.item); });
    comm_->setEnabled(commDiffers);
    layout->addWidget(comm_);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->setObjectName(QStringLiteral("Btns_ConfigDiff"));
    buttons->button(QDialogButtonBox::Ok)
        ->setText(PanelTr(QT_TRANSLATE_NOOP("kelm::Panels", "写入")));
    buttons->button(QDialogButtonBox::Cancel)
        ->setText(PanelTr(QT_TRANSLATE_NOOP("kelm::Panels", "取消")));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    resize(640, 420);
}

bool ConfigDiffDialog::WithComm() const {
    return comm_->isEnabled() && comm_->isChecked();
}

// ---------------------------------------------------------------------------
// The result

ConfigResultDialog::ConfigResultDialog(const config::RestoreResult& result,
                                       const ModuleConfig& wanted, QWidget* parent)
    : QDialog(parent), result_(result) {
    setObjectName(QStringLiteral("DlgConfigResult"));
    setWindowTitle(PanelTr(QT_TRANSLATE_NOOP("kelm::Panels", "载入配置结果")));
    auto* layout = new QVBoxLayout(this);
    summary_ = new QLabel(this);
    summary_->setObjectName(QStringLiteral("Lbl_ConfigResult"));
    summary_->setWordWrap(true);
    summary_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(summary_);

    table_ = new QTableWidget(static_cast<int>(result.steps.size()), 3, this);
    table_->setObjectName(QStringLiteral("Tbl_ConfigResult"));
    table_->setHorizontalHeaderLabels({PanelTr(QT_TRANSLATE_NOOP("kelm::Panels", "结果")),
                                       PanelTr(QT_TRANSLATE_NOOP("kelm::Panels", "设置")),
                                       PanelTr(QT_TRANSLATE_NOOP("kelm::Panels", "说明"))});
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setSelectionMode(QAbstractItemView::NoSelection);
    table_->verticalHeader()->hide();
    int row = 0;
    for (const auto& s : result.steps) {
        table_->setItem(row, 0, new QTableWidgetItem(StepStateLabel(s.state)));
        table_->setItem(row, 1, new QTableWidgetItem(U8(config::DescribeStep(s.step, wanted))));
        table_->setItem(row, 2, new QTableWidgetItem(U8(s.message)));
        ++row;
    }
    table_->resizeColumnsToContents();
    table_->horizontalHeader()->setStretchLastSection(true);
    layout->addWidget(table_, 1);
    summary_->setText(Summary());

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    buttons->setObjectName(QStringLiteral("Btns_ConfigResult"));
    buttons->button(QDialogButtonBox::Ok)
        ->setText(PanelTr(QT_TRANSLATE_NOOP("kelm::Panels", "确定")));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    layout->addWidget(buttons);
    resize(720, 400);
}

QString ConfigResultDialog::Summary() const {
    int verified = 0, written = 0, differs = 0, failed = 0, notWritten = 0;
    for (const auto& s : result_.steps) {
        switch (s.state) {
            case StepState::Verified:
                ++verified;
                break;
            case StepState::Written:
                ++written;
                break;
            case StepState::Differs:
                ++differs;
                break;
            case StepState::Failed:
                ++failed;
                break;
            case StepState::NotWritten:
                ++notWritten;
                break;
        }
    }
    QString text;
    if (result_.ok) {
        text = PanelTr(QT_TRANSLATE_NOOP("kelm::Panels", "全部 %1 项设置已写入并读回校验一致。"))
                   .arg(verified);
    } else {
        text = result_.error.failure == config::IoFailure::None &&
                       result_.error.message.rfind("stopped before", 0) == 0
                   ? PanelTr(QT_TRANSLATE_NOOP("kelm::Panels", "写入已取消。"))
                   : PanelTr(QT_TRANSLATE_NOOP("kelm::Panels", "写入未全部完成：%1"))
                         .arg(U8(result_.error.message));
        text +=
            PanelTr(QT_TRANSLATE_NOOP("kelm::Panels",
                                      "\n已写入并校验 %1 项，已写入未校验 %2 项，读回不同 %3 项，"
                                      "失败 %4 项，未写入 %5 项。"))
                .arg(verified)
                .arg(written)
                .arg(differs)
                .arg(failed)
                .arg(notWritten);
        const bool commNotWritten = std::any_of(
            result_.steps.begin(), result_.steps.end(),
            [](const auto& s) { return s.step.comm && s.state == StepState::NotWritten; });
        if (commNotWritten)
            text += PanelTr(QT_TRANSLATE_NOOP("kelm::Panels", "\n通讯参数未写入。"));
    }
    const bool commSent =
        std::any_of(result_.steps.begin(), result_.steps.end(), [](const auto& s) {
            return s.step.comm && (s.state == StepState::Verified ||
                                   s.state == StepState::Written || s.state == StepState::Differs);
        });
    if (commSent) {
        text +=
            PanelTr(QT_TRANSLATE_NOOP("kelm::Panels",
                                      "\n模块的通讯参数已写入（地址 %1）：请按新参数重新扫描。"))
                .arg(result_.address);
    }
    return text;
}

// ---------------------------------------------------------------------------
// The two actions

void SaveModuleConfig(QWidget* parent, const ModuleContext& ctx) {
    const m::Model* model = SelectedModel(ctx);
    const int address = ctx.master.State().Node_Device_ID;
    if (!model) {
        ctx.boxes.Warning(
            Title(), PanelTr(QT_TRANSLATE_NOOP("kelm::Panels", "请先在设备树中选择一个模块。")));
        return;
    }
    const ConfigHooks* hooks = ctx.config;
    const QString suggested = SuggestedConfigFileName(U8(std::string(model->name)), address);
    const QString path =
        hooks && hooks->saveFileName
            ? hooks->saveFileName(parent, suggested)
            : QFileDialog::getSaveFileName(
                  parent, PanelTr(QT_TRANSLATE_NOOP("kelm::Panels", "保存配置")), suggested,
                  PanelTr(QT_TRANSLATE_NOOP("kelm::Panels", "模块配置 (*.json)")));
    if (path.isEmpty()) return;
    if (!CheckPort(ctx)) return;

    MasterTransactor link(ctx.master, LineOf(hooks), PortOpenOf(hooks));
    const auto c = ReadModule(parent, ctx, link, address);
    if (!c) return;
    if (c->model != model) {
        ctx.boxes.Warning(
            Title(),
            PanelTr(QT_TRANSLATE_NOOP("kelm::Panels", "地址 %1 的模块是 %2，不是 %3；未保存。"))
                .arg(address)
                .arg(U8(std::string(c->model->name)))
                .arg(U8(std::string(model->name))));
        return;
    }
    // Whole or not at all: a failed write leaves the old file as it was.
    QSaveFile out(path);
    const std::string text = config::ToJson(*c);
    if (!out.open(QIODevice::WriteOnly) ||
        out.write(text.data(), static_cast<qint64>(text.size())) !=
            static_cast<qint64>(text.size()) ||
        !out.commit()) {
        ctx.boxes.Warning(Title(), PanelTr(QT_TRANSLATE_NOOP("kelm::Panels", "无法写入文件 %1：%2"))
                                       .arg(path, out.errorString()));
        return;
    }
    ctx.boxes.Information(
        Title(), PanelTr(QT_TRANSLATE_NOOP("kelm::Panels", "模块配置已保存到 %1")).arg(path));
}

void LoadModuleConfig(QWidget* parent, const ModuleContext& ctx) {
    const m::Model* model = SelectedModel(ctx);
    const int address = ctx.master.State().Node_Device_ID;
    if (!model) {
        ctx.boxes.Warning(
            Title(), PanelTr(QT_TRANSLATE_NOOP("kelm::Panels", "请先在设备树中选择一个模块。")));
        return;
    }
    const ConfigHooks* hooks = ctx.config;
    const QString path =
        hooks && hooks->openFileName
            ? hooks->openFileName(parent)
            : QFileDialog::getOpenFileName(
                  parent, PanelTr(QT_TRANSLATE_NOOP("kelm::Panels", "载入配置")), QString(),
                  PanelTr(QT_TRANSLATE_NOOP("kelm::Panels", "模块配置 (*.json)")));
    if (path.isEmpty()) return;

    // The file first: nothing is sent for a file that cannot be used.
    QFile in(path);
    if (!in.open(QIODevice::ReadOnly)) {
        ctx.boxes.Warning(Title(), PanelTr(QT_TRANSLATE_NOOP("kelm::Panels", "无法读取文件 %1：%2"))
                                       .arg(path, in.errorString()));
        return;
    }
    if (in.size() > kMaxFileSize) {
        ctx.boxes.Warning(
            Title(), PanelTr(QT_TRANSLATE_NOOP("kelm::Panels",
                                               "%1 不是模块配置文件（文件过大）；未发送任何请求。"))
                         .arg(path));
        return;
    }
    const QByteArray bytes = in.readAll();
    std::string error;
    const auto wanted = config::ParseConfig(
        std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())), &error);
    if (!wanted) {
        ctx.boxes.Warning(Title(), PanelTr(QT_TRANSLATE_NOOP("kelm::Panels",
                                                             "配置文件无效：%1\n未发送任何请求。"))
                                       .arg(U8(error)));
        return;
    }
    if (wanted->model != model) {
        ctx.boxes.Warning(Title(),
                          PanelTr(QT_TRANSLATE_NOOP("kelm::Panels",
                                                    "model: 配置文件是 %1 的，所选模块是 %2；"
                                                    "未发送任何请求。"))
                              .arg(U8(std::string(wanted->model->name)))
                              .arg(U8(std::string(model->name))));
        return;
    }
    if (!CheckPort(ctx)) return;

    // The transfer holds the master's replies only while it talks to the
    // module, not while the difference is shown.
    auto link = std::make_optional<MasterTransactor>(ctx.master, LineOf(hooks), PortOpenOf(hooks));
    const auto current = ReadModule(parent, ctx, *link, address);
    link.reset();
    if (!current) return;
    if (current->model != wanted->model) {
        ctx.boxes.Warning(Title(),
                          PanelTr(QT_TRANSLATE_NOOP("kelm::Panels",
                                                    "model: 配置文件是 %1 的，地址 %2 的模块是 %3；"
                                                    "未写入任何设置。"))
                              .arg(U8(std::string(wanted->model->name)))
                              .arg(address)
                              .arg(U8(std::string(current->model->name))));
        return;
    }
    if (config::Diff(*current, *wanted).empty()) {
        ctx.boxes.Information(
            Title(),
            PanelTr(QT_TRANSLATE_NOOP("kelm::Panels", "模块的设置与配置文件相同，无需写入。")));
        return;
    }

    ConfigDiffDialog diff(*current, *wanted, parent);
    if (diff.exec() != QDialog::Accepted) return;
    const bool withComm = diff.WithComm();
    auto plan = config::PlanRestore(*current, *wanted, withComm, &error);
    if (!plan) {
        ctx.boxes.Warning(
            Title(), PanelTr(QT_TRANSLATE_NOOP("kelm::Panels", "无法写入：%1\n未写入任何设置。"))
                         .arg(U8(error)));
        return;
    }
    if (plan->empty()) {
        ctx.boxes.Information(Title(), PanelTr(QT_TRANSLATE_NOOP(
                                           "kelm::Panels", "没有要写入的设置（通讯参数未选）。")));
        return;
    }

    QProgressDialog progress(PanelTr(QT_TRANSLATE_NOOP("kelm::Panels", "正在写入模块配置......")),
                             PanelTr(QT_TRANSLATE_NOOP("kelm::Panels", "取消")), 0,
                             static_cast<int>(plan->size()), parent);
    progress.setObjectName(QStringLiteral("DlgConfigProgress"));
    progress.setWindowTitle(Title());
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(0);
    progress.setAutoClose(false);
    progress.setAutoReset(false);
    progress.setValue(0);
    int done = 0;
    link.emplace(ctx.master, LineOf(hooks), PortOpenOf(hooks));
    const auto result = config::ExecuteRestore(
        *link, address, *wanted, *plan, {},
        [&](const config::StepResult& s) {
            if (s.state == StepState::Written || s.state == StepState::Failed) {
                done = std::min(done + 1, progress.maximum());
                progress.setValue(done);
            }
        },
        [&](const config::Step& s) {
            progress.setLabelText(PanelTr(QT_TRANSLATE_NOOP("kelm::Panels", "正在写入 %1 ......"))
                                      .arg(U8(config::DescribeStep(s, *wanted))));
            // A click on Cancel is taken here, between two settings.
            QCoreApplication::processEvents();
            return !progress.wasCanceled();
        });
    link.reset();
    progress.reset();
    progress.hide();

    ConfigResultDialog shown(result, *wanted, parent);
    shown.exec();
}

}  // namespace kelm
