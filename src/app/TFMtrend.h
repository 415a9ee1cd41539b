#pragma once
// `TFMtrend`, "趋势图": channels of several modules of one bus in one chart,
// in engineering units, read in the background by the poller and optionally
// logged to a CSV file. A non-modal window of the main window; closing it
// stops the polling and the log (the program then works exactly as without
// it) and keeps the readings for when it is opened again.
#include <QChartView>
#include <QElapsedTimer>
#include <QGraphicsItem>
#include <QPen>
#include <QPolygonF>
#include <QString>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/QtTimer.h"
#include "live/CsvLog.h"
#include "live/LiveModels.h"
#include "live/TrendPoller.h"
#include "live/TrendStore.h"

class QChart;
class QComboBox;
class QDateTimeAxis;
class QGraphicsLineItem;
class QLabel;
class QLineSeries;
class QListWidget;
class QPushButton;
class QTimer;
class QValueAxis;

namespace kelm {

class IMessageBoxes;
class ModbusMaster;

// A module of the bus, as the device tree lists it.
struct TrendModule {
    std::uint8_t address = 0;
    std::string model;
};

// The chart view: the wheel zooms the time axis about the mouse, a drag pans
// it, a click sets the cursor, a double click goes back to following the
// newest readings.
class TrendChartView : public QChartView {
    Q_OBJECT
  public:
    explicit TrendChartView(QChart* chart, QWidget* parent = nullptr);

  signals:
    void zoomed(double factor, double atX);  // factor < 1 zooms in
    void panned(double dxPixels);
    void clicked(double atX);
    void followRequested();

  protected:
    void wheelEvent(QWheelEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;

  private:
    bool pressed_ = false;
    bool dragged_ = false;
    QPointF last_;
    QPointF pressAt_;
};

// The readings, drawn straight onto the chart's plot area: a polyline per
// channel from the decimated samples. The chart's own line series would build
// a hit-test outline of every point on each update, which an hour of eight
// channels cannot afford several times a second; the series stay, empty, for
// the legend, the colours and the axes.
class TrendPlotItem : public QGraphicsItem {
  public:
    struct Line {
        QPolygonF points;
        QPen pen;
    };
    explicit TrendPlotItem(QGraphicsItem* parent = nullptr);
    void SetLines(const QRectF& area, std::vector<Line> lines);
    const std::vector<Line>& Lines() const { return lines_; }
    QRectF boundingRect() const override { return area_; }
    void paint(QPainter* painter, const QStyleOptionGraphicsItem*, QWidget*) override;

  private:
    QRectF area_;
    std::vector<Line> lines_;
};

class TFMtrend : public QWidget {
    Q_OBJECT
  public:
    using ModuleLister = std::function<std::vector<TrendModule>()>;
    // portOpen tells whether the port is open; baud gives the line's baud
    // rate (for how long a reply may take); modules lists the tree's modules.
    TFMtrend(ModbusMaster& master, IMessageBoxes& boxes, std::function<bool()> portOpen,
             std::function<std::uint32_t()> baud, ModuleLister modules, QWidget* parent = nullptr);
    ~TFMtrend() override;

    // Adds channels not already shown (a module node's inputs, a channel).
    void AddChannels(const std::vector<ChannelId>& channels);
    void RemoveChannel(int index);
    const std::vector<ChannelId>& Channels() const { return channels_; }

    void Btn_startClick();
    void Btn_stopClick();
    void Btn_pauseClick();
    // Asks for a file, then starts logging to it.
    void Btn_logClick();
    void Btn_logStopClick();
    // Starts logging to path; a file that cannot be opened gives a message
    // box and returns false.
    bool StartLog(const QString& path);
    void StopLog();
    bool Logging() const { return log_.IsOpen(); }

    bool Running() const { return poller_->Running(); }
    bool Paused() const { return paused_; }
    // Interval between rounds in ms, 0 as fast as the line allows.
    void SetIntervalMs(int ms);
    // The chart's time window: follow the newest readings, or a fixed one.
    void Follow();
    void SetView(std::int64_t t0, std::int64_t t1);
    void ZoomBy(double factor, std::int64_t at);
    void PanBy(std::int64_t dt);
    bool Following() const { return follow_; }
    std::int64_t ViewStart() const { return viewT0_; }
    std::int64_t ViewEnd() const { return viewT1_; }
    // Puts the cursor at a time (ms since the epoch) and shows the values
    // there.
    void SetCursorTime(std::int64_t t);
    // Redraws now (it is otherwise redrawn a few times a second).
    void Redraw();
    // One round of readings, as the poller hands it over: stored, logged and
    // marked for drawing (the benchmark feeds recorded rounds through it).
    void AddRound(const LiveRound& round);

    const TrendStore& Store() const { return store_; }
    TrendPoller& Poller() { return *poller_; }
    QChart* Chart() const { return chart_; }
    // Points drawn in the series of a channel, for tests.
    int PointsDrawn(int channel) const;
    // The texts the user last saw in messages of this window.
    QString LastMessage() const { return lastMessage_; }

    QPushButton* Btn_start = nullptr;
    QPushButton* Btn_stop = nullptr;
    QPushButton* Btn_pause = nullptr;
    QPushButton* Btn_log = nullptr;
    QPushButton* Btn_logStop = nullptr;
    QPushButton* Btn_follow = nullptr;
    QComboBox* Cmb_interval = nullptr;
    QComboBox* Cmb_add = nullptr;
    QPushButton* Btn_add = nullptr;
    QPushButton* Btn_remove = nullptr;
    QListWidget* Lst_channels = nullptr;
    QLabel* Label_status = nullptr;
    QLabel* Label_cursor = nullptr;
    TrendChartView* ChartView = nullptr;

  protected:
    void closeEvent(QCloseEvent* e) override;
    void showEvent(QShowEvent* e) override;
    void changeEvent(QEvent* event) override;

  private:
    void RetranslateFixedTexts();
    void FillAddList();
    void UpdateReplyTimeout();
    void SyncSeries();
    QValueAxis* AxisFor(const std::string& unit);
    void UpdateStatus();
    void ShowLogError(const QString& why);
    std::int64_t NowMs() const;

    QLabel* Label_interval_ = nullptr;
    QLabel* Label_channels_ = nullptr;
    ModbusMaster& master_;
    IMessageBoxes& boxes_;
    std::function<bool()> portOpen_;
    std::function<std::uint32_t()> baud_;
    ModuleLister modules_;

    QtTimer lineTimer_;
    QtTimer waitTimer_;
    QElapsedTimer clock_;
    std::int64_t wallAtStart_ = 0;
    std::unique_ptr<TrendPoller> poller_;
    TrendStore store_;
    CsvLog log_;

    std::vector<ChannelId> channels_;
    std::vector<std::string> units_;       // per channel, as last read
    std::vector<QLineSeries*> series_;     // per channel
    std::vector<std::string> seriesUnit_;  // the axis each series is on
    std::map<std::string, QValueAxis*> axes_;
    // Per axis, an invisible series spanning the view: the chart lays out
    // and labels only axes whose series hold points.
    std::map<std::string, QLineSeries*> anchors_;
    QChart* chart_ = nullptr;
    QDateTimeAxis* timeAxis_ = nullptr;
    QGraphicsLineItem* cursorLine_ = nullptr;
    TrendPlotItem* plot_ = nullptr;
    QTimer* redrawTimer_ = nullptr;
    bool redrawDue_ = false;
    bool paused_ = false;
    bool follow_ = true;
    std::int64_t viewT0_ = 0, viewT1_ = 0;
    std::int64_t cursorT_ = -1;
    QString lastMessage_;
};

}  // namespace kelm
