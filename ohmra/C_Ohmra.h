#pragma once
#include <QString>
#include <cstdint>
#include <string>

class TCustomComPort;

// Adjustment parameters of the tera-ohmmeter. The nine k values travel as
// 16-bit words, low byte first; the Raw fields are the bytes of a parameter
// reply that the instrument fills with fixed values (kept for inspection).
// The three texts belong to the calibration window's file; the protocol
// never touches them.
struct Ohmra_Para_Struct {
    int32_t k0 = 0, k1 = 0, k2 = 0, k3 = 0, k4 = 0, k5 = 0;
    int32_t k_TF0 = 0, k_TF2 = 0, k_TF3 = 0;
    int32_t Raw0 = 0, Raw1 = 0, Raw17 = 0, Raw2 = 0;
    QString SerialText, SwVersion, CalDate;
};

// Status byte bits of a measurement reply.
inline constexpr int32_t kOhmraStatusAverage = 0x01;    // 'A' when set, 'L' when clear
inline constexpr int32_t kOhmraStatusTimerActive = 0x02;
inline constexpr int32_t kOhmraStatusTimerFinished = 0x04;
inline constexpr int32_t kOhmraStatusFns = 0x08;
inline constexpr int32_t kOhmraStatusShowRx = 0x10;
inline constexpr int32_t kOhmraStatusTimerOn = 0x20;
inline constexpr int32_t kOhmraStatusHigh = 0x40;       // out of range: set too high, clear too low
inline constexpr int32_t kOhmraStatusOutOfRange = 0x80;

// Mode byte of the measurement command "C0".
inline constexpr int kOhmraModeExpo = 0x01;
inline constexpr int kOhmraMode10V = 0x02;
inline constexpr int kOhmraModeAutoVoltage = 0x04;
inline constexpr int kOhmraModeTimerAverage = 0x08;
inline constexpr int kOhmraModeTimerOn = 0x10;   // a byte with the timer seconds follows

// The tera-ohmmeter's command protocol. A command goes out framed as
// STX, LEN, data, CHK (CHK = integer mean of the bytes before it); the
// instrument acknowledges with 06 04 and, for commands with a reply, sends a
// frame of the same shape. Commands and replies are handled as upper-case
// hex digit pairs in wire order ("C004" is the bytes C0 04).
//
// Every operation blocks until its exchange is over and expects the port to
// be open. Port failures (a byte that does not come in time, a malformed
// reply frame) are the port's EComError and propagate to the caller; a
// missing acknowledgement is a silent failure (result 1); a reply with a
// wrong checksum asks the user whether to try again.
class C_Ohmra {
public:
    explicit C_Ohmra(TCustomComPort& port);

    // Decoded measurement, kept until the next successful Measure.
    int32_t Mantissa = 0;      // 0..65535
    int32_t Range = 0;         // 0..7
    int32_t Exponent = 0;      // 0..31; resistance = Mantissa * 10^Exponent ohms
    int32_t Temperature = 0;   // whole degrees Celsius
    int32_t Humidity = 0;      // whole percent
    int32_t Status = 0;        // kOhmraStatus* bits
    int32_t Timer = 0;         // seconds (still to run, after a timer command)

    // One exchange: sends `command` framed, reads the acknowledgement and,
    // unless `noReply`, the reply frame. 0 on success with the reply's data
    // bytes (as hex text) in `reply`; 1 on failure. `reply` changes only on
    // success (its data) and when the user cancels a checksum error (empty).
    int Transfer(const std::string& command, std::string& reply, bool noReply);

    // Integer mean of the bytes of a hex text. False (after telling the user)
    // for an odd length, an empty text or a pair that is not hex.
    static bool MeanChecksum(const std::string& text, int32_t& mean);

    // A "C0" command (mode byte, with the timer bit a further byte with the
    // seconds). With the timer bit only `Timer` is taken from the reply (the
    // seconds still to run), otherwise all seven fields. Nothing changes on
    // failure. Returns the result of Transfer.
    int Measure(const std::string& command);

    // Serial text (e.g. 00050112), calibration date (03.04.2010) and software
    // version (1.02); left as they were on failure.
    int ReadInfo(QString& date, QString& swVersion, QString& serial);

    // Stored measurement `number` (1..99), handed back undecoded (same layout
    // as a measurement reply).
    int ReadStoredFile(int number, std::string& data);

    // Restarts the instrument. Callers wait a few seconds before the next command.
    int Reset();

    int ReadParameters(Ohmra_Para_Struct& para);
    // Values outside 0..65535 are refused before anything is sent (result 1,
    // with a message).
    int WriteParameters(const Ohmra_Para_Struct& para);
    // Serial number 0..65535, the other five 0..255; refused like above.
    int WriteCalibrationDate(int serialNumber, int serialMonth, int serialYear, int day, int month, int year);

    // Resistance mantissa * 10^exponent as a number text in kOhm, MOhm, GOhm
    // or TOhm with the decimals its size calls for (system decimal
    // separator); the unit goes to `unit`. Below 1000 ohms the number is 0
    // (one decimal) and `unit` is left alone; from 10^15 ohms on the text is
    // "-1" and `unit` is left alone.
    static QString FormatResistance(int64_t mantissa, int64_t exponent, QString& unit);

    // Range (top three bits) and exponent (low five bits) of a byte given as
    // two hex digits.
    static void SplitRangeExponent(const std::string& byteText, int32_t& range, int32_t& exponent);

    // Eight characters '0'/'1', bit 0 first.
    static std::string StatusBitText(int32_t status);

    // Four hex digits, low byte first (266 gives "0A01"). 0..65535.
    static std::string WordToHexLE(int32_t value);

    // Mantissa as decimal text with the system's decimal separator after its
    // first digit, then "e" and the exponent of that form: 1234 and 5 give
    // "1.234e8", 5 and 3 give "5.e3". `digits` limits the characters kept
    // before "e" (0 keeps all).
    static QString ExpoText(int64_t mantissa, int64_t exponent, int digits = 0);

    TCustomComPort& Port() const { return port_; }

    // Exchanges under way on the line right now (both instances share it),
    // and how many began while another had not ended: one exchange at a
    // time is what the meter understands, so that count must stay 0.
    static int ExchangesInProgress();
    static long OverlappingExchanges();

private:
    TCustomComPort& port_;
};
