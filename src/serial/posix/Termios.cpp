#include "serial/posix/Termios.h"

namespace kelm::posix {

namespace {
struct SpeedEntry {
    uint32_t baud;
    speed_t speed;
};
constexpr SpeedEntry kSpeeds[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};
}  // namespace

speed_t BaudToSpeed(uint32_t baud) {
    for (const auto& e : kSpeeds)
        if (e.baud == baud) return e.speed;
    return B0;
}

uint32_t SpeedToBaud(speed_t speed) {
    for (const auto& e : kSpeeds)
        if (e.speed == speed) return e.baud;
    return 0;
}

bool DcbToTermios(const TDCB& dcb, termios& t) {
    cfmakeraw(&t);
    t.c_iflag &= ~(IXON | IXOFF | IXANY | INPCK | ISTRIP | IGNPAR | PARMRK | IGNBRK | BRKINT);
    t.c_oflag &= ~OPOST;
    t.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    t.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    t.c_cflag |= CLOCAL | CREAD;

    bool ok = true;
    const speed_t speed = BaudToSpeed(dcb.BaudRate);
    if (speed != B0) {
        cfsetispeed(&t, speed);
        cfsetospeed(&t, speed);
    } else {
        ok = false;
    }

    switch (dcb.ByteSize) {
        case 5:
        case 4:  // no 4-bit characters on this platform: the nearest is 5
            t.c_cflag |= CS5;
            break;
        case 6:
            t.c_cflag |= CS6;
            break;
        case 7:
            t.c_cflag |= CS7;
            break;
        default:
            t.c_cflag |= CS8;
            break;
    }

    switch (static_cast<TParity>(dcb.Parity)) {
        case TParity::pOdd:
            t.c_cflag |= PARENB | PARODD;
            break;
        case TParity::pEven:
            t.c_cflag |= PARENB;
            break;
        case TParity::pMark:
            t.c_cflag |= PARENB | CMSPAR | PARODD;
            break;
        case TParity::pSpace:
            t.c_cflag |= PARENB | CMSPAR;
            break;
        case TParity::pNone:
        default:
            break;
    }

    if (dcb.StopBits != 0) t.c_cflag |= CSTOPB;  // one and a half or two

    if ((dcb.Flags & DCB_fOutxCtsFlow) != 0 || dcb.RtsControl() == RTS_CONTROL_HANDSHAKE)
        t.c_cflag |= CRTSCTS;
    if ((dcb.Flags & DCB_fOutX) != 0) t.c_iflag |= IXON;
    if ((dcb.Flags & DCB_fInX) != 0) t.c_iflag |= IXOFF;
    t.c_cc[VSTART] = static_cast<cc_t>(dcb.XonChar);
    t.c_cc[VSTOP] = static_cast<cc_t>(dcb.XoffChar);
    // The port is non-blocking: with VMIN 1 an empty tty reads EAGAIN, so
    // that a read of 0 bytes means a hang-up.
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    return ok;
}

void TermiosToDcb(const termios& t, TDCB& dcb) {
    const uint32_t baud = SpeedToBaud(cfgetospeed(&t));
    if (baud != 0) dcb.BaudRate = baud;
    switch (t.c_cflag & CSIZE) {
        case CS5:
            dcb.ByteSize = 5;
            break;
        case CS6:
            dcb.ByteSize = 6;
            break;
        case CS7:
            dcb.ByteSize = 7;
            break;
        default:
            dcb.ByteSize = 8;
            break;
    }
    TParity p = TParity::pNone;
    if ((t.c_cflag & PARENB) != 0) {
        const bool odd = (t.c_cflag & PARODD) != 0;
        if ((t.c_cflag & CMSPAR) != 0)
            p = odd ? TParity::pMark : TParity::pSpace;
        else
            p = odd ? TParity::pOdd : TParity::pEven;
    }
    dcb.Parity = static_cast<uint8_t>(p);
    dcb.StopBits = (t.c_cflag & CSTOPB) != 0 ? static_cast<uint8_t>(TStopBits::sbTwo)
                                             : static_cast<uint8_t>(TStopBits::sbOne);
    dcb.Flags &= ~(DCB_fOutxCtsFlow | DCB_fOutX | DCB_fInX | DCB_fRtsControlMask);
    if ((t.c_cflag & CRTSCTS) != 0)
        dcb.Flags |= DCB_fOutxCtsFlow | (RTS_CONTROL_HANDSHAKE << 12);
    else
        dcb.Flags |= RTS_CONTROL_ENABLE << 12;
    if ((t.c_iflag & IXON) != 0) dcb.Flags |= DCB_fOutX;
    if ((t.c_iflag & IXOFF) != 0) dcb.Flags |= DCB_fInX;
    dcb.XonChar = static_cast<char>(t.c_cc[VSTART]);
    dcb.XoffChar = static_cast<char>(t.c_cc[VSTOP]);
}

}  // namespace kelm::posix
