#include "app/StatusBar.h"

#include <QPainter>
#include <QStyle>
#include <QStyleOption>

namespace kelm {

namespace {
constexpr int kWidths[TStatusBar::kPanelCount - 1] = {205, 5, 590, 5, 29, 5};
constexpr int kLastMinWidth = 40;
constexpr int kHeight = 25;
}  // namespace

TStatusBar::TStatusBar(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("StatusBar1"));
    setFixedHeight(kHeight);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void TStatusBar::SetPanelText(int panel, const QString& text) {
    if (panel < 0 || panel >= kPanelCount || panel == kOwnerDrawnPanel) return;
    if (texts_[panel] == text) return;
    texts_[panel] = text;
    update(PanelRect(panel));
}

QString TStatusBar::PanelText(int panel) const {
    if (panel < 0 || panel >= kPanelCount) return {};
    return texts_[panel];
}

QRect TStatusBar::PanelRect(int panel) const {
    if (panel < 0 || panel >= kPanelCount) return {};
    int x = 0;
    for (int i = 0; i < panel; ++i) x += kWidths[i];
    int w = panel < kPanelCount - 1 ? kWidths[panel] : std::max(kLastMinWidth, width() - x);
    return QRect(x, 0, w, height());
}

QSize TStatusBar::sizeHint() const {
    int w = kLastMinWidth;
    for (int v : kWidths) w += v;
    return QSize(w, kHeight);
}

void TStatusBar::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), palette().window());
    for (int i = 0; i < kPanelCount; ++i) {
        const QRect r = PanelRect(i).adjusted(1, 2, -1, -1);
        // sunken panel frame, as a classic status bar has
        p.setPen(palette().color(QPalette::Mid));
        p.drawLine(r.topLeft(), r.topRight());
        p.drawLine(r.topLeft(), r.bottomLeft());
        p.setPen(palette().color(QPalette::Light));
        p.drawLine(r.bottomLeft(), r.bottomRight());
        p.drawLine(r.topRight(), r.bottomRight());
        if (i == kOwnerDrawnPanel) {
            if (onDrawPanel_) {
                p.save();
                onDrawPanel_(p, PanelRect(i));
                p.restore();
            }
            continue;
        }
        if (!texts_[i].isEmpty()) {
            p.setPen(palette().color(QPalette::WindowText));
            p.drawText(r.adjusted(3, 0, -2, 0),
                       Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, texts_[i]);
        }
    }
}

}  // namespace kelm
