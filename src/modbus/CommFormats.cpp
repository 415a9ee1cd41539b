#include "modbus/CommFormats.h"

namespace kelm {

std::string CommFormatLabel(int code, bool ascii) {
    if (code < 0 || code >= kCommFormatCount) return {};
    const bool even = code >= 8;
    std::string label = std::to_string(kCommFormatBauds[static_cast<std::size_t>(code % 8)]);
    label += ascii ? "/7" : "/8";
    label += even ? "/1/Even" : "/2/None";
    return label;
}

}  // namespace kelm
