#include "host/TFMserching.h"

#include <QComboBox>
#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QScreen>
#include <QShowEvent>
#include <QTimer>
#include <QTreeWidget>
#include <array>
#include <memory>

#include "gui/Language.h"
#include "gui/MessageBoxes.h"
#include "host/ScanDevice.h"
#include "modbus/ModbusMaster.h"

namespace kelm {

const QString TFMserching::kCaption =
    QStringLiteral(QT_TRANSLATE_NOOP("kelm::TFMserching", "扫描在线终端"));
const QString TFMserching::kIntervalWarning =
    QStringLiteral(QT_TRANSLATE_NOOP("kelm::TFMserching", "扫描间隔区间500-5000ms！"));
const QString TFMserching::kFinished =
    QStringLiteral(QT_TRANSLATE_NOOP("kelm::TFMserching", "终端扫描完毕！"));

namespace {

constexpr int kClientWidth = 394;
constexpr int kClientHeight = 231;
constexpr int kIntervalMin = 500;
constexpr int kIntervalMax = 5000;
constexpr int kBusyStepMs = 200;
constexpr int kImageSize = 50;

// Offsets of the busy picture from its resting place, steps 1-12.
struct Offset {
    int dx;
    int dy;
};
constexpr std::array<Offset, 12> kBusySteps = {{{0, -10},
                                                {6, -8},
                                                {8, -6},
                                                {10, 0},
                                                {8, 6},
                                                {6, 8},
                                                {0, 8},
                                                {-6, 8},
                                                {-8, 6},
                                                {-10, 0},
                                                {-8, -6},
                                                {-6, -8}}};

// Used when the application supplies no busy picture: a ring with a dot.
QPixmap DrawBusyPicture() {
    QPixmap pm(kImageSize, kImageSize);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(0, 120, 215), 5));
    p.drawEllipse(QRectF(6, 6, 38, 38));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 160, 0));
    p.drawEllipse(QRectF(19, 2, 12, 12));
    return pm;
}

}  // namespace

TFMserching::TFMserching(const ScanContext& ctx, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      ctx_(ctx) {
    setObjectName(QStringLiteral("FMserching"));
    setFixedSize(kClientWidth, kClientHeight);

    auto label = [this](const char* name, const char* text, int x, int y) {
        auto* l = new QLabel(QString::fromUtf8(text), this);
        l->setObjectName(QString::fromLatin1(name));
        l->move(x, y);
        l->adjustSize();
        return l;
    };
    label3_ = label("Label3", "", 20, 32);
    editScanTime_ = new QLineEdit(this);
    editScanTime_->setObjectName(QStringLiteral("Edit_scan_time"));
    editScanTime_->setGeometry(110, 28, 100, 24);
    // A numeric entry box: digits only.
    editScanTime_->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), this));
    label("Label4", "ms", 215, 32);

    label1_ = label("Label1", "", 20, 72);
    cmbAddrStart_ = new QComboBox(this);
    cmbAddrStart_->setObjectName(QStringLiteral("Cmb_addr_start"));
    cmbAddrStart_->setGeometry(110, 68, 100, 24);

    label2_ = label("Label2", "", 20, 112);
    editAddrScan_ = new QLineEdit(QStringLiteral("0"), this);
    editAddrScan_->setObjectName(QStringLiteral("Edit_addr_scan"));
    editAddrScan_->setReadOnly(true);
    editAddrScan_->setGeometry(110, 108, 100, 24);

    progressBar_ = new QProgressBar(this);
    progressBar_->setObjectName(QStringLiteral("ProgressBar1"));
    progressBar_->setRange(kScanFirstAddress, kScanLastAddress);
    progressBar_->setGeometry(20, 150, 354, 20);

    btnStart_ = new QPushButton(this);
    btnStart_->setObjectName(QStringLiteral("Btn_start"));
    btnStart_->setGeometry(80, 185, 90, 30);
    btnStop_ = new QPushButton(this);
    btnStop_->setObjectName(QStringLiteral("Btn_stop"));
    btnStop_->setGeometry(224, 185, 90, 30);
    btnStart_->setAutoDefault(false);
    btnStop_->setAutoDefault(false);

    image1_ = new QLabel(this);
    image1_->setObjectName(QStringLiteral("Image1"));
    image1_->setGeometry(270, 30, kImageSize, kImageSize);
    image1_->setPixmap(ctx_.BusyPicture.isNull() ? DrawBusyPicture() : ctx_.BusyPicture);
    image1_->setScaledContents(true);
    image1_->hide();

    timerScan_ = new QTimer(this);
    timerScan_->setObjectName(QStringLiteral("Timer_scan"));
    timerScan_->setInterval(1000);
    timer1_ = new QTimer(this);
    timer1_->setObjectName(QStringLiteral("Timer1"));
    timer1_->setInterval(kBusyStepMs);

    connect(btnStart_, &QPushButton::clicked, this, [this] { Btn_startClick(); });
    connect(btnStop_, &QPushButton::clicked, this, [this] { Btn_stopClick(); });
    connect(timerScan_, &QTimer::timeout, this, [this] { Timer_scanTimer(); });
    connect(timer1_, &QTimer::timeout, this, [this] { Timer1Timer(); });
    RetranslateUi();
}

void TFMserching::RetranslateUi() {
    setWindowTitle(TrText("kelm::TFMserching", kCaption));
    for (auto [l, text] :
         {std::pair{label3_, tr("扫描间隔：")}, std::pair{label1_, tr("开始地址：")},
          std::pair{label2_, tr("扫描地址：")}}) {
        l->setText(text);
        l->adjustSize();
    }
    btnStart_->setText(tr("开始"));
    btnStop_->setText(tr("停止"));
}

void TFMserching::changeEvent(QEvent* event) {
    if (event->type() == QEvent::LanguageChange) RetranslateUi();
    QDialog::changeEvent(event);
}

TFMserching::~TFMserching() {
    timerScan_->stop();
    timer1_->stop();
}

void TFMserching::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (event->spontaneous()) return;  // restored from minimised, not a new show
    if (QScreen* s = screen()) move(s->availableGeometry().center() - rect().center());
    FormShow();
}

void TFMserching::FormShow() {
    image_left_ = image1_->x();
    image_top_ = image1_->y();
    image_index_ = 1;
    timer1_->stop();
    timerScan_->stop();
    editScanTime_->setText(QStringLiteral("1000"));
    cmbAddrStart_->clear();
    for (int a = kScanFirstAddress; a <= kScanLastAddress; ++a)
        cmbAddrStart_->addItem(QString::number(a));
    cmbAddrStart_->setCurrentIndex(0);
    progressBar_->reset();
}

void TFMserching::Btn_startClick() {
    // The results of an earlier scan go first, even if this start fails.
    QTreeWidgetItem* port = ctx_.tree.currentItem();
    if (TreeNodeLevel(port) == 1) qDeleteAll(port->takeChildren());

    const QString text = editScanTime_->text();
    bool ok = false;
    const int interval = text.toInt(&ok);
    if (!ok) {
        ctx_.boxes.ReportConversionError(
            QStringLiteral("'%1' is not a valid integer value").arg(text));
        return;
    }
    if (interval < kIntervalMin || interval > kIntervalMax) {
        ctx_.boxes.Show(NoticeTitle(), TrText("kelm::TFMserching", kIntervalWarning),
                        MsgIcon::Warning, MsgButtons::Ok);
        return;
    }
    timerScan_->setInterval(interval);
    image1_->show();
    timer1_->start();
    scan_addr_ = cmbAddrStart_->currentText().toInt();
    timerScan_->start();
    ctx_.master.State().Scan_Device_Flag = true;
}

void TFMserching::Btn_stopClick() {
    timerScan_->stop();
    timer1_->stop();
}

void TFMserching::Timer_scanTimer() {
    if (scan_addr_ < kScanFirstAddress || scan_addr_ > kScanLastAddress) {
        Btn_stopClick();
        return;
    }
    ctx_.master.State().Modbus_Reg_Addr = 0;
    const ByteString request =
        ScanRequest(static_cast<std::uint8_t>(scan_addr_), ctx_.ProtocolIndex());
    if (!request.empty() && ctx_.SendString) ctx_.SendString(request);
    editAddrScan_->setText(QString::number(scan_addr_));
    progressBar_->setValue(scan_addr_);
    ++scan_addr_;
    if (scan_addr_ > kScanLastAddress) {
        timerScan_->stop();
        timer1_->stop();
        // Modal: the reply of the last address is still handled while it is open.
        ctx_.boxes.Show(NoticeTitle(), TrText("kelm::TFMserching", kFinished), MsgIcon::Information,
                        MsgButtons::Ok);
    }
}

void TFMserching::Timer1Timer() {
    if (image_index_ < 1 || image_index_ > static_cast<int>(kBusySteps.size())) image_index_ = 1;
    const Offset& o = kBusySteps[static_cast<std::size_t>(image_index_ - 1)];
    image1_->move(image_left_ + o.dx, image_top_ + o.dy);
    image_index_ = image_index_ % static_cast<int>(kBusySteps.size()) + 1;
}

void TFMserching::done(int result) {
    timerScan_->stop();
    timer1_->stop();
    ctx_.master.State().Scan_Device_Flag = false;
    QDialog::done(result);
}

bool OpenScanDialog(const ScanContext& ctx, QWidget* parent) {
    if (TreeNodeLevel(ctx.tree.currentItem()) != 1) return false;
    if (!ctx.PortActive || !ctx.PortActive()) return false;
    if (ctx.LinkCheckRunning && ctx.LinkCheckRunning()) return false;
    // Whatever happens while it is shown, the flag is cleared and the dialog
    // destroyed when it closes.
    struct ClearFlag {
        ModbusMaster& master;
        ~ClearFlag() { master.State().Scan_Device_Flag = false; }
    } clear{ctx.master};
    auto dialog = std::make_unique<TFMserching>(ctx, parent);
    dialog->exec();
    return true;
}

}  // namespace kelm
