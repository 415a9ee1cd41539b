#include "app/TFMmonitor.h"

#include <QBrush>
#include <QColor>
#include <QEvent>
#include <QFileDialog>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSaveFile>
#include <QScrollBar>
#include <QTableView>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include "gui/Language.h"
#include "gui/MessageBoxes.h"
#include "modbus/Checks.h"
#include "modbus/ModbusMaster.h"
#include "models/ModelMap.h"

namespace kelm {

namespace {

constexpr int kRefreshMs = 200;

QString Hex2(unsigned v) {
    return QStringLiteral("%1").arg(v, 2, 16, QLatin1Char('0')).toUpper();
}
QString Hex4(unsigned v) {
    return QStringLiteral("%1").arg(v, 4, 16, QLatin1Char('0')).toUpper();
}
// Function codes as Modbus writes them: two decimal digits (03, 16).
QString Fc(unsigned code) {
    return QStringLiteral("%1").arg(code, 2, 10, QLatin1Char('0'));
}

int HexValue(std::uint8_t c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

QString Unit(const MonitorFrame& f) {
    return f.protocol == kProtocolAscii ? TFMmonitor::tr("字符") : TFMmonitor::tr("字节");
}

// What the check expected against what came, for a frame that failed it.
QString CrcDetail(const MonitorFrame& f) {
    const std::size_t n = f.bytes.size();
    if (n < 3 || n != f.length) return {};
    const unsigned got = static_cast<unsigned>(f.bytes[n - 1] << 8 | f.bytes[n - 2]);
    const unsigned want = Calculate_CRC16_Modbus(f.bytes.data(), static_cast<std::uint16_t>(n - 2));
    return TFMmonitor::tr("（收到 %1，应为 %2）").arg(Hex4(got), Hex4(want));
}

QString LrcDetail(const MonitorFrame& f) {
    const std::size_t n = f.bytes.size();
    if (n < 5 || n != f.length || (n - 3) % 2 != 0) return {};
    ByteString decoded;
    for (std::size_t i = 1; i + 1 < n - 1; i += 2) {
        const int hi = HexValue(f.bytes[i]);
        const int lo = HexValue(f.bytes[i + 1]);
        if (hi < 0 || lo < 0) return {};
        decoded.push_back(static_cast<std::uint8_t>(hi << 4 | lo));
    }
    if (decoded.empty()) return {};
    const unsigned want =
        Calculate_LRC_Modbus(decoded.data(), static_cast<std::uint16_t>(decoded.size() - 1));
    return TFMmonitor::tr("（收到 %1，应为 %2）").arg(Hex2(decoded.back()), Hex2(want));
}

// The first character of an ASCII frame that is not a hex digit, 1-based.
int FirstNonHex(const MonitorFrame& f) {
    const std::size_t n = f.bytes.size();
    for (std::size_t i = 1; i + 2 < n; ++i)
        if (HexValue(f.bytes[i]) < 0) return static_cast<int>(i) + 1;
    return 0;
}

QString RowText(const MonitorFrame& f) {
    switch (f.row) {
        case MonitorFrame::RowState::Matched: {
            QString t = TFMmonitor::tr("，表行 ") + QString::fromStdString(f.rowKey);
            if (!f.rowWhat.empty())
                t += TFMmonitor::tr("（%1）").arg(QString::fromStdString(f.rowWhat));
            return t;
        }
        case MonitorFrame::RowState::NoRow:
            return TFMmonitor::tr("，无匹配表行（功能码%1，寄存器%2，字节数%3）")
                .arg(Fc(f.rowCommand))
                .arg(f.rowRegAddr)
                .arg(f.rowByteCount);
        case MonitorFrame::RowState::None:
            break;
    }
    return {};
}

QString RequestRefText(const RequestRef& r) {
    if (!r.any) return TFMmonitor::tr("（尚无请求）");
    return TFMmonitor::tr("地址%1 功能码%2 寄存器%3")
        .arg(r.address)
        .arg(Fc(r.functionCode))
        .arg(r.regAddr);
}

void CountInto(MonitorCounts& c, const MonitorFrame& f, int delta) {
    auto add = [delta](std::uint64_t& v) {
        v = static_cast<std::uint64_t>(static_cast<std::int64_t>(v) + delta);
    };
    if (f.sent) {
        if (!f.offLine) add(c.sent);
    } else if (f.row == MonitorFrame::RowState::NoRow) {
        add(c.dropped[kDropNoRow]);
    } else if (f.Accepted()) {
        add(c.accepted);
    } else {
        add(c.dropped[static_cast<int>(f.verdict)]);
    }
}

// "CRC错误 2，非所选地址 1", the reasons that occurred, in a fixed order.
QString ReasonsText(const MonitorCounts& c) {
    QStringList parts;
    for (int r = 0; r < kDropReasonCount; ++r)
        if (c.dropped[static_cast<std::size_t>(r)] > 0)
            parts << QStringLiteral("%1 %2")
                         .arg(DropReasonName(r))
                         .arg(c.dropped[static_cast<std::size_t>(r)]);
    return parts.join(TFMmonitor::tr("，"));
}

ByteString Kept(std::span<const std::uint8_t> bytes) {
    const std::size_t n = std::min(bytes.size(), kMonitorBytesKept);
    return ByteString(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n));
}

}  // namespace

// ---------------------------------------------------------------------------
// Frames and their texts

int MonitorFrame::CountedAddress() const {
    if (!sent && passedCheck) return replyAddress;
    return request.any ? request.address : -1;
}

bool MonitorFrame::Accepted() const {
    return !sent && IsAccepted(verdict) && row != RowState::NoRow;
}

std::uint64_t MonitorCounts::Dropped() const {
    std::uint64_t n = 0;
    for (std::uint64_t d : dropped) n += d;
    return n;
}

QString FrameHexText(const MonitorFrame& f) {
    QString t;
    t.reserve(static_cast<int>(f.bytes.size()) * 3);
    for (std::size_t i = 0; i < f.bytes.size(); ++i) {
        if (i > 0) t += QLatin1Char(' ');
        t += Hex2(f.bytes[i]);
    }
    if (f.length > f.bytes.size()) t += TFMmonitor::tr(" …（共%1字节）").arg(f.length);
    return t;
}

QString FrameAsciiText(const MonitorFrame& f) {
    if (f.protocol != kProtocolAscii) return {};
    QString t;
    for (std::uint8_t b : f.bytes) {
        if (b == '\r')
            t += QStringLiteral("\\r");
        else if (b == '\n')
            t += QStringLiteral("\\n");
        else if (b >= 0x20 && b < 0x7F && b != '\\')
            t += QLatin1Char(static_cast<char>(b));
        else
            t += QStringLiteral("\\x") + Hex2(b);
    }
    if (f.length > f.bytes.size()) t += QStringLiteral("…");
    return t;
}

QString FrameWordsText(const MonitorFrame& f) {
    return QString::fromStdString(UiIsEnglish() ? f.wordsEn : f.words);
}

QString FrameVerdictText(const MonitorFrame& f) {
    if (f.sent) return f.offLine ? TFMmonitor::tr("串口未打开，未发出") : QString();
    const QString handler = QString::fromStdString(f.handler);
    const QString drop = TFMmonitor::tr("丢弃：");
    switch (f.verdict) {
        case ReceiveVerdict::ToScan:
            return TFMmonitor::tr("送扫描处理 ") + handler + RowText(f);
        case ReceiveVerdict::ToCheckCom:
            return TFMmonitor::tr("送链路检测 ") + handler + RowText(f);
        case ReceiveVerdict::ToModel:
            return TFMmonitor::tr("送 ") + handler + RowText(f);
        case ReceiveVerdict::TooShort:
            return drop + TFMmonitor::tr("太短（%1%2，至少5）").arg(f.length).arg(Unit(f));
        case ReceiveVerdict::TooLong:
            return drop + TFMmonitor::tr("太长（%1%2，至多256）").arg(f.length).arg(Unit(f));
        case ReceiveVerdict::CrcMismatch:
            return drop + TFMmonitor::tr("CRC校验错误") + CrcDetail(f);
        case ReceiveVerdict::LrcMismatch:
            return drop + TFMmonitor::tr("LRC校验错误") + LrcDetail(f);
        case ReceiveVerdict::OddLength:
            return drop + TFMmonitor::tr("ASCII字符数为奇数（冒号与回车换行之间%1个）")
                              .arg(f.length >= 3 ? f.length - 3 : 0);
        case ReceiveVerdict::NotHex: {
            const int at = FirstNonHex(f);
            return drop + (at > 0 ? TFMmonitor::tr("含非十六进制字符（第%1个字符）").arg(at)
                                  : TFMmonitor::tr("含非十六进制字符"));
        }
        case ReceiveVerdict::NoProtocol:
            return drop + TFMmonitor::tr("未选择协议，无法校验");
        case ReceiveVerdict::BroadcastNotCheck:
            return drop + TFMmonitor::tr("地址0的应答，但不是链路检测的应答");
        case ReceiveVerdict::OtherAddress:
            if (f.selectedAddress == 0)
                return drop + TFMmonitor::tr("来自地址%1，尚未选择模块").arg(f.replyAddress);
            return drop + TFMmonitor::tr("来自地址%1，不是所选模块（地址%2）")
                              .arg(f.replyAddress)
                              .arg(f.selectedAddress);
        case ReceiveVerdict::NoHandler:
            if (!f.handler.empty()) return drop + handler + TFMmonitor::tr(" 没有登记处理程序");
            if (f.selectedModel.empty())
                return drop + TFMmonitor::tr("尚未选择模块型号，没有应答处理程序");
            return drop + TFMmonitor::tr("型号“%1”没有应答处理程序")
                              .arg(QString::fromStdString(f.selectedModel));
        case ReceiveVerdict::WhileHandling:
            return drop + TFMmonitor::tr("在处理上一应答期间到达");
        case ReceiveVerdict::ToPoll:
            return TFMmonitor::tr("送趋势图轮询") + RowText(f);
        case ReceiveVerdict::LatePoll:
            return drop + TFMmonitor::tr("趋势图轮询超时后迟到的应答");
    }
    return {};
}

QString FrameRequestText(const MonitorFrame& f) {
    QString t = RequestRefText(f.request);
    // A reply read against a newer request shows itself here.
    if (!f.sent && f.passedCheck && f.request.any &&
        (f.replyCommand & 0x7F) != f.request.functionCode)
        t += TFMmonitor::tr("（应答功能码%1与之不同）").arg(Fc(f.replyCommand));
    return t;
}

QString DropReasonName(int reason) {
    if (reason == kDropNoRow) return TFMmonitor::tr("无匹配表行");
    switch (static_cast<ReceiveVerdict>(reason)) {
        case ReceiveVerdict::TooShort:
            return TFMmonitor::tr("太短");
        case ReceiveVerdict::TooLong:
            return TFMmonitor::tr("太长");
        case ReceiveVerdict::CrcMismatch:
            return TFMmonitor::tr("CRC错误");
        case ReceiveVerdict::LrcMismatch:
            return TFMmonitor::tr("LRC错误");
        case ReceiveVerdict::OddLength:
            return TFMmonitor::tr("奇数长度");
        case ReceiveVerdict::NotHex:
            return TFMmonitor::tr("非十六进制");
        case ReceiveVerdict::NoProtocol:
            return TFMmonitor::tr("未选协议");
        case ReceiveVerdict::BroadcastNotCheck:
            return TFMmonitor::tr("非链路检测的广播应答");
        case ReceiveVerdict::OtherAddress:
            return TFMmonitor::tr("非所选地址");
        case ReceiveVerdict::NoHandler:
            return TFMmonitor::tr("无处理程序");
        case ReceiveVerdict::WhileHandling:
            return TFMmonitor::tr("处理中到达");
        case ReceiveVerdict::LatePoll:
            return TFMmonitor::tr("轮询迟到应答");
        case ReceiveVerdict::ToPoll:
        case ReceiveVerdict::ToScan:
        case ReceiveVerdict::ToCheckCom:
        case ReceiveVerdict::ToModel:
            break;
    }
    return {};
}

// ---------------------------------------------------------------------------
// Model

MonitorModel::MonitorModel(QObject* parent, int capacity)
    : QAbstractTableModel(parent), capacity_(std::max(1, capacity)) {}

int MonitorModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(frames_.size());
}

int MonitorModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumnCount;
}

QVariant MonitorModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) return {};
    const MonitorFrame& f = At(index.row());
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole) {
        switch (index.column()) {
            case kColTime:
                return QString::number(f.timeMs);
            case kColDirection:
                return f.sent ? TFMmonitor::tr("发送") : TFMmonitor::tr("接收");
            case kColLength:
                return QString::number(f.length);
            case kColBytes:
                return FrameHexText(f);
            case kColText:
                return FrameAsciiText(f);
            case kColWords:
                return FrameWordsText(f);
            case kColVerdict:
                return FrameVerdictText(f);
            case kColRequest:
                return FrameRequestText(f);
            default:
                return {};
        }
    }
    if (role == Qt::ForegroundRole && !f.sent && index.column() == kColVerdict)
        return QBrush(f.Accepted() ? QColor(0x10, 0x70, 0x28) : QColor(0xb0, 0x20, 0x18));
    if (role == Qt::ForegroundRole && f.sent && index.column() == kColDirection)
        return QBrush(QColor(0x1a, 0x50, 0xa8));
    if (role == Qt::TextAlignmentRole &&
        (index.column() == kColTime || index.column() == kColLength))
        return QVariant(Qt::AlignRight | Qt::AlignVCenter);
    return {};
}

QVariant MonitorModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    switch (section) {
        case kColTime:
            return TFMmonitor::tr("时间(ms)");
        case kColDirection:
            return TFMmonitor::tr("方向");
        case kColLength:
            return TFMmonitor::tr("长度");
        case kColBytes:
            return TFMmonitor::tr("字节（十六进制）");
        case kColText:
            return TFMmonitor::tr("ASCII文本");
        case kColWords:
            return TFMmonitor::tr("说明");
        case kColVerdict:
            return TFMmonitor::tr("结论");
        case kColRequest:
            return TFMmonitor::tr("所依据的请求");
        default:
            return {};
    }
}

void MonitorModel::Append(MonitorFrame frame) {
    if (static_cast<int>(frames_.size()) >= capacity_) {
        beginRemoveRows({}, 0, 0);
        frames_.pop_front();
        endRemoveRows();
    }
    const int row = static_cast<int>(frames_.size());
    beginInsertRows({}, row, row);
    frames_.push_back(std::move(frame));
    endInsertRows();
}

MonitorFrame* MonitorModel::FindReceived(std::uint64_t seq) {
    // The frame asked for is nearly always the newest or close to it.
    for (auto it = frames_.rbegin(); it != frames_.rend(); ++it) {
        if (it->sent) continue;
        if (it->seq == seq) return &*it;
        if (it->seq < seq) break;  // numbers only grow
    }
    return nullptr;
}

void MonitorModel::Changed(const MonitorFrame& frame) {
    for (int row = rowCount() - 1; row >= 0; --row) {
        if (&At(row) != &frame) continue;
        emit dataChanged(index(row, 0), index(row, kColumnCount - 1));
        return;
    }
}

void MonitorModel::Retranslate() {
    // Every text is made when it is asked for; the views just ask again.
    emit headerDataChanged(Qt::Horizontal, 0, kColumnCount - 1);
    if (!frames_.empty()) emit dataChanged(index(0, 0), index(rowCount() - 1, kColumnCount - 1));
}

void MonitorModel::Clear() {
    beginResetModel();
    frames_.clear();
    endResetModel();
}

QString MonitorModel::Line(int row) const {
    QStringList cols;
    for (int c = 0; c < kColumnCount; ++c) cols << data(index(row, c), Qt::DisplayRole).toString();
    return cols.join(QLatin1Char('\t'));
}

// ---------------------------------------------------------------------------
// Window

TFMmonitor::TFMmonitor(ModbusMaster& master, IMessageBoxes& boxes, std::function<bool()> portOpen,
                       QWidget* parent)
    : QWidget(parent, Qt::Window), master_(master), boxes_(boxes), portOpen_(std::move(portOpen)) {
    setObjectName(QStringLiteral("FMmonitor"));
    resize(1100, 620);

    auto* layout = new QVBoxLayout(this);
    auto* buttons = new QHBoxLayout;
    Btn_pause = new QPushButton(this);
    Btn_pause->setObjectName(QStringLiteral("Btn_pause"));
    Btn_pause->setCheckable(true);
    Btn_clear = new QPushButton(this);
    Btn_clear->setObjectName(QStringLiteral("Btn_clear"));
    Btn_save = new QPushButton(this);
    Btn_save->setObjectName(QStringLiteral("Btn_save"));
    buttons->addWidget(Btn_pause);
    buttons->addWidget(Btn_clear);
    buttons->addWidget(Btn_save);
    buttons->addStretch(1);
    layout->addLayout(buttons);

    auto* counts = new QGroupBox(this);
    Gro_counters_ = counts;
    counts->setObjectName(QStringLiteral("Gro_counters"));
    auto* countsLayout = new QVBoxLayout(counts);
    Label_counters = new QLabel(counts);
    Label_counters->setObjectName(QStringLiteral("Label_counters"));
    Label_counters->setWordWrap(true);
    Label_counters->setTextInteractionFlags(Qt::TextSelectableByMouse);
    countsLayout->addWidget(Label_counters);
    Grid_addresses = new QTableWidget(0, 5, counts);
    Grid_addresses->setObjectName(QStringLiteral("Grid_addresses"));
    Grid_addresses->verticalHeader()->setVisible(false);
    Grid_addresses->verticalHeader()->setDefaultSectionSize(22);
    Grid_addresses->horizontalHeader()->setStretchLastSection(true);
    for (int c = 0; c < 4; ++c) Grid_addresses->setColumnWidth(c, 80);
    Grid_addresses->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Grid_addresses->setSelectionMode(QAbstractItemView::NoSelection);
    Grid_addresses->setFixedHeight(130);
    countsLayout->addWidget(Grid_addresses);
    layout->addWidget(counts);

    model_ = new MonitorModel(this);
    Grid_frames = new QTableView(this);
    Grid_frames->setObjectName(QStringLiteral("Grid_frames"));
    Grid_frames->setModel(model_);
    // Fixed row heights and column widths: nothing is measured per row, so
    // ten thousand rows cost no more than the visible ones.
    Grid_frames->verticalHeader()->setVisible(false);
    Grid_frames->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    Grid_frames->verticalHeader()->setDefaultSectionSize(22);
    Grid_frames->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    Grid_frames->horizontalHeader()->setStretchLastSection(true);
    Grid_frames->setWordWrap(false);
    Grid_frames->setTextElideMode(Qt::ElideRight);
    Grid_frames->setSelectionBehavior(QAbstractItemView::SelectRows);
    Grid_frames->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Grid_frames->setAlternatingRowColors(true);
    const int widths[] = {70, 44, 44, 250, 130, 260, 330};
    for (int c = 0; c < 7; ++c) Grid_frames->setColumnWidth(c, widths[c]);
    layout->addWidget(Grid_frames, 1);

    // The newest row stays in view until the user scrolls away from the end.
    QScrollBar* bar = Grid_frames->verticalScrollBar();
    connect(bar, &QScrollBar::actionTriggered, this, [this, bar] {
        QTimer::singleShot(0, this, [this, bar] { follow_ = bar->value() >= bar->maximum(); });
    });
    connect(bar, &QScrollBar::sliderReleased, this,
            [this, bar] { follow_ = bar->value() >= bar->maximum(); });

    refreshTimer_ = new QTimer(this);
    refreshTimer_->setSingleShot(true);
    refreshTimer_->setInterval(kRefreshMs);
    connect(refreshTimer_, &QTimer::timeout, this, [this] {
        RefreshCounters();
        if (follow_) Grid_frames->scrollToBottom();
    });

    connect(Btn_pause, &QPushButton::clicked, this, [this] { Btn_pauseClick(); });
    connect(Btn_clear, &QPushButton::clicked, this, [this] { Btn_clearClick(); });
    connect(Btn_save, &QPushButton::clicked, this, [this] { Btn_saveClick(); });

    clock_.start();
    RetranslateUi();
    master_.SetFrameObserver(this);
}

void TFMmonitor::RetranslateUi() {
    setWindowTitle(tr("通讯监视"));
    Btn_pause->setText(paused_ ? tr("继续") : tr("暂停"));
    Btn_clear->setText(tr("清除"));
    Btn_save->setText(tr("保存..."));
    Gro_counters_->setTitle(tr("计数"));
    Grid_addresses->setHorizontalHeaderLabels(
        {tr("从站地址"), tr("发送"), tr("接受"), tr("丢弃"), tr("丢弃原因")});
    model_->Retranslate();
    RefreshCounters();
}

void TFMmonitor::changeEvent(QEvent* event) {
    if (event->type() == QEvent::LanguageChange) RetranslateUi();
    QWidget::changeEvent(event);
}

TFMmonitor::~TFMmonitor() {
    if (master_.FrameObserver() == this) master_.SetFrameObserver(nullptr);
}

// --- what the master tells -----------------------------------------------------

void TFMmonitor::OnFrameSent(const SentFrameInfo& info) {
    MonitorFrame f;
    f.sent = true;
    f.offLine = portOpen_ && !portOpen_();
    f.length = info.frame.size();
    f.bytes = Kept(info.frame);
    f.protocol = info.protocol;
    f.request = info.request;
    if (!paused_) {
        const models::Model* model = models::FindModel(master_.State().Node_Device_Name);
        const std::vector<int> modes = channelModes_ ? channelModes_() : std::vector<int>{};
        f.words = models::DescribeRequestFrame(model, info.frame, info.protocol, modes);
        f.wordsEn = models::DescribeRequestFrame(model, info.frame, info.protocol, modes,
                                                 models::TextLanguage::English);
    }
    Add(std::move(f));
}

void TFMmonitor::OnFrameReceived(const ReceivedFrameInfo& info) {
    MonitorFrame f;
    f.seq = info.seq;
    f.length = info.arrived;
    f.bytes = Kept(info.bytes);
    f.protocol = info.protocol;
    f.request = info.request;
    f.verdict = info.verdict;
    f.handler = std::string(info.handler);
    f.passedCheck = !info.pbuf.empty();
    if (f.passedCheck) {
        f.replyAddress = info.pbuf[0];
        f.replyCommand = info.pbuf.size() > 1 ? info.pbuf[1] : 0;
    }
    f.selectedAddress = info.selectedAddress;
    f.selectedModel = std::string(info.selectedModel);
    // Judged, as the handler judges it, against the latest request and the
    // selected module's model.
    if (f.passedCheck && !paused_) {
        const std::vector<int> modes = channelModes_ ? channelModes_() : std::vector<int>{};
        const models::Model* model = models::FindModel(info.selectedModel);
        f.words = models::DescribeReply(model, info.request.regAddr, info.pbuf, modes);
        f.wordsEn = models::DescribeReply(model, info.request.regAddr, info.pbuf, modes,
                                          models::TextLanguage::English);
    }
    Add(std::move(f));
}

void TFMmonitor::OnReplyRow(const ReplyRowInfo& info) {
    MonitorFrame* f = model_->FindReceived(info.seq);
    if (f == nullptr) return;  // recorded before a clear, or while paused
    Count(*f, -1);
    f->row = info.matched ? MonitorFrame::RowState::Matched : MonitorFrame::RowState::NoRow;
    f->rowKey = std::string(info.rowKey);
    f->rowWhat = std::string(info.rowWhat);
    f->rowCommand = info.command;
    f->rowRegAddr = info.regAddr;
    f->rowByteCount = info.byteCount;
    Count(*f, +1);
    model_->Changed(*f);
    ScheduleRefresh();
}

void TFMmonitor::Add(MonitorFrame frame) {
    if (paused_) {
        ++skipped_;
        ScheduleRefresh();
        return;
    }
    frame.timeMs = clock_.elapsed();
    Count(frame, +1);
    model_->Append(std::move(frame));
    ScheduleRefresh();
}

void TFMmonitor::Count(const MonitorFrame& frame, int delta) {
    CountInto(counters_.total, frame, delta);
    CountInto(counters_.perAddress[frame.CountedAddress()], frame, delta);
}

void TFMmonitor::ScheduleRefresh() {
    if (!refreshTimer_->isActive()) refreshTimer_->start();
}

// --- the window's own ---------------------------------------------------------------

void TFMmonitor::RefreshCounters() {
    const MonitorCounts& t = counters_.total;
    QString text = TFMmonitor::tr("发送 %1 帧　接受 %2 帧　丢弃 %3 帧")
                       .arg(t.sent)
                       .arg(t.accepted)
                       .arg(t.Dropped());
    const QString reasons = ReasonsText(t);
    if (!reasons.isEmpty()) text += TFMmonitor::tr("：") + reasons;
    text += TFMmonitor::tr("\n显示 %1 帧（最多保留最近 %2 帧）")
                .arg(model_->rowCount())
                .arg(model_->Capacity());
    if (paused_) text += TFMmonitor::tr("　已暂停，未记录 %1 帧").arg(skipped_);
    Label_counters->setText(text);

    Grid_addresses->setRowCount(static_cast<int>(counters_.perAddress.size()));
    int row = 0;
    for (const auto& [address, c] : counters_.perAddress) {
        const QString cells[] = {address < 0    ? TFMmonitor::tr("未知")
                                 : address == 0 ? TFMmonitor::tr("0（广播）")
                                                : QString::number(address),
                                 QString::number(c.sent), QString::number(c.accepted),
                                 QString::number(c.Dropped()), ReasonsText(c)};
        for (int col = 0; col < 5; ++col) {
            QTableWidgetItem* item = Grid_addresses->item(row, col);
            if (item == nullptr) {
                item = new QTableWidgetItem;
                Grid_addresses->setItem(row, col, item);
            }
            if (item->text() != cells[col]) item->setText(cells[col]);
        }
        ++row;
    }
}

void TFMmonitor::Btn_pauseClick() {
    paused_ = Btn_pause->isChecked();
    Btn_pause->setText(paused_ ? TFMmonitor::tr("继续") : TFMmonitor::tr("暂停"));
    if (paused_) skipped_ = 0;
    RefreshCounters();
}

void TFMmonitor::Btn_clearClick() {
    model_->Clear();
    counters_ = MonitorCounters{};
    skipped_ = 0;
    follow_ = true;
    RefreshCounters();
}

void TFMmonitor::Btn_saveClick() {
    const QString path = QFileDialog::getSaveFileName(
        this, TFMmonitor::tr("保存通讯记录"), QStringLiteral("kelm-monitor.txt"),
        TFMmonitor::tr("文本文件 (*.txt);;所有文件 (*)"));
    if (path.isEmpty()) return;
    QString error;
    if (!SaveRows(path, &error))
        boxes_.Warning(TFMmonitor::tr("警告"), TFMmonitor::tr("保存失败：%1\n%2").arg(path, error));
}

bool TFMmonitor::SaveRows(const QString& path, QString* error) const {
    // Written aside and renamed into place: a failed save never leaves half
    // a file where an earlier one stood.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        if (error) *error = file.errorString();
        return false;
    }
    for (int row = 0; row < model_->rowCount(); ++row) {
        const QByteArray line = model_->Line(row).toUtf8() + '\n';
        if (file.write(line) != line.size()) {
            if (error) *error = file.errorString();
            file.cancelWriting();
            return false;
        }
    }
    if (!file.commit()) {
        if (error) *error = file.errorString();
        return false;
    }
    return true;
}

}  // namespace kelm
