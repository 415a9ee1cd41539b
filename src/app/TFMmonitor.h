#pragma once
// `TFMmonitor`, "通讯监视": every frame on the line, one row each, with what
// the receiver made of it, and counters of frames sent, accepted and dropped
// (by reason, in all and per slave address). A non-modal window of the main
// window; closing it hides it, and it goes on recording until the program
// ends (Pause stops that). It only watches the master: the program works
// exactly as without it.
#include <QAbstractTableModel>
#include <QElapsedTimer>
#include <QString>
#include <QWidget>
#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "modbus/Bytes.h"
#include "modbus/FrameObserver.h"

class QGroupBox;
class QLabel;
class QPushButton;
class QTableView;
class QTableWidget;
class QTimer;

namespace kelm {

class IMessageBoxes;
class ModbusMaster;

// The monitor keeps the last this many frames; older ones make room.
inline constexpr int kMonitorMaxFrames = 10000;
// Bytes kept of one frame (a reply is at most 257 as collected; a delivery
// that arrives while a reply is being handled can be far longer).
inline constexpr std::size_t kMonitorBytesKept = 512;

// One frame as the monitor keeps it.
struct MonitorFrame {
    enum class RowState : std::uint8_t { None, Matched, NoRow };

    qint64 timeMs = 0;  // since the monitor started
    bool sent = false;
    bool offLine = false;    // sent while the port was closed: never on the line
    std::uint64_t seq = 0;   // received frames: the master's number
    std::size_t length = 0;  // bytes on the line (may exceed bytes.size())
    ByteString bytes;        // at most kMonitorBytesKept
    int protocol = -1;       // 0 RTU, 1 ASCII, -1 none
    RequestRef request;      // sent: this request; received: the one it was judged against
    // Received frames only.
    ReceiveVerdict verdict = ReceiveVerdict::TooShort;
    std::string handler;
    bool passedCheck = false;
    std::uint8_t replyAddress = 0;  // of a frame that passed its check
    std::uint8_t replyCommand = 0;
    std::uint8_t selectedAddress = 0;
    std::string selectedModel;
    // The reply table's row (frames that reached a panel).
    RowState row = RowState::None;
    std::string rowKey;
    std::string rowWhat;
    std::uint16_t rowCommand = 0;
    std::uint16_t rowRegAddr = 0;
    std::uint8_t rowByteCount = 0;
    // The frame in words ("读 DI0-7", "回复: AI0 = 4.012 mA", "?"); empty for
    // a received frame that failed its check. Kept in both languages, so a
    // change of language shows the rows already recorded in the new one.
    std::string words;
    std::string wordsEn;  // "Read DI0-7", "Reply: AI0 = 4.012 mA"

    // The slave the frame is counted for: the request's address for a sent
    // frame and for one that failed its check, the reply's own otherwise;
    // -1 when unknown.
    int CountedAddress() const;
    bool Accepted() const;
};

// Why a reply was dropped, for the counters: the dropping verdicts, and a
// reply no row of its panel's reply table took.
inline constexpr int kDropNoRow = kReceiveVerdictCount;
inline constexpr int kDropReasonCount = kReceiveVerdictCount + 1;

struct MonitorCounts {
    std::uint64_t sent = 0;
    std::uint64_t accepted = 0;
    std::array<std::uint64_t, kDropReasonCount> dropped{};  // by verdict, then kDropNoRow
    std::uint64_t Dropped() const;
};

struct MonitorCounters {
    MonitorCounts total;
    std::map<int, MonitorCounts> perAddress;  // -1: address unknown
};

// Texts of a frame's columns (also the saved lines).
QString FrameHexText(const MonitorFrame& f);
QString FrameAsciiText(const MonitorFrame& f);  // empty unless the frame is in ASCII form
QString FrameWordsText(const MonitorFrame& f);
QString FrameVerdictText(const MonitorFrame& f);
QString FrameRequestText(const MonitorFrame& f);
QString DropReasonName(int reason);

// The kept frames as a table: a ring of at most kMonitorMaxFrames rows, each
// row's texts made only when a view asks for them.
class MonitorModel : public QAbstractTableModel {
    Q_OBJECT
  public:
    enum Column {
        kColTime,
        kColDirection,
        kColLength,
        kColBytes,
        kColText,
        kColWords,
        kColVerdict,
        kColRequest,
        kColumnCount
    };

    explicit MonitorModel(QObject* parent = nullptr, int capacity = kMonitorMaxFrames);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // Adds a frame at the end, dropping the oldest when full.
    void Append(MonitorFrame frame);
    // The received frame with this number, or nullptr when it is not kept;
    // Changed(frame) tells the views after an update.
    MonitorFrame* FindReceived(std::uint64_t seq);
    void Changed(const MonitorFrame& frame);
    void Clear();
    // After a change of language: the views ask for every text again.
    void Retranslate();

    const MonitorFrame& At(int row) const { return frames_[static_cast<std::size_t>(row)]; }
    int Capacity() const { return capacity_; }
    // One frame as a line of text: the columns, tab-separated.
    QString Line(int row) const;

  private:
    int capacity_;
    std::deque<MonitorFrame> frames_;
};

class TFMmonitor : public QWidget, private IFrameObserver {
    Q_OBJECT
  public:
    // Attaches itself to the master as its observer; detaches when destroyed.
    // portOpen tells whether a frame handed to the serial component reaches
    // the line (a closed port drops it silently); unset, every frame does.
    TFMmonitor(ModbusMaster& master, IMessageBoxes& boxes, std::function<bool()> portOpen = {},
               QWidget* parent = nullptr);
    ~TFMmonitor() override;

    void Btn_pauseClick();
    void Btn_clearClick();
    // Asks for a file name, then saves.
    void Btn_saveClick();
    // Writes every kept frame as one UTF-8 line to path (replacing the file).
    // Returns false, with the reason in *error, when it cannot.
    bool SaveRows(const QString& path, QString* error = nullptr) const;

    // Where the words for a reply find the channel modes its values are
    // converted by (the selected module's panel); unset, values are raw.
    void SetChannelModes(std::function<std::vector<int>()> source) {
        channelModes_ = std::move(source);
    }

    const MonitorModel& Frames() const { return *model_; }
    const MonitorCounters& Counters() const { return counters_; }
    bool Paused() const { return paused_; }
    // Frames that went by while paused.
    std::uint64_t SkippedWhilePaused() const { return skipped_; }
    // Redraws the counters now (they are otherwise redrawn shortly after a
    // frame, at most a few times a second).
    void RefreshCounters();

    QPushButton* Btn_pause = nullptr;
    QPushButton* Btn_clear = nullptr;
    QPushButton* Btn_save = nullptr;
    QLabel* Label_counters = nullptr;
    QTableWidget* Grid_addresses = nullptr;
    QTableView* Grid_frames = nullptr;

  protected:
    void changeEvent(QEvent* event) override;

  private:
    void RetranslateUi();
    void OnFrameSent(const SentFrameInfo& info) override;
    void OnFrameReceived(const ReceivedFrameInfo& info) override;
    void OnReplyRow(const ReplyRowInfo& info) override;

    void Add(MonitorFrame frame);
    void Count(const MonitorFrame& frame, int delta);
    void ScheduleRefresh();

    ModbusMaster& master_;
    IMessageBoxes& boxes_;
    std::function<bool()> portOpen_;
    std::function<std::vector<int>()> channelModes_;
    MonitorModel* model_ = nullptr;
    QGroupBox* Gro_counters_ = nullptr;
    MonitorCounters counters_;
    QElapsedTimer clock_;
    QTimer* refreshTimer_ = nullptr;
    bool paused_ = false;
    bool follow_ = true;  // keep the newest row in view
    std::uint64_t skipped_ = 0;
};

}  // namespace kelm
