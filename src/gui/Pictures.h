#pragma once
// The program's pictures, compiled in as Qt resources: the 20x20 list
// `ImageList2020` (tree, status bar, toolbar), the communication monitor's
// toolbar picture, the 50x50 list `ImageList50x`
// (lamps and the ON/OFF faces of the digital panels), the About banner and the
// scan dialog's busy picture.
#include <QIcon>
#include <QPixmap>

namespace kelm {

// Roles of the ten ImageList2020 pictures, by index.
enum ImageIndex : int {
    kImgRoot = 0,
    kImgPortOpen = 1,
    kImgPortClosed = 2,
    kImgStatusOpen = 3,
    kImgStatusClosed = 4,
    kImgModule = 5,
    kImgChannel = 6,
    kImgScan = 7,
    kImgAbout = 8,
    kImgExit = 9,
};
inline constexpr int kImageList2020Count = 10;

// Picture `index` of ImageList2020 (20x20, 32-bit); a null pixmap for an index
// outside 0-9.
QPixmap ImageList2020(int index);
// The same picture as an icon (one image for normal and selected states).
QIcon ImageList2020Icon(int index);

// Roles of the four ImageList50x pictures, by index.
enum Image50Index : int {
    kImgLampOn = 0,   // a lit lamp on a green disc
    kImgLampOff = 1,  // a grey lamp on a grey disc
    kImgFaceOn = 2,   // a green "ON" button face
    kImgFaceOff = 3,  // a red "OFF" button face
};
inline constexpr int kImageList50xCount = 4;

// Picture `index` of ImageList50x (50x50, 32-bit); a null pixmap for an index
// outside 0-3.
QPixmap ImageList50x(int index);
// The same picture as an icon.
QIcon ImageList50xIcon(int index);

// The communication monitor's toolbar picture (20x20, in the style of the
// toolbar pictures of ImageList2020 but not one of its ten).
QPixmap MonitorPicture();
QIcon MonitorIcon();
// The trend view's toolbar picture (20x20, the same style).
QPixmap TrendPicture();
QIcon TrendIcon();

// The picture of a network port node (20x20, in the style of the port
// pictures 1 and 2): open or closed.
QPixmap NetworkPortPicture(bool open);
QIcon NetworkPortIcon(bool open);

// The About box banner (496x80).
QPixmap AboutBanner();
// The scan dialog's busy picture (50x50).
QPixmap BusyPicture();

}  // namespace kelm
