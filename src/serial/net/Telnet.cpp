#include "serial/net/Telnet.h"

namespace kelm::net {

using namespace telnet;

namespace {
constexpr size_t kMaxSub = 64;  // longer subnegotiations are not ours: ignored

std::string Cmd(uint8_t command, uint8_t option) {
    return std::string{static_cast<char>(IAC), static_cast<char>(command),
                       static_cast<char>(option)};
}
}  // namespace

bool TelnetClient::WeDo(uint8_t option) {
    return option == kBinary || option == kSga || option == kComPort;
}

bool TelnetClient::TheyMay(uint8_t option) {
    // Not ECHO: an echoing server would send our requests back as replies.
    return option == kBinary || option == kSga;
}

std::string TelnetClient::Start() {
    askedUs_[kBinary] = askedThem_[kBinary] = askedUs_[kComPort] = true;
    askedUs_[kSga] = askedThem_[kSga] = true;
    return Cmd(WILL, kBinary) + Cmd(DO, kBinary) + Cmd(WILL, kSga) + Cmd(DO, kSga) +
           Cmd(WILL, kComPort);
}

void TelnetClient::OnCommand(uint8_t command, uint8_t option, std::string* reply) {
    switch (command) {
        case DO:
            if (WeDo(option)) {
                if (!us_[option] && !askedUs_[option]) *reply += Cmd(WILL, option);
                us_[option] = true;
            } else {
                *reply += Cmd(WONT, option);
            }
            askedUs_[option] = false;
            if (option == kComPort) comPort_ = ComPortState::Accepted;
            break;
        case DONT:
            if (us_[option] && !askedUs_[option]) *reply += Cmd(WONT, option);
            us_[option] = false;
            askedUs_[option] = false;
            if (option == kComPort) comPort_ = ComPortState::Refused;
            break;
        case WILL:
            if (TheyMay(option)) {
                if (!them_[option] && !askedThem_[option]) *reply += Cmd(DO, option);
                them_[option] = true;
            } else {
                *reply += Cmd(DONT, option);
            }
            askedThem_[option] = false;
            break;
        case WONT:
            if (them_[option] && !askedThem_[option]) *reply += Cmd(DONT, option);
            them_[option] = false;
            askedThem_[option] = false;
            break;
        default:
            break;
    }
}

void TelnetClient::OnSubnegotiation() {
    if (subOverflow_ || sub_.size() < 2 || static_cast<uint8_t>(sub_[0]) != kComPort) return;
    const uint8_t command = static_cast<uint8_t>(sub_[1]);
    const std::string value = sub_.substr(2);
    auto byte = [&](size_t i) -> uint8_t { return i < value.size() ? uint8_t(value[i]) : 0; };
    switch (command) {
        case kServerOffset + kSetBaudRate:
            if (value.size() >= 4)
                serverLine_.baud = uint32_t(byte(0)) << 24 | uint32_t(byte(1)) << 16 |
                                   uint32_t(byte(2)) << 8 | byte(3);
            ++lineAcks_;
            break;
        case kServerOffset + kSetDataSize:
            if (!value.empty()) serverLine_.dataSize = byte(0);
            ++lineAcks_;
            break;
        case kServerOffset + kSetParity:
            if (!value.empty()) serverLine_.parity = byte(0);
            ++lineAcks_;
            break;
        case kServerOffset + kSetStopSize:
            if (!value.empty()) serverLine_.stopSize = byte(0);
            ++lineAcks_;
            break;
        case kServerOffset + kNotifyModemState:
            if (!value.empty()) {
                modemChanges_ |= static_cast<uint8_t>(byte(0) ^ modemState_) & 0xF0;
                modemState_ = byte(0);
            }
            break;
        default:
            break;  // line state, signature, flow control notices
    }
}

void TelnetClient::Feed(const uint8_t* p, size_t n, std::string* data, std::string* reply) {
    for (size_t i = 0; i < n; ++i) {
        const uint8_t b = p[i];
        switch (state_) {
            case State::Data:
                if (b == IAC) {
                    state_ = State::Iac;
                    break;
                }
                // A sender in NVT mode sends CR as CR NUL.
                if (afterCr_ && b == 0 && !them_[kBinary]) {
                    afterCr_ = false;
                    break;
                }
                afterCr_ = b == '\r';
                data->push_back(static_cast<char>(b));
                break;
            case State::Iac:
                if (b == IAC) {  // an escaped 0xFF data byte
                    afterCr_ = false;
                    data->push_back(static_cast<char>(b));
                    state_ = State::Data;
                } else if (b == WILL || b == WONT || b == DO || b == DONT) {
                    command_ = b;
                    state_ = State::Option;
                } else if (b == SB) {
                    sub_.clear();
                    subOverflow_ = false;
                    state_ = State::Sub;
                } else {
                    state_ = State::Data;  // NOP, GA, AYT ...: nothing to do
                }
                break;
            case State::Option:
                OnCommand(command_, b, reply);
                state_ = State::Data;
                break;
            case State::Sub:
                if (b == IAC) {
                    state_ = State::SubIac;
                } else if (sub_.size() < kMaxSub) {
                    sub_.push_back(static_cast<char>(b));
                } else {
                    subOverflow_ = true;
                }
                break;
            case State::SubIac:
                if (b == IAC) {
                    if (sub_.size() < kMaxSub)
                        sub_.push_back(static_cast<char>(b));
                    else
                        subOverflow_ = true;
                    state_ = State::Sub;
                } else {
                    // SE ends it; anything else is a broken subnegotiation,
                    // which ends it too (as most servers treat it).
                    if (b == SE) OnSubnegotiation();
                    state_ = State::Data;
                }
                break;
        }
    }
}

std::string TelnetClient::EscapeData(const uint8_t* p, size_t n) const {
    std::string out;
    out.reserve(n + 8);
    for (size_t i = 0; i < n; ++i) {
        out.push_back(static_cast<char>(p[i]));
        if (p[i] == IAC) out.push_back(static_cast<char>(IAC));
        if (p[i] == '\r' && !us_[kBinary]) out.push_back('\0');
    }
    return out;
}

std::string TelnetClient::ComPortCommand(uint8_t command, const std::string& value) {
    std::string out{static_cast<char>(IAC), static_cast<char>(SB), static_cast<char>(kComPort),
                    static_cast<char>(command)};
    for (char c : value) {
        out.push_back(c);
        if (static_cast<uint8_t>(c) == IAC) out.push_back(c);
    }
    out.push_back(static_cast<char>(IAC));
    out.push_back(static_cast<char>(SE));
    return out;
}

std::string TelnetClient::SetLineCommands(const Rfc2217Line& line, uint8_t flowControl) {
    const std::string baud{static_cast<char>(line.baud >> 24), static_cast<char>(line.baud >> 16),
                           static_cast<char>(line.baud >> 8), static_cast<char>(line.baud)};
    return ComPortCommand(kSetBaudRate, baud) +
           ComPortCommand(kSetDataSize, std::string(1, static_cast<char>(line.dataSize))) +
           ComPortCommand(kSetParity, std::string(1, static_cast<char>(line.parity))) +
           ComPortCommand(kSetStopSize, std::string(1, static_cast<char>(line.stopSize))) +
           ComPortCommand(kSetControl, std::string(1, static_cast<char>(flowControl)));
}

}  // namespace kelm::net
