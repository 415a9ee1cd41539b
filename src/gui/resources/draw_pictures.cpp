// Draws the program's pictures (tree/toolbar/status icons, the communication
// monitor's and the trend view's toolbar pictures, the digital panels' lamps
// and ON/OFF faces, About banner, busy picture) into PNG/JPEG files. Run
// by hand after changing a picture:
//   kelm-draw-pictures src/gui/resources
// The generated files are committed and compiled in through pictures.qrc.
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <cmath>
#include <cstdio>
#include <functional>

namespace {

const QColor kInk(0x24, 0x33, 0x4a);
const QColor kGreen(0x1e, 0xa0, 0x3c);
const QColor kRed(0xd0, 0x30, 0x2a);
const QColor kBlue(0x2a, 0x6e, 0xd0);
const QColor kGrey(0x8a, 0x94, 0xa0);

QImage canvas(int w, int h) {
    QImage img(w, h, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    return img;
}

void pen(QPainter& p, const QColor& c, qreal w) {
    p.setPen(QPen(c, w, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
}

// 0: the PC, a monitor on a stand.
void drawPc(QPainter& p) {
    pen(p, kInk, 1.2);
    p.setBrush(QColor(0xdd, 0xe8, 0xf6));
    p.drawRoundedRect(QRectF(2.5, 3.5, 15, 10), 1.5, 1.5);
    p.setBrush(kBlue.lighter(130));
    p.setPen(Qt::NoPen);
    p.drawRect(QRectF(4.5, 5.5, 11, 6));
    pen(p, kInk, 1.2);
    p.drawLine(QPointF(10, 13.5), QPointF(10, 16.5));
    p.drawLine(QPointF(6, 16.5), QPointF(14, 16.5));
}

// A D-sub style serial connector; its body colour tells open from closed.
void drawConnector(QPainter& p, const QColor& body, bool open) {
    pen(p, kInk, 1.1);
    p.setBrush(body);
    QPainterPath path;
    path.moveTo(2.5, 6.5);
    path.lineTo(17.5, 6.5);
    path.lineTo(15.5, 14.5);
    path.lineTo(4.5, 14.5);
    path.closeSubpath();
    p.drawPath(path);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    for (int i = 0; i < 5; ++i) p.drawEllipse(QPointF(5.2 + i * 2.4, 9.3), 0.9, 0.9);
    for (int i = 0; i < 4; ++i) p.drawEllipse(QPointF(6.4 + i * 2.4, 12.0), 0.9, 0.9);
    if (!open) {
        pen(p, kRed, 1.6);
        p.drawLine(QPointF(13.5, 1.5), QPointF(18.5, 5.5));
        p.drawLine(QPointF(18.5, 1.5), QPointF(13.5, 5.5));
    } else {
        p.setPen(Qt::NoPen);
        p.setBrush(kGreen);
        p.drawEllipse(QPointF(16, 3.5), 2.5, 2.5);
    }
}

// A network port: an RJ45 jack with its latch and contacts, a network trace
// leaving it; the body colour and the mark tell open from closed as on the
// serial connector.
void drawNetPort(QPainter& p, bool open) {
    pen(p, kGrey, 1.2);
    p.drawLine(QPointF(10, 16.5), QPointF(10, 19));
    p.drawLine(QPointF(4, 19), QPointF(16, 19));
    pen(p, kInk, 1.1);
    p.setBrush(open ? kGreen : kGrey);
    p.drawRoundedRect(QRectF(3.5, 5.5, 13, 11), 1.2, 1.2);
    p.setBrush(Qt::white);
    QPainterPath jack;
    jack.moveTo(5.5, 7.5);
    jack.lineTo(14.5, 7.5);
    jack.lineTo(14.5, 12.5);
    jack.lineTo(12.0, 12.5);
    jack.lineTo(12.0, 14.5);
    jack.lineTo(8.0, 14.5);
    jack.lineTo(8.0, 12.5);
    jack.lineTo(5.5, 12.5);
    jack.closeSubpath();
    p.drawPath(jack);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xd4, 0xa0, 0x17));
    for (int i = 0; i < 4; ++i) p.drawRect(QRectF(6.6 + i * 2.0, 8.0, 0.9, 2.2));
    if (!open) {
        pen(p, kRed, 1.6);
        p.drawLine(QPointF(13.5, 0.5), QPointF(18.5, 4.5));
        p.drawLine(QPointF(18.5, 0.5), QPointF(13.5, 4.5));
    } else {
        p.setPen(Qt::NoPen);
        p.setBrush(kGreen.darker(115));
        p.drawEllipse(QPointF(16.5, 2.8), 2.3, 2.3);
    }
}

// 3 and 4: status icon, a plug in or out of its socket.
void drawPlug(QPainter& p, bool open) {
    const QColor c = open ? kGreen : kRed;
    pen(p, kInk, 1.1);
    p.setBrush(QColor(0xe6, 0xe6, 0xe6));
    p.drawRoundedRect(QRectF(11.5, 4.5, 6, 11), 1.2, 1.2);  // socket
    const qreal shift = open ? 0.0 : -4.0;
    p.setBrush(c);
    p.drawRoundedRect(QRectF(4.5 + shift, 6.5, 6, 7), 1.2, 1.2);  // plug body
    pen(p, kInk, 1.2);
    p.drawLine(QPointF(10.5 + shift, 8.5), QPointF(13.5 + shift, 8.5));
    p.drawLine(QPointF(10.5 + shift, 11.5), QPointF(13.5 + shift, 11.5));
    pen(p, c.darker(130), 1.6);
    p.drawLine(QPointF(4.5 + shift, 10), QPointF(1.0, 10));
}

// 5: a DIN-rail module with its terminal row and a status lamp.
void drawModule(QPainter& p) {
    pen(p, kInk, 1.1);
    p.setBrush(QColor(0xf2, 0xf2, 0xf2));
    p.drawRoundedRect(QRectF(3.5, 2.5, 13, 15), 1.5, 1.5);
    p.setBrush(kBlue);
    p.drawRect(QRectF(3.5, 2.5, 13, 4));
    p.setPen(Qt::NoPen);
    p.setBrush(kGreen);
    p.drawEllipse(QPointF(13.5, 9.5), 1.3, 1.3);
    p.setBrush(kInk);
    for (int i = 0; i < 4; ++i) p.drawRect(QRectF(5 + i * 2.7, 14, 1.6, 2));
}

// 6: a channel, one terminal with its lead.
void drawChannel(QPainter& p) {
    pen(p, kInk, 1.1);
    p.setBrush(QColor(0xff, 0xc8, 0x3c));
    p.drawEllipse(QPointF(7, 10), 3.5, 3.5);
    pen(p, kInk, 1.4);
    p.drawLine(QPointF(10.5, 10), QPointF(17.5, 10));
    p.drawLine(QPointF(15.5, 7.5), QPointF(17.5, 10));
    p.drawLine(QPointF(15.5, 12.5), QPointF(17.5, 10));
}

// 7: scan, a magnifier over a bus line.
void drawScan(QPainter& p) {
    pen(p, kGrey, 1.2);
    p.drawLine(QPointF(1, 17.5), QPointF(19, 17.5));
    pen(p, kInk, 1.6);
    p.setBrush(QColor(0xcf, 0xe6, 0xff));
    p.drawEllipse(QPointF(8, 8), 5, 5);
    pen(p, kInk, 2.4);
    p.drawLine(QPointF(11.8, 11.8), QPointF(16.5, 16.0));
}

// 8: about, an "i" in a blue disc.
void drawAbout(QPainter& p) {
    p.setPen(Qt::NoPen);
    p.setBrush(kBlue);
    p.drawEllipse(QPointF(10, 10), 8.5, 8.5);
    p.setBrush(Qt::white);
    p.drawEllipse(QPointF(10, 5.6), 1.5, 1.5);
    p.drawRoundedRect(QRectF(8.6, 8.2, 2.8, 7.6), 1, 1);
}

// 9: exit, a door with an arrow leaving it.
void drawExit(QPainter& p) {
    pen(p, kInk, 1.2);
    p.setBrush(QColor(0xc8, 0x8c, 0x50));
    p.drawRect(QRectF(2.5, 2.5, 8, 15));
    p.setPen(Qt::NoPen);
    p.setBrush(kInk);
    p.drawEllipse(QPointF(8.6, 10.5), 0.9, 0.9);
    pen(p, kRed, 2.0);
    p.drawLine(QPointF(11, 10), QPointF(18, 10));
    p.drawLine(QPointF(15, 7), QPointF(18, 10));
    p.drawLine(QPointF(15, 13), QPointF(18, 10));
}

// The communication monitor's toolbar picture: a scope screen showing a
// serial signal, over a line with a request going out and a reply coming back.
void drawMonitor(QPainter& p) {
    pen(p, kInk, 1.1);
    p.setBrush(QColor(0x1c, 0x2a, 0x3a));
    p.drawRoundedRect(QRectF(2.5, 1.5, 15, 10), 1.5, 1.5);
    pen(p, QColor(0x5c, 0xe0, 0x6c), 1.2);
    QPainterPath wave;
    wave.moveTo(4.5, 8.5);
    wave.lineTo(6.5, 8.5);
    wave.lineTo(6.5, 4.5);
    wave.lineTo(9.0, 4.5);
    wave.lineTo(9.0, 8.5);
    wave.lineTo(10.5, 8.5);
    wave.lineTo(10.5, 4.5);
    wave.lineTo(13.5, 4.5);
    wave.lineTo(13.5, 8.5);
    wave.lineTo(15.5, 8.5);
    p.setBrush(Qt::NoBrush);
    p.drawPath(wave);
    // request out (right), reply back (left)
    pen(p, kBlue, 1.5);
    p.drawLine(QPointF(2.5, 14.5), QPointF(13.5, 14.5));
    p.drawLine(QPointF(11.5, 12.8), QPointF(13.5, 14.5));
    p.drawLine(QPointF(11.5, 16.2), QPointF(13.5, 14.5));
    pen(p, kGreen, 1.5);
    p.drawLine(QPointF(17.5, 17.5), QPointF(6.5, 17.5));
    p.drawLine(QPointF(8.5, 15.8), QPointF(6.5, 17.5));
    p.drawLine(QPointF(8.5, 19.2), QPointF(6.5, 17.5));
}

// The trend view's toolbar picture: a chart with two axes, a measured curve
// and a digital step line beneath it.
void drawTrend(QPainter& p) {
    pen(p, kInk, 1.1);
    p.setBrush(Qt::white);
    p.drawRect(QRectF(2.5, 1.5, 15.5, 16));
    pen(p, kInk, 1.3);
    p.drawLine(QPointF(4.5, 3.0), QPointF(4.5, 16.0));
    p.drawLine(QPointF(4.5, 16.0), QPointF(16.5, 16.0));
    p.setBrush(Qt::NoBrush);
    pen(p, kBlue, 1.4);
    QPainterPath curve;
    curve.moveTo(5.5, 10.5);
    curve.cubicTo(7.5, 4.0, 9.5, 4.0, 11.0, 8.0);
    curve.cubicTo(12.5, 11.5, 14.0, 6.0, 16.5, 4.0);
    p.drawPath(curve);
    pen(p, kGreen, 1.3);
    QPainterPath step;
    step.moveTo(5.5, 14.5);
    step.lineTo(8.5, 14.5);
    step.lineTo(8.5, 12.0);
    step.lineTo(12.5, 12.0);
    step.lineTo(12.5, 14.5);
    step.lineTo(16.5, 14.5);
    p.drawPath(step);
}

QImage icon(const std::function<void(QPainter&)>& draw) {
    QImage img = canvas(20, 20);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    draw(p);
    return img;
}

// 50x50 lamp: a lit lamp on a green disc, or a grey lamp on a grey disc. The
// two differ in colour and in brightness, so they read apart at a glance and
// in grey scale too.
QImage lamp(bool on) {
    QImage img = canvas(50, 50);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor disc = on ? QColor(0x1e, 0xb4, 0x46) : QColor(0x9a, 0xa0, 0xa8);
    QRadialGradient bg(QPointF(20, 18), 26);
    bg.setColorAt(0, disc.lighter(on ? 135 : 115));
    bg.setColorAt(1, disc.darker(on ? 115 : 110));
    pen(p, disc.darker(150), 1.5);
    p.setBrush(bg);
    p.drawEllipse(QPointF(25, 25), 23, 23);
    // the bulb
    QRadialGradient bulb(QPointF(22, 18), 13);
    if (on) {
        bulb.setColorAt(0, QColor(0xff, 0xff, 0xe0));
        bulb.setColorAt(0.5, QColor(0xff, 0xf0, 0x60));
        bulb.setColorAt(1, QColor(0xff, 0xc0, 0x20));
    } else {
        bulb.setColorAt(0, QColor(0xf0, 0xf0, 0xf0));
        bulb.setColorAt(1, QColor(0xb4, 0xb8, 0xbe));
    }
    pen(p, on ? QColor(0xb0, 0x80, 0x10) : QColor(0x70, 0x74, 0x7a), 1.2);
    p.setBrush(bulb);
    p.drawEllipse(QPointF(25, 21), 10, 10);
    p.setBrush(on ? QColor(0xe0, 0xe0, 0xe0) : QColor(0xa8, 0xa8, 0xa8));
    p.drawRoundedRect(QRectF(20, 30, 10, 8), 1.5, 1.5);  // the cap
    pen(p, QColor(0x60, 0x60, 0x60), 1.0);
    p.drawLine(QPointF(20.5, 33), QPointF(29.5, 33));
    p.drawLine(QPointF(20.5, 35.5), QPointF(29.5, 35.5));
    if (on) {  // rays
        pen(p, QColor(0xff, 0xff, 0xb0), 1.6);
        for (int i = 0; i < 7; ++i) {
            const double a = -M_PI / 2 + (i - 3) * 0.45;
            p.drawLine(QPointF(25 + 13 * std::cos(a), 21 + 13 * std::sin(a)),
                       QPointF(25 + 18 * std::cos(a), 21 + 18 * std::sin(a)));
        }
    }
    return img;
}

// 50x50 button face with a word: a green "ON" or a red "OFF".
QImage face(bool on) {
    QImage img = canvas(50, 50);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor c = on ? QColor(0x16, 0xa3, 0x3c) : QColor(0xd2, 0x28, 0x22);
    QLinearGradient g(0, 2, 0, 48);
    g.setColorAt(0, c.lighter(135));
    g.setColorAt(1, c.darker(120));
    pen(p, c.darker(160), 1.5);
    p.setBrush(g);
    p.drawRoundedRect(QRectF(2, 2, 46, 46), 9, 9);
    QFont f("DejaVu Sans");
    f.setPixelSize(on ? 20 : 16);
    f.setBold(true);
    p.setFont(f);
    p.setPen(Qt::white);
    p.drawText(QRectF(0, 0, 50, 50), Qt::AlignCenter, on ? "ON" : "OFF");
    return img;
}

QImage banner() {
    QImage img(496, 80, QImage::Format_RGB32);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient g(0, 0, 496, 80);
    g.setColorAt(0, QColor(0x12, 0x3a, 0x6e));
    g.setColorAt(1, QColor(0x2a, 0x8a, 0xc8));
    p.fillRect(img.rect(), g);
    // a stylised RS-485 bus with modules hanging off it
    p.setPen(QPen(QColor(255, 255, 255, 90), 2));
    p.drawLine(QPointF(250, 62), QPointF(490, 62));
    for (int i = 0; i < 4; ++i) {
        const qreal x = 270 + i * 55;
        p.drawLine(QPointF(x + 15, 62), QPointF(x + 15, 52));
        p.setBrush(QColor(255, 255, 255, 40));
        p.drawRoundedRect(QRectF(x, 18, 30, 34), 3, 3);
        p.setBrush(QColor(0x7c, 0xe0, 0x7c));
        p.drawEllipse(QPointF(x + 22, 26), 2.5, 2.5);
    }
    QFont f("DejaVu Sans");
    f.setPixelSize(34);
    f.setBold(true);
    p.setFont(f);
    p.setPen(Qt::white);
    p.drawText(QRectF(18, 8, 240, 44), Qt::AlignLeft | Qt::AlignVCenter, "KELM");
    f.setPixelSize(14);
    f.setBold(false);
    p.setFont(f);
    p.setPen(QColor(0xdd, 0xee, 0xff));
    p.drawText(QRectF(20, 50, 240, 22), Qt::AlignLeft | Qt::AlignVCenter, "Remote I/O Utility");
    return img;
}

// Busy picture: a ring of dots fading round, readable while it moves.
QImage busy() {
    QImage img = canvas(50, 50);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    for (int i = 0; i < 12; ++i) {
        const double a = i * M_PI / 6.0;
        QColor c = kBlue;
        c.setAlpha(60 + i * 16);
        p.setPen(Qt::NoPen);
        p.setBrush(c);
        p.drawEllipse(QPointF(25 + 17 * std::sin(a), 25 - 17 * std::cos(a)), 3.0 + i * 0.12,
                      3.0 + i * 0.12);
    }
    p.setBrush(kGreen);
    p.drawEllipse(QPointF(25, 25), 6, 6);
    return img;
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output directory>\n", argv[0]);
        return 2;
    }
    QDir out(QString::fromLocal8Bit(argv[1]));
    const std::function<void(QPainter&)> icons[10] = {
        drawPc,
        [](QPainter& p) { drawConnector(p, kGreen, true); },
        [](QPainter& p) { drawConnector(p, kGrey, false); },
        [](QPainter& p) { drawPlug(p, true); },
        [](QPainter& p) { drawPlug(p, false); },
        drawModule,
        drawChannel,
        drawScan,
        drawAbout,
        drawExit,
    };
    bool ok = true;
    for (int i = 0; i < 10; ++i)
        ok &= icon(icons[i]).save(out.filePath(QString("image2020_%1.png").arg(i)));
    ok &= icon(drawMonitor).save(out.filePath("image_monitor.png"));
    ok &= icon(drawTrend).save(out.filePath("image_trend.png"));
    ok &= icon([](QPainter& p) {
              drawNetPort(p, true);
          }).save(out.filePath("image_netport_open.png"));
    ok &= icon([](QPainter& p) {
              drawNetPort(p, false);
          }).save(out.filePath("image_netport_closed.png"));
    const QImage list50x[4] = {lamp(true), lamp(false), face(true), face(false)};
    for (int i = 0; i < 4; ++i)
        ok &= list50x[i].save(out.filePath(QString("image50x_%1.png").arg(i)));
    ok &= banner().save(out.filePath("about_banner.jpg"), "JPG", 92);
    ok &= busy().save(out.filePath("busy.png"));
    return ok ? 0 : 1;
}
