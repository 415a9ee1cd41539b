#include "kelm-sim/SimTypes.h"

namespace kelm::sim {

std::string_view ProtocolName(Protocol p) {
    return p == Protocol::Rtu ? "RTU" : "ASCII";
}

std::string FormatLabel(std::uint8_t code, Protocol p) {
    std::string s = std::to_string(FormatBaud(code));
    s += '/';
    s += std::to_string(ProtocolDataBits(p));
    s += '/';
    s += std::to_string(FormatStopBits(code));
    s += FormatParity(code) == Parity::Even ? "/Even" : "/None";
    return s;
}

LineSettings FormatLine(std::uint8_t code, Protocol p) {
    return LineSettings{FormatBaud(code), FormatStopBits(code), FormatParity(code),
                        ProtocolDataBits(p)};
}

bool LineMatches(const LineSettings& line, std::uint8_t code, Protocol p) {
    const LineSettings want = FormatLine(code, p);
    if (line.baud != want.baud || line.stopBits != want.stopBits) return false;
    if (line.parity && *line.parity != *want.parity) return false;
    if (line.dataBits && *line.dataBits != *want.dataBits) return false;
    return true;
}

std::string DescribeLine(const LineSettings& line) {
    std::string s = std::to_string(line.baud) + " baud, " + std::to_string(line.stopBits) +
                    (line.stopBits == 1 ? " stop bit" : " stop bits");
    if (line.parity) {
        s += ", parity ";
        s += *line.parity == Parity::None ? "None" : *line.parity == Parity::Even ? "Even" : "Odd";
    }
    if (line.dataBits) s += ", " + std::to_string(*line.dataBits) + " data bits";
    return s;
}

}  // namespace kelm::sim
