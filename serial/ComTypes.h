#pragma once
#include <cstdint>
#include <initializer_list>
#include <stdexcept>
#include <string>

// Line settings of a serial port. The first member of each enumeration leaves
// the device's own setting alone; every other member overrides it.
enum TBaudRate {
    brDefault, br50, br75, br110, br150, br300, br600, br1200, br1800, br2000, br2400, br3600,
    br4800, br7200, br9600, br10400, br14400, br15625, br19200, br28800, br38400, br56000,
    br57600, br115200, br128000, br256000, brCustom
};
enum TDataBits { dbDefault, db4, db5, db6, db7, db8 };
enum TParity { paDefault, paNone, paOdd, paEven, paMark, paSpace };
enum TStopBits { sbDefault, sb1, sb1_5, sb2 };
enum TDTRControl { dcDefault, dcDisable, dcEnable, dcHandshake };
enum TRTSControl { rcDefault, rcDisable, rcEnable, rcHandshake, rcToggle };
enum TXOnXOffControl { xcDefault, xcDisable, xcInput, xcOutput, xcInputOutput };
enum TOption {
    opCheckParity, opOutputCTSFlow, opOutputDSRFlow, opDSRSensitivity, opTXContinueOnXOff,
    opUseErrorChar, opDiscardNullBytes, opAbortOnError
};
enum TPriorityClass { pcDefault, pcIdle, pcNormal, pcHigh, pcRealTime };
enum TLineError {
    leBreak, leDeviceNotSelected, leFrame, leIO, leMode, leOutOfPaper, leOverrun,
    leDeviceTimeOut, leRxOverflow, leParity, leTxFull
};
// What an OnError handler may decide: raise the error, or end the action silently.
enum TComAction { caFail, caAbort };

// A small set of enumeration members (options, line errors).
template <class E>
class TEnumSet {
public:
    TEnumSet() = default;
    TEnumSet(std::initializer_list<E> members)
    {
        for (E m : members)
            Include(m);
    }
    bool Contains(E m) const { return (bits_ >> unsigned(m)) & 1u; }
    void Include(E m) { bits_ |= 1u << unsigned(m); }
    void Exclude(E m) { bits_ &= ~(1u << unsigned(m)); }
    bool Empty() const { return bits_ == 0; }
    uint32_t Bits() const { return bits_; }
    bool operator==(const TEnumSet&) const = default;

private:
    uint32_t bits_ = 0;
};
using TOptions = TEnumSet<TOption>;
using TLineErrors = TEnumSet<TLineError>;

// Every failure of the serial port. Code 0 for the component's own errors,
// otherwise the system's error number; what() is the text shown to the user.
class EComError : public std::runtime_error {
public:
    EComError(int32_t code, const std::string& message) : std::runtime_error(message), Code(code) {}
    int32_t Code;
};

// Raised instead of an EComError when an OnError handler asks for a silent
// abort: it ends the user's action without a message.
class EComAbort : public std::exception {
public:
    const char* what() const noexcept override { return "Operation aborted"; }
};

// The component's own messages.
inline constexpr const char* kMsgClosedPort = "Can't perform this operation on a closed port";
inline constexpr const char* kMsgOpenPort = "Can't perform this operation on an open port";
inline constexpr const char* kMsgTimeout = "Timeout";
inline constexpr const char* kMsgNoThread = "Can't create thread";
inline constexpr const char* kMsgReplyTooLong = "Received text too long";
// Longest text a read up to a terminator collects: far beyond every reply of
// the instruments, so only a line that babbles without its terminator meets it.
inline constexpr size_t kMaxReplyLength = 4096;

// The device's line settings record: what the port component reads from the
// device, overwrites in part and writes back. Codes as the enumerations'
// specific members count them from 0.
struct TDeviceLineSettings {
    uint32_t BaudRate = 9600;
    uint8_t ByteSize = 8;     // data bits, 4 to 8
    uint8_t Parity = 0;       // 0 none, 1 odd, 2 even, 3 mark, 4 space
    uint8_t StopBits = 0;     // 0 one, 1 one and a half, 2 two
    uint8_t DtrControl = 1;   // 0 off, 1 on, 2 handshake
    uint8_t RtsControl = 1;   // 0 off, 1 on, 2 handshake, 3 toggle
    bool OutX = false;        // XOn/XOff while sending
    bool InX = false;         // XOn/XOff while receiving
    char XonChar = 0x11, XoffChar = 0x13, ErrorChar = 0, EofChar = 0, EvtChar = 0;
    uint16_t XonLim = 0, XoffLim = 0;
    bool fParity = false, fOutxCtsFlow = false, fOutxDsrFlow = false, fDsrSensitivity = false;
    bool fTXContinueOnXoff = false, fErrorChar = false, fNull = false, fAbortOnError = false;
    bool operator==(const TDeviceLineSettings&) const = default;
};

// The device's time-out record, milliseconds; 0 switches a limit off.
struct TDeviceTimeouts {
    int32_t ReadInterval = 0;
    int32_t ReadMultiplier = 0;
    int32_t ReadConstant = 0;
    int32_t WriteMultiplier = 0;
    int32_t WriteConstant = 0;
    bool operator==(const TDeviceTimeouts&) const = default;
};

// Baud rate of a specific TBaudRate member (0 for brDefault and brCustom).
uint32_t BaudRateValue(TBaudRate br);
