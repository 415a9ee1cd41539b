#pragma once
// The client side of a Telnet session with the COM port control option
// (RFC 2217), as a serial device server speaks it: option negotiation, the
// data stream with its IAC (0xFF) doubling, and the COM-PORT-OPTION
// subnegotiations that set the server's serial line and report its modem
// lines. Pure: bytes in, bytes out, no system calls. Not thread-safe (the
// owner serialises calls).
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace kelm::net {

namespace telnet {
inline constexpr uint8_t IAC = 255, DONT = 254, DO = 253, WONT = 252, WILL = 251, SB = 250,
                         SE = 240;
inline constexpr uint8_t kBinary = 0, kEcho = 1, kSga = 3, kComPort = 44;
// COM-PORT-OPTION commands of the client; the server answers each with the
// command + 100.
inline constexpr uint8_t kSetBaudRate = 1, kSetDataSize = 2, kSetParity = 3, kSetStopSize = 4,
                         kSetControl = 5, kNotifyLineState = 6, kNotifyModemState = 7,
                         kSetLineStateMask = 10, kSetModemStateMask = 11, kPurgeData = 12;
inline constexpr uint8_t kServerOffset = 100;
// SET-PARITY values.
inline constexpr uint8_t kParityNone = 1, kParityOdd = 2, kParityEven = 3, kParityMark = 4,
                         kParitySpace = 5;
// SET-STOPSIZE values.
inline constexpr uint8_t kStop1 = 1, kStop2 = 2, kStop15 = 3;
// SET-CONTROL values.
inline constexpr uint8_t kFlowNone = 1, kFlowXonXoff = 2, kFlowHardware = 3, kBreakOn = 5,
                         kBreakOff = 6, kDtrOn = 8, kDtrOff = 9, kRtsOn = 11, kRtsOff = 12;
}  // namespace telnet

// The line settings as RFC 2217 carries them.
struct Rfc2217Line {
    uint32_t baud = 9600;
    uint8_t dataSize = 8;
    uint8_t parity = telnet::kParityNone;
    uint8_t stopSize = telnet::kStop1;
    bool operator==(const Rfc2217Line&) const = default;
};

class TelnetClient {
  public:
    enum class ComPortState { Asked, Accepted, Refused };

    // What the client sends first: it will and asks the server to send
    // binary, and it will use the COM port control option.
    std::string Start();

    // Takes bytes from the server: the data goes to *data, answers to the
    // server's negotiation to *reply (send them before anything else).
    void Feed(const uint8_t* p, size_t n, std::string* data, std::string* reply);

    // Data for the server: 0xFF doubled, and CR followed by NUL while the
    // client has not agreed to send binary.
    std::string EscapeData(const uint8_t* p, size_t n) const;

    // A COM-PORT-OPTION command with its value (escaped).
    static std::string ComPortCommand(uint8_t command, const std::string& value);
    // The four commands that set the line, and the flow control.
    static std::string SetLineCommands(const Rfc2217Line& line, uint8_t flowControl);

    ComPortState comPort() const { return comPort_; }
    // Server answers to the line-setting commands (SET-BAUDRATE to
    // SET-STOPSIZE) received so far.
    uint64_t lineAcks() const { return lineAcks_; }
    // The line as the server last reported it.
    const Rfc2217Line& serverLine() const { return serverLine_; }
    // Modem lines as the server last notified them (MS_*_ON bits), and the
    // bits that changed since the last TakeModemChanges().
    uint8_t modemState() const { return modemState_; }
    uint8_t TakeModemChanges() {
        const uint8_t c = modemChanges_;
        modemChanges_ = 0;
        return c;
    }
    bool sendsBinary() const { return us_[telnet::kBinary]; }
    bool receivesBinary() const { return them_[telnet::kBinary]; }

  private:
    void OnCommand(uint8_t command, uint8_t option, std::string* reply);
    void OnSubnegotiation();
    static bool WeDo(uint8_t option);     // options the client will enable on its side
    static bool TheyMay(uint8_t option);  // options the client lets the server enable

    enum class State { Data, Iac, Option, Sub, SubIac };
    State state_ = State::Data;
    uint8_t command_ = 0;
    bool afterCr_ = false;  // the last data byte was CR (NVT: a NUL may follow)
    std::string sub_;
    bool subOverflow_ = false;
    bool us_[256] = {};         // options enabled on our side
    bool them_[256] = {};       // options enabled on the server's side
    bool askedUs_[256] = {};    // we sent WILL and wait for the answer
    bool askedThem_[256] = {};  // we sent DO and wait for the answer
    ComPortState comPort_ = ComPortState::Asked;
    uint64_t lineAcks_ = 0;
    Rfc2217Line serverLine_{};
    uint8_t modemState_ = 0;
    uint8_t modemChanges_ = 0;
};

}  // namespace kelm::net
