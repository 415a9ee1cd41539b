#pragma once
// Translation between the component's DCB and termios. Pure functions, so
// that every setting can be checked without a UART (a pseudo-terminal forces
// 8 data bits and no parity whatever it is told).
#include <termios.h>

#include <cstdint>

#include "serial/ksTypes.h"

namespace kelm::posix {

// The termios speed constant of a baud rate, or B0 when termios has none.
speed_t BaudToSpeed(uint32_t baud);
// The baud rate of a termios speed constant, or 0.
uint32_t SpeedToBaud(speed_t speed);

// Writes the DCB's line settings into t: raw 8-bit mode (no echo, no
// translation, no signals), CLOCAL and CREAD, the speed (left as it is when
// termios has no constant for it; returns false then), CSIZE, parity
// (odd, even, mark and space through CMSPAR), CSTOPB, CRTSCTS for CTS output
// flow or RTS handshake, IXON/IXOFF with the DCB's XON and XOFF characters.
bool DcbToTermios(const TDCB& dcb, termios& t);

// Reads the line settings back into the DCB (speed, size, parity, stop bits
// and the flow-control flags); other fields stay as they are.
void TermiosToDcb(const termios& t, TDCB& dcb);

}  // namespace kelm::posix
