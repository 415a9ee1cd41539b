#pragma once
// The words Linux gives the errno values that the network ports report (and
// the system's own for winsock codes without one), so that a message reads
// the same on both systems: the C library of Windows has none for most.
#include <string>

namespace kelm::win32 {

std::string ErrnoText(int code);

}  // namespace kelm::win32
