#include "app/TFmabout.h"

#include <QDesktopServices>
#include <QEvent>
#include <QFrame>
#include <QMouseEvent>

#include "app/Version.h"
#include "gui/Pictures.h"

namespace kelm {

namespace {
TFmabout::UrlOpener& opener() {
    static TFmabout::UrlOpener fn = [](const QUrl& url) { return QDesktopServices::openUrl(url); };
    return fn;
}

QLabel* textLabel(QWidget* parent, const char* name, const QString& text, int x, int y,
                  int pixelSize) {
    auto* l = new QLabel(text, parent);
    l->setObjectName(QString::fromLatin1(name));
    QFont f = parent->font();
    f.setFamilies({QStringLiteral("Times New Roman"), QStringLiteral("WenQuanYi Micro Hei")});
    f.setPixelSize(pixelSize);
    l->setFont(f);
    l->move(x, y);
    return l;
}
}  // namespace

QString TFmabout::WebAddress() {
    return QStringLiteral("www.kelm-io.com");
}

void TFmabout::SetUrlOpener(UrlOpener fn) {
    opener() = fn ? std::move(fn)
                  : UrlOpener([](const QUrl& url) { return QDesktopServices::openUrl(url); });
}

TFmabout::TFmabout(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("Fmabout"));
    // fixed border with only a close box
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(394, 271);
    setModal(true);

    Image1 = new QLabel(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setGeometry(0, 0, 496, 80);
    Image1->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    Label1 = textLabel(this, "Label1", QString(), 5, 98, 14);
    Label2 = textLabel(this, "Label2", QString(), 5, 118, 14);
    Label3 = textLabel(this, "Label3", QString(), 5, 140, 14);

    // The release the package installed, from the one project version.
    LabelVersion_ = textLabel(this, "LabelVersion", QString(), 5, 180, 14);
    LabelVersion_->resize(384, 20);  // fixed: no text metrics for the never-shown start-up box

    auto* Bevel1 = new QFrame(this);
    Bevel1->setObjectName(QStringLiteral("Bevel1"));
    Bevel1->setFrameShape(QFrame::HLine);
    Bevel1->setFrameShadow(QFrame::Raised);
    Bevel1->setGeometry(0, 220, 400, 5);

    Label4 = textLabel(this, "Label4", QString(), 55, 240, 14);
    Label5 = textLabel(this, "Label5", WebAddress(), 220, 238, 16);
    Label5->installEventFilter(this);
    Label5MouseLeave();
    RetranslateUi();
}

void TFmabout::RetranslateUi() {
    setWindowTitle(tr("关于软件"));
    Label1->setText(tr(" 本软件用于我公司KELM系列远程IO模块的参数配置及调试，"));
    Label2->setText(tr("模块的接线、寄存器定义等详细说明请参阅模块用户手册，"));
    Label3->setText(tr("勿用于非法用途，感谢您的使用！"));
    LabelVersion_->setText(tr("版本：%1").arg(QLatin1String(kVersion)));
    Label4->setText(tr("KELM 自动化"));
    if (!Image1->pixmap().isNull())
        for (QLabel* l : {Label1, Label2, Label3, Label4}) l->adjustSize();
}

void TFmabout::changeEvent(QEvent* event) {
    if (event->type() == QEvent::LanguageChange) RetranslateUi();
    QDialog::changeEvent(event);
}

void TFmabout::showEvent(QShowEvent* event) {
    // The start-up instance is never shown: the banner and the text metrics
    // are only loaded for a box that is.
    if (Image1->pixmap().isNull()) {
        Image1->setPixmap(AboutBanner());
        for (QLabel* l : {Label1, Label2, Label3, Label4, Label5}) l->adjustSize();
    }
    QDialog::showEvent(event);
}

bool TFmabout::eventFilter(QObject* watched, QEvent* event) {
    if (watched == Label5) {
        switch (event->type()) {
            case QEvent::Enter:
                Label5MouseEnter();
                break;
            case QEvent::Leave:
                Label5MouseLeave();
                break;
            case QEvent::MouseButtonRelease:
                if (static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) Label5Click();
                break;
            default:
                break;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void TFmabout::Label5Click() {
    // The caption is the address; the shell opens it as a web address.
    opener()(QUrl::fromUserInput(Label5->text()));
}

void TFmabout::Label5MouseEnter() {
    QPalette pal = Label5->palette();
    pal.setColor(QPalette::WindowText, QColor(0, 0, 255));
    Label5->setPalette(pal);
    setCursor(Qt::PointingHandCursor);
}

void TFmabout::Label5MouseLeave() {
    QPalette pal = Label5->palette();
    pal.setColor(QPalette::WindowText, palette().color(QPalette::WindowText));
    Label5->setPalette(pal);
    unsetCursor();
}

}  // namespace kelm
