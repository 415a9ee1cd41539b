// Draws the application icon for the desktop menu into the hicolor theme
// layout, one PNG per size. Run by hand after changing the picture:
//   kelm-draw-icon packaging/icons
// The generated files are committed and installed by the package.
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <cstdio>

namespace {

// The About banner's blues, so that menu and program look like one product.
const QColor kDeep(0x12, 0x3a, 0x6e);
const QColor kSky(0x2a, 0x8a, 0xc8);
const QColor kCase(0xf2, 0xf5, 0xf8);
const QColor kCaseEdge(0x9a, 0xa8, 0xb8);
const QColor kTerminal(0x1e, 0xa0, 0x3c);
const QColor kLedOn(0x3c, 0xe0, 0x5a);
const QColor kLedOff(0x5a, 0x66, 0x74);

// An I/O module hanging off an RS-485 bus, on a rounded tile. Drawn on a
// 256-unit grid; small sizes drop the terminal screws and use fewer, larger
// LEDs so that the picture still reads at 16 pixels.
QImage drawIcon(int size) {
    QImage img(size, size, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 256.0, size / 256.0);
    const bool small = size <= 24;

    QLinearGradient bg(0, 0, 256, 256);
    bg.setColorAt(0, kDeep);
    bg.setColorAt(1, kSky);
    p.setPen(Qt::NoPen);
    p.setBrush(bg);
    const qreal margin = small ? 4 : 12;
    p.drawRoundedRect(QRectF(margin, margin, 256 - 2 * margin, 256 - 2 * margin), 44, 44);

    // The bus and the module's drop line.
    const qreal busY = small ? 214 : 206;
    p.setPen(QPen(QColor(0xe4, 0xee, 0xf8), small ? 22 : 10, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(margin + 26, busY), QPointF(256 - margin - 26, busY));
    p.drawLine(QPointF(128, busY), QPointF(128, 170));

    // The module's case.
    const QRectF body = small ? QRectF(52, 36, 152, 140) : QRectF(60, 40, 136, 136);
    p.setPen(QPen(kCaseEdge, small ? 10 : 5));
    p.setBrush(kCase);
    p.drawRoundedRect(body, 16, 16);

    // Terminal strip along the top.
    const QRectF strip(body.left() + 12, body.top() + 12, body.width() - 24, small ? 40 : 32);
    p.setPen(Qt::NoPen);
    p.setBrush(kTerminal);
    p.drawRoundedRect(strip, 6, 6);
    if (!small) {
        p.setBrush(QColor(0xe8, 0xf4, 0xea));
        for (int i = 0; i < 5; ++i)
            p.drawEllipse(QPointF(strip.left() + 14 + i * 20.5, strip.center().y()), 6, 6);
    }

    // Channel LEDs: two rows of four, or one row of two when small.
    if (small) {
        p.setBrush(kLedOn);
        p.drawEllipse(QPointF(98, 130), 22, 22);
        p.setBrush(kLedOff);
        p.drawEllipse(QPointF(158, 130), 22, 22);
    } else {
        const bool lit[8] = {true, false, true, true, false, true, false, false};
        for (int i = 0; i < 8; ++i) {
            p.setBrush(lit[i] ? kLedOn : kLedOff);
            p.drawEllipse(QPointF(body.left() + 26 + (i % 4) * 28, 112 + (i / 4) * 30), 9, 9);
        }
    }
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
    const QDir out(QString::fromLocal8Bit(argv[1]));
    bool ok = true;
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256, 512}) {
        const QString dir = QString("hicolor/%1x%1/apps").arg(size);
        ok &= out.mkpath(dir);
        ok &= drawIcon(size).save(out.filePath(dir + "/kelm-utility.png"));
    }
    return ok ? 0 : 1;
}
