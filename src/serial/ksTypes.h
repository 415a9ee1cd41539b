#pragma once
// Types shared by the serial component library: the enumerations and sets of
// the components' properties, the driver records in their Windows layout
// (the DCB is the single source of the line settings and the configuration
// record stores it byte for byte), and the library's exception.
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

#ifdef _WIN32
// The driver constants below are the library's own names. windows.h, when
// it came first, has them as macros of the same values: those give way here
// (a later windows.h defines them again, to the same values).
#undef EV_RXCHAR
#undef EV_RXFLAG
#undef EV_TXEMPTY
#undef EV_CTS
#undef EV_DSR
#undef EV_RLSD
#undef EV_BREAK
#undef EV_ERR
#undef EV_RING
#undef EV_RX80FULL
#undef EV_EVENT1
#undef EV_EVENT2
#undef CE_RXOVER
#undef CE_OVERRUN
#undef CE_RXPARITY
#undef CE_FRAME
#undef CE_BREAK
#undef MS_CTS_ON
#undef MS_DSR_ON
#undef MS_RING_ON
#undef MS_RLSD_ON
#undef PURGE_TXABORT
#undef PURGE_RXABORT
#undef PURGE_TXCLEAR
#undef PURGE_RXCLEAR
#undef SETXOFF
#undef SETXON
#undef SETRTS
#undef CLRRTS
#undef SETDTR
#undef CLRDTR
#undef SETBREAK
#undef CLRBREAK
#undef DTR_CONTROL_DISABLE
#undef DTR_CONTROL_ENABLE
#undef DTR_CONTROL_HANDSHAKE
#undef RTS_CONTROL_DISABLE
#undef RTS_CONTROL_ENABLE
#undef RTS_CONTROL_HANDSHAKE
#undef RTS_CONTROL_TOGGLE
#endif

namespace kelm {

// A set of enumeration values held in the bits of Storage, bit n = ordinal n.
template <class Enum, class Storage>
class TksSet {
  public:
    constexpr TksSet() = default;
    constexpr TksSet(std::initializer_list<Enum> values) {
        for (Enum v : values) Include(v);
    }
    static constexpr TksSet FromBits(Storage bits) {
        TksSet s;
        s.bits_ = bits;
        return s;
    }
    constexpr Storage Bits() const { return bits_; }
    constexpr bool Contains(Enum v) const { return (bits_ & Bit(v)) != 0; }
    constexpr bool Empty() const { return bits_ == 0; }
    constexpr TksSet& Include(Enum v) {
        bits_ = static_cast<Storage>(bits_ | Bit(v));
        return *this;
    }
    constexpr TksSet& Exclude(Enum v) {
        bits_ = static_cast<Storage>(bits_ & ~Bit(v));
        return *this;
    }
    friend constexpr bool operator==(TksSet a, TksSet b) { return a.bits_ == b.bits_; }

  private:
    static constexpr Storage Bit(Enum v) {
        return static_cast<Storage>(Storage{1} << static_cast<unsigned>(v));
    }
    Storage bits_ = 0;
};

// Line settings and port selection.
enum class TParity : uint8_t { pNone, pOdd, pEven, pMark, pSpace };
enum class TStopBits : uint8_t { sbOne, sbOneAndHalf, sbTwo };
enum class TStreamProtocol : uint8_t { spNone, spXonXoff, spHardware };
enum class TComPort : uint8_t {
    cpCOM1,
    cpCOM2,
    cpCOM3,
    cpCOM4,
    cpCOM5,
    cpCOM6,
    cpCOM7,
    cpCOM8,
    cpCOMxx
};
enum class TksEnumPorts : uint8_t { epQuickAll, epFullInfo, epFullPresent };

// Line events; each has one bit of the driver's event mask (TraceStateMask).
enum class TTraceState : uint8_t {
    tsRxChar,
    tsRxFlag,
    tsTxEmpty,
    tsCTS,
    tsDSR,
    tsRLSD,
    tsBreak,
    tsErr,
    tsRing,
    tsRx80Full,
    tsEvent1,
    tsEvent2
};
using TTraceStates = TksSet<TTraceState, uint16_t>;

enum class TModemSignal : uint8_t { msCTS, msDSR, msRing, msRLSD };
using TModemSignals = TksSet<TModemSignal, uint8_t>;

// Terminal, logging and data processor.
enum class TTerminalUsage : uint8_t { tuNone, tuSend, tuReceive, tuBoth };
enum class TDetailLevel : uint8_t { dlSimple, dlDetail, dlDebug };
enum class TIgnoreType : uint8_t { itTerminal, itEventList, itAfterReceive, itTraceState };
using TIgnoreTypes = TksSet<TIgnoreType, uint8_t>;

// Listener notification codes.
constexpr int csNone = 0;
constexpr int csClosed = 1;
constexpr int csOpened = 2;
constexpr int csDeviceIdChanged = 3;
constexpr int csFatal = -1;

// Message number a terminal receives when it is attached to (wParam: the
// component) or detached from a component.
constexpr unsigned WM_KS_SETDEVICEIO = 2999;

// Names under which the component's two thread messages are registered.
inline constexpr const char* kMsgComEventName = "ksCommMsgComEvent";
inline constexpr const char* kMsgQuitComEventName = "ksCommMsgQuitComEvent";

// Driver event mask bits.
constexpr uint32_t EV_RXCHAR = 0x0001;
constexpr uint32_t EV_RXFLAG = 0x0002;
constexpr uint32_t EV_TXEMPTY = 0x0004;
constexpr uint32_t EV_CTS = 0x0008;
constexpr uint32_t EV_DSR = 0x0010;
constexpr uint32_t EV_RLSD = 0x0020;
constexpr uint32_t EV_BREAK = 0x0040;
constexpr uint32_t EV_ERR = 0x0080;
constexpr uint32_t EV_RING = 0x0100;
constexpr uint32_t EV_RX80FULL = 0x0400;
constexpr uint32_t EV_EVENT1 = 0x0800;
constexpr uint32_t EV_EVENT2 = 0x1000;

// The event-mask bit of each trace state, by ordinal.
constexpr uint32_t TraceStateMask(TTraceState s) {
    constexpr uint32_t bits[] = {EV_RXCHAR, EV_RXFLAG,   EV_TXEMPTY, EV_CTS,
                                 EV_DSR,    EV_RLSD,     EV_BREAK,   EV_ERR,
                                 EV_RING,   EV_RX80FULL, EV_EVENT1,  EV_EVENT2};
    return bits[static_cast<unsigned>(s)];
}

// Driver line-error flags; all five at once mean the port has vanished.
constexpr uint32_t CE_RXOVER = 0x01;
constexpr uint32_t CE_OVERRUN = 0x02;
constexpr uint32_t CE_RXPARITY = 0x04;
constexpr uint32_t CE_FRAME = 0x08;
constexpr uint32_t CE_BREAK = 0x10;
constexpr uint32_t CE_PORT_LOST = 0x1F;

// Modem status bits.
constexpr uint32_t MS_CTS_ON = 0x10;
constexpr uint32_t MS_DSR_ON = 0x20;
constexpr uint32_t MS_RING_ON = 0x40;
constexpr uint32_t MS_RLSD_ON = 0x80;

// Purge flags.
constexpr uint32_t PURGE_TXABORT = 0x01;
constexpr uint32_t PURGE_RXABORT = 0x02;
constexpr uint32_t PURGE_TXCLEAR = 0x04;
constexpr uint32_t PURGE_RXCLEAR = 0x08;

// Line control functions.
constexpr uint32_t SETXOFF = 1;
constexpr uint32_t SETXON = 2;
constexpr uint32_t SETRTS = 3;
constexpr uint32_t CLRRTS = 4;
constexpr uint32_t SETDTR = 5;
constexpr uint32_t CLRDTR = 6;
constexpr uint32_t SETBREAK = 8;
constexpr uint32_t CLRBREAK = 9;

// DCB flag word bits.
constexpr uint32_t DCB_fBinary = 0x0001;
constexpr uint32_t DCB_fParity = 0x0002;
constexpr uint32_t DCB_fOutxCtsFlow = 0x0004;
constexpr uint32_t DCB_fOutxDsrFlow = 0x0008;
constexpr uint32_t DCB_fDtrControlMask = 0x0030;  // DTR_CONTROL_* << 4
constexpr uint32_t DCB_fDsrSensitivity = 0x0040;
constexpr uint32_t DCB_fTXContinueOnXoff = 0x0080;
constexpr uint32_t DCB_fOutX = 0x0100;
constexpr uint32_t DCB_fInX = 0x0200;
constexpr uint32_t DCB_fErrorChar = 0x0400;
constexpr uint32_t DCB_fNull = 0x0800;
constexpr uint32_t DCB_fRtsControlMask = 0x3000;  // RTS_CONTROL_* << 12
constexpr uint32_t DCB_fAbortOnError = 0x4000;
constexpr uint32_t DTR_CONTROL_DISABLE = 0, DTR_CONTROL_ENABLE = 1, DTR_CONTROL_HANDSHAKE = 2;
constexpr uint32_t RTS_CONTROL_DISABLE = 0, RTS_CONTROL_ENABLE = 1, RTS_CONTROL_HANDSHAKE = 2,
                   RTS_CONTROL_TOGGLE = 3;

// Flag masks the component writes into the DCB for each stream protocol.
constexpr uint32_t dcbFlagProtocolCLEAR = 0x4CEA;
constexpr uint32_t dcbFlagProtocolRS485 = 0x3011;
constexpr uint32_t dcbFlagProtocolNone = 0x1011;
constexpr uint32_t dcbFlagProtocolXOnXOff = 0x1311;
constexpr uint32_t dcbFlagProtocolHardware = 0x2015;

// Smallest receive buffer the component allocates.
constexpr uint32_t CI_MIN_BUFFER_SIZE = 8192;

#pragma pack(push, 1)
// The device control block, 28 bytes in the Windows field order.
struct TDCB {
    uint32_t DCBlength = sizeof(TDCB);
    uint32_t BaudRate = 0;
    uint32_t Flags = 0;
    uint16_t wReserved = 0;
    uint16_t XonLim = 0;
    uint16_t XoffLim = 0;
    uint8_t ByteSize = 8;
    uint8_t Parity = 0;
    uint8_t StopBits = 0;
    char XonChar = 0;
    char XoffChar = 0;
    char ErrorChar = 0;
    char EofChar = 0;
    char EvtChar = 0;
    uint16_t wReserved1 = 0;

    uint32_t DtrControl() const { return (Flags & DCB_fDtrControlMask) >> 4; }
    uint32_t RtsControl() const { return (Flags & DCB_fRtsControlMask) >> 12; }
};
static_assert(sizeof(TDCB) == 28);

// The complete port configuration (COMMCONFIG), 52 bytes.
struct TCommConfig {
    uint32_t dwSize = sizeof(TCommConfig);
    uint16_t wVersion = 1;
    uint16_t wReserved = 0;
    TDCB dcb;
    uint32_t dwProviderSubType = 1;  // PST_RS232
    uint32_t dwProviderOffset = 0;
    uint32_t dwProviderSize = 0;
    uint16_t wcProviderData[1] = {0};
    uint16_t padding = 0;
};
static_assert(sizeof(TCommConfig) == 52);

// COMMTIMEOUTS, 20 bytes, values in milliseconds.
struct TCommTimeouts {
    uint32_t ReadIntervalTimeout = 0;
    uint32_t ReadTotalTimeoutMultiplier = 0;
    uint32_t ReadTotalTimeoutConstant = 0;
    uint32_t WriteTotalTimeoutMultiplier = 0;
    uint32_t WriteTotalTimeoutConstant = 0;
};
static_assert(sizeof(TCommTimeouts) == 20);
#pragma pack(pop)

// Port status as the driver reports it with the error flags (COMSTAT).
struct TComStat {
    uint8_t Flags = 0;  // fCtsHold 0x01, fDsrHold 0x02, fRlsdHold 0x04, fXoffHold 0x08, ...
    uint32_t cbInQue = 0;
    uint32_t cbOutQue = 0;
};

// Port capabilities (the fields of COMMPROP a caller can use).
struct TCommProp {
    uint16_t wPacketLength = 0;
    uint16_t wPacketVersion = 0;
    uint32_t dwServiceMask = 0;
    uint32_t dwMaxTxQueue = 0;
    uint32_t dwMaxRxQueue = 0;
    uint32_t dwMaxBaud = 0;
    uint32_t dwProvSubType = 0;
    uint32_t dwProvCapabilities = 0;
    uint32_t dwSettableParams = 0;
    uint32_t dwSettableBaud = 0;
    uint16_t wSettableData = 0;
    uint16_t wSettableStopParity = 0;
    uint32_t dwCurrentTxQueue = 0;
    uint32_t dwCurrentRxQueue = 0;
};

// The handle of an open device; kInvalidHandle when closed.
using TksHandle = intptr_t;
constexpr TksHandle kInvalidHandle = -1;

// The exception the library raises for fatal errors (a port that cannot be
// opened, a configuration record that cannot be saved or loaded, a device
// that does not answer). what() is the message the caller shows.
class EksError : public std::runtime_error {
  public:
    EksError(const std::string& msg, uint32_t code = 1, uint32_t detail = 0)
        : std::runtime_error(msg), code_(code), detail_(detail) {}
    uint32_t Code() const { return code_; }
    uint32_t Detail() const { return detail_; }

  private:
    uint32_t code_;
    uint32_t detail_;
};

// One argument of a formatted log line.
using TksFmtArg = std::variant<int64_t, uint64_t, std::string>;

// Formats like the usual format rules for what the library's log lines use:
// %s, %d, %u, %x, %X with optional '-', '0' and width (for example %2X), and
// %%. A directive without a matching argument is left as written.
std::string KsFormat(const std::string& format, const std::vector<TksFmtArg>& args);
// text as a format that KsFormat turns back into text ("%" doubled).
std::string KsFormatLiteral(const std::string& text);

}  // namespace kelm
