#include "app/TFMtrend.h"

#include <QChart>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QEvent>
#include <QFileDialog>
#include <QGraphicsLineItem>
#include <QHBoxLayout>
#include <QLabel>
#include <QLegendMarker>
#include <QLineSeries>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QSplitter>
#include <QTimer>
#include <QVBoxLayout>
#include <QValueAxis>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

#include "gui/Language.h"
#include "gui/MessageBoxes.h"
#include "modbus/ModbusMaster.h"

namespace kelm {

namespace {

// Redrawn at most this often while following; a round marks a redraw due.
constexpr int kRedrawMs = 200;
// Shortest window the zoom goes to.
constexpr std::int64_t kMinViewMs = 1000;
// The view before the first reading: the last minute.
constexpr std::int64_t kEmptyViewMs = 60000;

struct IntervalChoice {
    const char* text;
    int ms;
};
const IntervalChoice kIntervals[] = {
    {QT_TRANSLATE_NOOP("kelm::TFMtrend", "尽快"), 0},
    {QT_TRANSLATE_NOOP("kelm::TFMtrend", "0.2 秒"), 200},
    {QT_TRANSLATE_NOOP("kelm::TFMtrend", "0.5 秒"), 500},
    {QT_TRANSLATE_NOOP("kelm::TFMtrend", "1 秒"), 1000},
    {QT_TRANSLATE_NOOP("kelm::TFMtrend", "2 秒"), 2000},
    {QT_TRANSLATE_NOOP("kelm::TFMtrend", "5 秒"), 5000},
    {QT_TRANSLATE_NOOP("kelm::TFMtrend", "10 秒"), 10000},
    {QT_TRANSLATE_NOOP("kelm::TFMtrend", "1 分钟"), 60000},
};

// The unit labels the live view's Qt-free engine gives, for the translation.
[[maybe_unused]] constexpr const char* kUnitSources[] = {
    QT_TRANSLATE_NOOP("kelm::TFMtrend", "开/关"),
    QT_TRANSLATE_NOOP("kelm::TFMtrend", "次"),
};

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

// The CSV log's column names stay as the engine writes them, whatever the
// window's language: a file read by other programs keeps its header.
QString ColumnText(const ChannelId& c, const std::string& unit) {
    return Q(ChannelName(c)) + (unit.empty() ? QString() : QStringLiteral(" [%1]").arg(Q(unit)));
}

QString ShownUnit(const std::string& unit) {
    return TrText("kelm::TFMtrend", Q(unit));
}

// A channel's name in the window's language: a counter's name is built
// whole ("KELM-8I8T(1) DI2计数" -> "KELM-8I8T(1) DI2 count").
QString ShownName(const ChannelId& c) {
    const QString name = Q(ChannelName(c));
    const QString counter = QStringLiteral("计数");
    if (UiIsEnglish() && name.endsWith(counter))
        return TFMtrend::tr("%1计数").arg(name.chopped(counter.size()));
    return name;
}

QString ShownColumnText(const ChannelId& c, const std::string& unit) {
    return ShownName(c) + (unit.empty() ? QString() : QStringLiteral(" [%1]").arg(ShownUnit(unit)));
}

}  // namespace

// ---------------------------------------------------------------------------
// Chart view

TrendChartView::TrendChartView(QChart* chart, QWidget* parent) : QChartView(chart, parent) {
    setRenderHint(QPainter::Antialiasing, false);
    setMouseTracking(false);
}

void TrendChartView::wheelEvent(QWheelEvent* e) {
    const double steps = e->angleDelta().y() / 120.0;
    if (steps == 0) return;
    emit zoomed(std::pow(0.8, steps), e->position().x());
    e->accept();
}

void TrendChartView::mousePressEvent(QMouseEvent* e) {
    if (e->button() == Qt::LeftButton) {
        pressed_ = true;
        dragged_ = false;
        last_ = pressAt_ = e->position();
    }
    e->accept();
}

void TrendChartView::mouseMoveEvent(QMouseEvent* e) {
    if (!pressed_) return;
    if (!dragged_ && std::abs(e->position().x() - pressAt_.x()) < 4) return;
    dragged_ = true;
    emit panned(e->position().x() - last_.x());
    last_ = e->position();
}

void TrendChartView::mouseReleaseEvent(QMouseEvent* e) {
    if (pressed_ && e->button() == Qt::LeftButton && !dragged_) emit clicked(e->position().x());
    pressed_ = false;
    e->accept();
}

void TrendChartView::mouseDoubleClickEvent(QMouseEvent* e) {
    emit followRequested();
    e->accept();
}

// ---------------------------------------------------------------------------
// Plot

TrendPlotItem::TrendPlotItem(QGraphicsItem* parent) : QGraphicsItem(parent) {
    setAcceptedMouseButtons(Qt::NoButton);
}

void TrendPlotItem::SetLines(const QRectF& area, std::vector<Line> lines) {
    prepareGeometryChange();
    area_ = area;
    lines_ = std::move(lines);
    update();
}

void TrendPlotItem::paint(QPainter* painter, const QStyleOptionGraphicsItem*, QWidget*) {
    painter->save();
    painter->setClipRect(area_);
    painter->setRenderHint(QPainter::Antialiasing, false);
    for (const Line& l : lines_) {
        painter->setPen(l.pen);
        painter->drawPolyline(l.points);
    }
    painter->restore();
}

// ---------------------------------------------------------------------------
// Window

TFMtrend::TFMtrend(ModbusMaster& master, IMessageBoxes& boxes, std::function<bool()> portOpen,
                   std::function<std::uint32_t()> baud, ModuleLister modules, QWidget* parent)
    : QWidget(parent, Qt::Window),
      master_(master),
      boxes_(boxes),
      portOpen_(std::move(portOpen)),
      baud_(std::move(baud)),
      modules_(std::move(modules)),
      lineTimer_(QStringLiteral("Timer_trend_line")),
      waitTimer_(QStringLiteral("Timer_trend_wait")) {
    setObjectName(QStringLiteral("FMtrend"));
    resize(1100, 640);
    clock_.start();
    wallAtStart_ = QDateTime::currentMSecsSinceEpoch();
    poller_ =
        std::make_unique<TrendPoller>(master_, lineTimer_, waitTimer_, [this] { return NowMs(); });
    poller_->SetPortOpen(portOpen_);
    poller_->onRound = [this](const LiveRound& r) { AddRound(r); };

    auto* layout = new QVBoxLayout(this);
    auto* bar = new QHBoxLayout;
    auto button = [this](const char* name, const QString& text) {
        auto* b = new QPushButton(text, this);
        b->setObjectName(QString::fromLatin1(name));
        return b;
    };
    Btn_start = button("Btn_start", QString());
    Btn_stop = button("Btn_stop", QString());
    Btn_stop->setEnabled(false);
    auto* intervalLabel = new QLabel(this);
    Label_interval_ = intervalLabel;
    Cmb_interval = new QComboBox(this);
    Cmb_interval->setObjectName(QStringLiteral("Cmb_interval"));
    for (const IntervalChoice& c : kIntervals) Cmb_interval->addItem(QString(), c.ms);
    Btn_pause = button("Btn_pause", QString());
    Btn_pause->setCheckable(true);
    Btn_follow = button("Btn_follow", QString());
    Btn_log = button("Btn_log", QString());
    Btn_logStop = button("Btn_logStop", QString());
    Btn_logStop->setEnabled(false);
    for (QWidget* w :
         std::initializer_list<QWidget*>{Btn_start, Btn_stop, intervalLabel, Cmb_interval,
                                         Btn_pause, Btn_follow, Btn_log, Btn_logStop})
        bar->addWidget(w);
    bar->addStretch(1);
    layout->addLayout(bar);

    auto* split = new QSplitter(Qt::Horizontal, this);
    auto* left = new QWidget(split);
    auto* leftLayout = new QVBoxLayout(left);
    leftLayout->setContentsMargins(0, 0, 0, 0);
    Label_channels_ = new QLabel(left);
    leftLayout->addWidget(Label_channels_);
    Lst_channels = new QListWidget(left);
    Lst_channels->setObjectName(QStringLiteral("Lst_channels"));
    leftLayout->addWidget(Lst_channels, 1);
    Cmb_add = new QComboBox(left);
    Cmb_add->setObjectName(QStringLiteral("Cmb_add"));
    leftLayout->addWidget(Cmb_add);
    auto* addRow = new QHBoxLayout;
    Btn_add = new QPushButton(left);
    Btn_add->setObjectName(QStringLiteral("Btn_add"));
    Btn_remove = new QPushButton(left);
    Btn_remove->setObjectName(QStringLiteral("Btn_remove"));
    addRow->addWidget(Btn_add);
    addRow->addWidget(Btn_remove);
    leftLayout->addLayout(addRow);
    Label_cursor = new QLabel(left);
    Label_cursor->setObjectName(QStringLiteral("Label_cursor"));
    Label_cursor->setWordWrap(true);
    Label_cursor->setTextInteractionFlags(Qt::TextSelectableByMouse);
    leftLayout->addWidget(Label_cursor);

    chart_ = new QChart;
    // One row per channel, names in full.
    chart_->legend()->setAlignment(Qt::AlignRight);
    chart_->setMargins(QMargins(4, 4, 4, 4));
    timeAxis_ = new QDateTimeAxis;
    timeAxis_->setFormat(QStringLiteral("HH:mm:ss"));
    timeAxis_->setTickCount(6);
    // The chart leaves out for good an axis added with an empty range (the
    // default: both ends at the epoch), title and labels included, whatever
    // range it gets later; so it starts on the last minute, as an empty view
    // shows it.
    viewT1_ = NowMs();
    viewT0_ = viewT1_ - kEmptyViewMs;
    timeAxis_->setRange(QDateTime::fromMSecsSinceEpoch(viewT0_),
                        QDateTime::fromMSecsSinceEpoch(viewT1_));
    chart_->addAxis(timeAxis_, Qt::AlignBottom);
    ChartView = new TrendChartView(chart_, split);
    ChartView->setObjectName(QStringLiteral("ChartView"));
    plot_ = new TrendPlotItem(chart_);
    plot_->setZValue(50);
    connect(chart_, &QChart::plotAreaChanged, this, [this] {
        redrawDue_ = true;
        QTimer::singleShot(0, this, [this] { Redraw(); });
    });
    cursorLine_ = new QGraphicsLineItem(chart_);
    cursorLine_->setPen(QPen(QColor(200, 0, 0), 1, Qt::DashLine));
    cursorLine_->setZValue(100);
    cursorLine_->hide();
    split->addWidget(left);
    split->addWidget(ChartView);
    split->setStretchFactor(1, 1);
    split->setSizes({230, 870});
    layout->addWidget(split, 1);

    Label_status = new QLabel(this);
    Label_status->setObjectName(QStringLiteral("Label_status"));
    layout->addWidget(Label_status);
    RetranslateFixedTexts();

    redrawTimer_ = new QTimer(this);
    redrawTimer_->setInterval(kRedrawMs);
    connect(redrawTimer_, &QTimer::timeout, this, [this] {
        if (redrawDue_) Redraw();
    });

    connect(Btn_start, &QPushButton::clicked, this, [this] { Btn_startClick(); });
    connect(Btn_stop, &QPushButton::clicked, this, [this] { Btn_stopClick(); });
    connect(Btn_pause, &QPushButton::clicked, this, [this] { Btn_pauseClick(); });
    connect(Btn_follow, &QPushButton::clicked, this, [this] { Follow(); });
    connect(Btn_log, &QPushButton::clicked, this, [this] { Btn_logClick(); });
    connect(Btn_logStop, &QPushButton::clicked, this, [this] { Btn_logStopClick(); });
    connect(Cmb_interval, &QComboBox::currentIndexChanged, this,
            [this](int i) { poller_->SetIntervalMs(Cmb_interval->itemData(i).toInt()); });
    connect(Btn_add, &QPushButton::clicked, this, [this] {
        const int i = Cmb_add->currentIndex();
        if (i < 0) return;
        const QStringList parts = Cmb_add->itemData(i).toStringList();
        if (parts.size() != 4) return;
        ChannelId c{static_cast<std::uint8_t>(parts[0].toUInt()), parts[1].toStdString(),
                    static_cast<ChannelKind>(parts[2].toInt()), parts[3].toInt()};
        AddChannels({c});
    });
    connect(Btn_remove, &QPushButton::clicked, this,
            [this] { RemoveChannel(Lst_channels->currentRow()); });
    connect(ChartView, &TrendChartView::zoomed, this, [this](double f, double x) {
        const QPointF v = chart_->mapToValue(QPointF(x, chart_->plotArea().center().y()));
        ZoomBy(f, static_cast<std::int64_t>(v.x()));
    });
    connect(ChartView, &TrendChartView::panned, this, [this](double dx) {
        const double w = chart_->plotArea().width();
        if (w <= 0) return;
        PanBy(static_cast<std::int64_t>(-dx / w * static_cast<double>(viewT1_ - viewT0_)));
    });
    connect(ChartView, &TrendChartView::clicked, this, [this](double x) {
        const QPointF v = chart_->mapToValue(QPointF(x, chart_->plotArea().center().y()));
        SetCursorTime(static_cast<std::int64_t>(v.x()));
    });
    connect(ChartView, &TrendChartView::followRequested, this, [this] { Follow(); });

    UpdateStatus();
}

TFMtrend::~TFMtrend() {
    // The poller lets go of the master before anything it uses goes.
    poller_.reset();
    log_.Close();
}

std::int64_t TFMtrend::NowMs() const {
    // Wall-clock times that never go back (the clock may be set meanwhile).
    return wallAtStart_ + clock_.elapsed();
}

void TFMtrend::showEvent(QShowEvent* e) {
    FillAddList();
    QWidget::showEvent(e);
}

void TFMtrend::closeEvent(QCloseEvent* e) {
    // A closed trend leaves the line to the user alone.
    Btn_stopClick();
    StopLog();
    QWidget::closeEvent(e);
}

void TFMtrend::RetranslateFixedTexts() {
    setWindowTitle(tr("趋势图"));
    Btn_start->setText(tr("开始"));
    Btn_stop->setText(tr("停止"));
    Label_interval_->setText(tr("间隔："));
    for (int i = 0; i < Cmb_interval->count() && i < static_cast<int>(std::size(kIntervals)); ++i)
        Cmb_interval->setItemText(i, tr(kIntervals[i].text));
    Btn_pause->setText(tr("暂停显示"));
    Btn_follow->setText(tr("跟随最新"));
    Btn_log->setText(tr("记录到文件..."));
    Btn_logStop->setText(tr("停止记录"));
    Label_channels_->setText(tr("通道："));
    Btn_add->setText(tr("加入"));
    Btn_remove->setText(tr("移除"));
    timeAxis_->setTitleText(tr("时间"));
}

void TFMtrend::changeEvent(QEvent* event) {
    if (event->type() == QEvent::LanguageChange) {
        RetranslateFixedTexts();
        // The channels' names, units and axes, and the lines built from them.
        for (std::size_t i = 0; i < channels_.size(); ++i)
            if (QListWidgetItem* item = Lst_channels->item(static_cast<int>(i)))
                item->setText(ShownName(channels_[i]));
        for (auto& [unit, axis] : axes_)
            axis->setTitleText(unit.empty() ? tr("（单位未知）") : ShownUnit(unit));
        for (std::size_t i = 0; i < series_.size() && i < channels_.size(); ++i)
            series_[i]->setName(ShownColumnText(channels_[i], units_[i]));
        const int current = Cmb_add->currentIndex();
        FillAddList();
        if (current < Cmb_add->count()) Cmb_add->setCurrentIndex(current);
        UpdateStatus();
        if (cursorT_ >= 0) SetCursorTime(cursorT_);
    }
    QWidget::changeEvent(event);
}

void TFMtrend::FillAddList() {
    Cmb_add->clear();
    if (!modules_) return;
    for (const TrendModule& m : modules_())
        for (const ChannelId& c : ChannelsOf(m.address, m.model))
            Cmb_add->addItem(ShownName(c), QStringList{QString::number(c.address), Q(c.model),
                                                       QString::number(static_cast<int>(c.kind)),
                                                       QString::number(c.index)});
}

void TFMtrend::AddChannels(const std::vector<ChannelId>& channels) {
    bool added = false;
    for (const ChannelId& c : channels) {
        if (std::find(channels_.begin(), channels_.end(), c) != channels_.end()) continue;
        channels_.push_back(c);
        units_.push_back(UnitOf(c, LiveModuleState{}));
        store_.AddChannel();
        auto* s = new QLineSeries;
        s->setName(ShownName(c));
        chart_->addSeries(s);
        s->attachAxis(timeAxis_);
        series_.push_back(s);
        seriesUnit_.emplace_back();
        Lst_channels->addItem(ShownName(c));
        added = true;
    }
    if (!added) return;
    poller_->SetChannels(channels_);
    SyncSeries();
    redrawDue_ = true;
    UpdateStatus();
}

void TFMtrend::RemoveChannel(int index) {
    if (index < 0 || index >= static_cast<int>(channels_.size())) return;
    const auto i = static_cast<std::size_t>(index);
    chart_->removeSeries(series_[i]);
    delete series_[i];
    series_.erase(series_.begin() + index);
    seriesUnit_.erase(seriesUnit_.begin() + index);
    channels_.erase(channels_.begin() + index);
    units_.erase(units_.begin() + index);
    store_.RemoveChannel(index);
    delete Lst_channels->takeItem(index);
    poller_->SetChannels(channels_);
    SyncSeries();
    redrawDue_ = true;
    Redraw();
    UpdateStatus();
}

QValueAxis* TFMtrend::AxisFor(const std::string& unit) {
    auto it = axes_.find(unit);
    if (it != axes_.end()) return it->second;
    auto* axis = new QValueAxis;
    axis->setTitleText(unit.empty() ? tr("（单位未知）") : ShownUnit(unit));
    // Units alternate between the left and the right side.
    chart_->addAxis(axis, axes_.size() % 2 == 0 ? Qt::AlignLeft : Qt::AlignRight);
    axes_[unit] = axis;
    auto* anchor = new QLineSeries;
    anchor->setPen(QPen(Qt::transparent));
    chart_->addSeries(anchor);
    anchor->attachAxis(timeAxis_);
    anchor->attachAxis(axis);
    for (QLegendMarker* m : chart_->legend()->markers(anchor)) m->setVisible(false);
    anchors_[unit] = anchor;
    return axis;
}

void TFMtrend::SyncSeries() {
    for (std::size_t i = 0; i < series_.size(); ++i) {
        const std::string& unit = units_[i];
        QValueAxis* want = AxisFor(unit);
        const auto attached = series_[i]->attachedAxes();
        if (seriesUnit_[i] == unit && attached.contains(want)) continue;
        for (QAbstractAxis* a : attached)
            if (a != timeAxis_) series_[i]->detachAxis(a);
        series_[i]->attachAxis(want);
        seriesUnit_[i] = unit;
    }
    // An axis no series uses any more goes.
    for (auto it = axes_.begin(); it != axes_.end();) {
        const bool used = std::find(units_.begin(), units_.end(), it->first) != units_.end();
        if (used) {
            ++it;
            continue;
        }
        if (auto a = anchors_.find(it->first); a != anchors_.end()) {
            chart_->removeSeries(a->second);
            delete a->second;
            anchors_.erase(a);
        }
        chart_->removeAxis(it->second);
        delete it->second;
        it = axes_.erase(it);
    }
    for (std::size_t i = 0; i < series_.size(); ++i)
        series_[i]->setName(ShownColumnText(channels_[i], units_[i]));
}

void TFMtrend::AddRound(const LiveRound& round) {
    std::vector<double> values(channels_.size(), std::nan(""));
    bool unitsChanged = false;
    for (std::size_t i = 0; i < channels_.size(); ++i) {
        const auto it = std::find(round.channels.begin(), round.channels.end(), channels_[i]);
        if (it == round.channels.end()) continue;
        const auto k = static_cast<std::size_t>(it - round.channels.begin());
        if (k < round.values.size()) values[i] = round.values[k];
        if (k < round.units.size() && !round.units[k].empty() && round.units[k] != units_[i]) {
            units_[i] = round.units[k];
            unitsChanged = true;
        }
    }
    store_.Append(round.timeMs, values);
    if (unitsChanged) SyncSeries();
    if (log_.IsOpen()) {
        std::vector<std::string> columns;
        for (std::size_t i = 0; i < channels_.size(); ++i)
            columns.push_back(ColumnText(channels_[i], units_[i]).toStdString());
        std::string err;
        if (!log_.WriteRow(columns, round.timeMs, values, &err)) ShowLogError(Q(err));
    }
    redrawDue_ = true;
    UpdateStatus();
}

void TFMtrend::ShowLogError(const QString& why) {
    const QString path = Q(log_.Path());
    log_.Close();
    Btn_logStop->setEnabled(false);
    lastMessage_ =
        TFMtrend::tr("无法写入记录文件“%1”：%2。记录已停止，趋势图继续运行。").arg(path, why);
    UpdateStatus();
    // Not from inside the reply's handling: the box runs its own loop.
    QTimer::singleShot(0, this, [this, text = lastMessage_] { boxes_.Warning(tr("警告"), text); });
}

void TFMtrend::UpdateReplyTimeout() {
    // The longest read (a 16-input module's counters: 101 bytes, 207
    // characters in ASCII) and its request at the line's speed, the
    // module's turnaround and the end-of-frame silence.
    const std::uint32_t baud = baud_ ? std::max<std::uint32_t>(baud_(), 300) : 9600;
    const int lineMs = static_cast<int>((17 + 207) * 11 * 1000 / baud);
    master_.SetReplyTimeoutMs(300 + lineMs + (kRecvSilentTicks + 1) * kRecvTimerIntervalMs);
}

void TFMtrend::Btn_startClick() {
    if (poller_->Running()) return;
    UpdateReplyTimeout();
    poller_->SetIntervalMs(Cmb_interval->currentData().toInt());
    poller_->Start();
    Btn_start->setEnabled(false);
    Btn_stop->setEnabled(true);
    redrawTimer_->start();
    UpdateStatus();
}

void TFMtrend::Btn_stopClick() {
    poller_->Stop();
    Btn_start->setEnabled(true);
    Btn_stop->setEnabled(false);
    redrawTimer_->stop();
    redrawDue_ = true;
    Redraw();
    UpdateStatus();
}

void TFMtrend::Btn_pauseClick() {
    paused_ = Btn_pause->isChecked();
    if (!paused_) {
        redrawDue_ = true;
        Redraw();
    }
    UpdateStatus();
}

void TFMtrend::SetIntervalMs(int ms) {
    for (int i = 0; i < Cmb_interval->count(); ++i)
        if (Cmb_interval->itemData(i).toInt() == ms) Cmb_interval->setCurrentIndex(i);
    poller_->SetIntervalMs(ms);
}

void TFMtrend::Btn_logClick() {
    const QString name =
        QStringLiteral("trend-%1.csv")
            .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")));
    const QString path = QFileDialog::getSaveFileName(this, TFMtrend::tr("记录到文件"), name,
                                                      TFMtrend::tr("CSV 文件 (*.csv)"), nullptr,
                                                      QFileDialog::DontConfirmOverwrite);
    if (!path.isEmpty()) StartLog(path);
}

void TFMtrend::Btn_logStopClick() {
    StopLog();
}

bool TFMtrend::StartLog(const QString& path) {
    std::string err;
    if (!log_.Open(path.toStdString(), &err)) {
        lastMessage_ = TFMtrend::tr("无法打开记录文件“%1”：%2。").arg(path, Q(err));
        Btn_logStop->setEnabled(false);
        UpdateStatus();
        boxes_.Warning(tr("警告"), lastMessage_);
        return false;
    }
    lastMessage_.clear();
    Btn_logStop->setEnabled(true);
    UpdateStatus();
    return true;
}

void TFMtrend::StopLog() {
    log_.Close();
    Btn_logStop->setEnabled(false);
    UpdateStatus();
}

void TFMtrend::UpdateStatus() {
    QString t = poller_->Running() ? TFMtrend::tr("轮询中") : TFMtrend::tr("已停止");
    t += TFMtrend::tr("，%1 个通道，%2 轮，%3 次无应答")
             .arg(channels_.size())
             .arg(poller_->Rounds())
             .arg(poller_->Failures());
    if (paused_) t += TFMtrend::tr("，显示已暂停");
    if (log_.IsOpen())
        t += TFMtrend::tr("，记录到 %1（%2 行）").arg(Q(log_.Path())).arg(log_.RowsWritten());
    if (!lastMessage_.isEmpty()) t += TFMtrend::tr("。") + lastMessage_;
    Label_status->setText(t);
}

void TFMtrend::Follow() {
    follow_ = true;
    redrawDue_ = true;
    Redraw();
}

void TFMtrend::SetView(std::int64_t t0, std::int64_t t1) {
    if (t1 - t0 < kMinViewMs) {
        const std::int64_t mid = (t0 + t1) / 2;
        t0 = mid - kMinViewMs / 2;
        t1 = t0 + kMinViewMs;
    }
    follow_ = false;
    viewT0_ = t0;
    viewT1_ = t1;
    redrawDue_ = true;
    Redraw();
}

void TFMtrend::ZoomBy(double factor, std::int64_t at) {
    const double span = static_cast<double>(viewT1_ - viewT0_);
    const double left = static_cast<double>(at - viewT0_) / std::max(span, 1.0);
    const double newSpan = std::clamp(span * factor, static_cast<double>(kMinViewMs),
                                      static_cast<double>(kTrendSpanMs));
    const auto t0 = at - static_cast<std::int64_t>(left * newSpan);
    SetView(t0, t0 + static_cast<std::int64_t>(newSpan));
}

void TFMtrend::PanBy(std::int64_t dt) {
    SetView(viewT0_ + dt, viewT1_ + dt);
}

void TFMtrend::SetCursorTime(std::int64_t t) {
    cursorT_ = t;
    QString text = QDateTime::fromMSecsSinceEpoch(t).toString(QStringLiteral("HH:mm:ss.zzz"));
    for (std::size_t i = 0; i < channels_.size(); ++i) {
        const auto p = store_.ValueAt(static_cast<int>(i), t);
        text += TFMtrend::tr("\n%1：%2")
                    .arg(ShownName(channels_[i]),
                         p ? QString::number(p->v, 'g', 7) + QLatin1Char(' ') + ShownUnit(units_[i])
                           : QStringLiteral("—"));
    }
    Label_cursor->setText(text);
    redrawDue_ = true;
    Redraw();
}

int TFMtrend::PointsDrawn(int channel) const {
    if (channel < 0 || channel >= static_cast<int>(series_.size())) return -1;
    const auto& lines = plot_->Lines();
    const auto i = static_cast<std::size_t>(channel);
    return i < lines.size() ? static_cast<int>(lines[i].points.size()) : 0;
}

void TFMtrend::Redraw() {
    if (paused_ || !redrawDue_) return;
    redrawDue_ = false;
    if (follow_) {
        if (store_.Size() > 0) {
            viewT1_ = std::max(store_.Time(store_.Size() - 1), store_.Time(0) + kMinViewMs);
            viewT0_ = store_.Time(0);
        } else {
            viewT1_ = NowMs();
            viewT0_ = viewT1_ - kEmptyViewMs;
        }
    }
    timeAxis_->setRange(QDateTime::fromMSecsSinceEpoch(viewT0_),
                        QDateTime::fromMSecsSinceEpoch(viewT1_));
    const QRectF area = chart_->plotArea();
    // Two points (lowest, highest) per two pixels: as much as a line shows.
    const int columns = std::max(1, static_cast<int>(area.width() / 2));
    std::map<std::string, std::pair<double, double>> ranges;
    std::vector<std::vector<TrendPoint>> data(series_.size());
    for (std::size_t i = 0; i < series_.size(); ++i) {
        const auto c = static_cast<int>(i);
        data[i] = store_.Decimate(c, viewT0_, viewT1_, columns, IsStep(channels_[i].kind));
        // The decimated points hold every extreme of the view (and the two
        // points just outside it, which the line runs on to).
        double lo = 0, hi = 0;
        bool any = false;
        for (const TrendPoint& p : data[i]) {
            if (!any || p.v < lo) lo = p.v;
            if (!any || p.v > hi) hi = p.v;
            any = true;
        }
        if (any) {
            auto [it, fresh] = ranges.try_emplace(units_[i], lo, hi);
            if (!fresh) {
                it->second.first = std::min(it->second.first, lo);
                it->second.second = std::max(it->second.second, hi);
            }
        }
    }
    for (auto& [unit, axis] : axes_) {
        double lo = 0, hi = 1;
        if (auto it = ranges.find(unit); it != ranges.end()) std::tie(lo, hi) = it->second;
        if (unit == "开/关") {
            lo = 0;
            hi = 1;
        }
        const double pad = hi > lo ? (hi - lo) * 0.05 : std::max(std::abs(hi) * 0.05, 0.5);
        axis->setRange(lo - pad, hi + pad);
        if (QLineSeries* a = anchors_[unit])
            a->replace({QPointF(static_cast<double>(viewT0_), lo - pad),
                        QPointF(static_cast<double>(viewT1_), lo - pad)});
    }
    std::vector<TrendPlotItem::Line> lines(series_.size());
    const double span = static_cast<double>(std::max<std::int64_t>(viewT1_ - viewT0_, 1));
    for (std::size_t i = 0; i < series_.size(); ++i) {
        const QValueAxis* axis = axes_.count(units_[i]) ? axes_.at(units_[i]) : nullptr;
        if (axis == nullptr || axis->max() <= axis->min()) continue;
        const double ymin = axis->min();
        const double yscale = area.height() / (axis->max() - ymin);
        const double xscale = area.width() / span;
        // A cosmetic one-pixel pen: the raster engine draws it without stroking.
        lines[i].pen = QPen(series_[i]->color(), 0);
        lines[i].points.reserve(static_cast<qsizetype>(data[i].size()));
        for (const TrendPoint& p : data[i])
            lines[i].points.append(
                QPointF(area.left() + static_cast<double>(p.t - viewT0_) * xscale,
                        area.bottom() - (p.v - ymin) * yscale));
    }
    plot_->SetLines(area, std::move(lines));
    if (cursorT_ >= viewT0_ && cursorT_ <= viewT1_) {
        const QRectF area = chart_->plotArea();
        const double x = chart_->mapToPosition(QPointF(static_cast<double>(cursorT_), 0)).x();
        cursorLine_->setLine(x, area.top(), x, area.bottom());
        cursorLine_->show();
    } else {
        cursorLine_->hide();
    }
}

}  // namespace kelm
