#include "gui/Pictures.h"

#include <QPixmapCache>
#include <QString>

// The resource file is compiled into this static library; its initialiser must
// be pulled in explicitly or the linker drops it.
static void ensurePictures() {
    static const bool loaded = [] {
        Q_INIT_RESOURCE(pictures);
        return true;
    }();
    (void)loaded;
}

namespace kelm {

namespace {
// Each picture is decoded once; QPixmapCache belongs to the application object
// and is emptied with it.
QPixmap cached(const QString& path) {
    ensurePictures();
    QPixmap pm;
    if (QPixmapCache::find(path, &pm)) return pm;
    pm = QPixmap(path);
    if (!pm.isNull()) QPixmapCache::insert(path, pm);
    return pm;
}
}  // namespace

QPixmap ImageList2020(int index) {
    if (index < 0 || index >= kImageList2020Count) return {};
    return cached(QStringLiteral(":/kelm/image2020_%1.png").arg(index));
}

QIcon ImageList2020Icon(int index) {
    QIcon icon;
    const QPixmap pm = ImageList2020(index);
    if (pm.isNull()) return icon;
    // A tree node shows the same picture whether selected or not.
    icon.addPixmap(pm, QIcon::Normal);
    icon.addPixmap(pm, QIcon::Selected);
    icon.addPixmap(pm, QIcon::Active);
    return icon;
}

QPixmap ImageList50x(int index) {
    if (index < 0 || index >= kImageList50xCount) return {};
    return cached(QStringLiteral(":/kelm/image50x_%1.png").arg(index));
}

QIcon ImageList50xIcon(int index) {
    const QPixmap pm = ImageList50x(index);
    return pm.isNull() ? QIcon() : QIcon(pm);
}

QPixmap MonitorPicture() {
    return cached(QStringLiteral(":/kelm/image_monitor.png"));
}

QIcon MonitorIcon() {
    const QPixmap pm = MonitorPicture();
    return pm.isNull() ? QIcon() : QIcon(pm);
}

QPixmap TrendPicture() {
    return cached(QStringLiteral(":/kelm/image_trend.png"));
}

QIcon TrendIcon() {
    const QPixmap pm = TrendPicture();
    return pm.isNull() ? QIcon() : QIcon(pm);
}

QPixmap NetworkPortPicture(bool open) {
    return cached(open ? QStringLiteral(":/kelm/image_netport_open.png")
                       : QStringLiteral(":/kelm/image_netport_closed.png"));
}

QIcon NetworkPortIcon(bool open) {
    QIcon icon;
    const QPixmap pm = NetworkPortPicture(open);
    if (pm.isNull()) return icon;
    icon.addPixmap(pm, QIcon::Normal);
    icon.addPixmap(pm, QIcon::Selected);
    icon.addPixmap(pm, QIcon::Active);
    return icon;
}

QPixmap AboutBanner() {
    return cached(QStringLiteral(":/kelm/about_banner.jpg"));
}

QPixmap BusyPicture() {
    return cached(QStringLiteral(":/kelm/busy.png"));
}

}  // namespace kelm
