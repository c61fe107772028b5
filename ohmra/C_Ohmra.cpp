#include "ohmra/C_Ohmra.h"

#include "platform/Host.h"
#include "platform/Prompt.h"
#include "serial/ComPort.h"
#include "serial/Conversions.h"

#include <QLocale>

namespace {
constexpr uint8_t Stx = 0x02;
constexpr uint8_t Ack = 0x06;
constexpr uint8_t AckSecond = 0x04;
constexpr unsigned PauseAfterSendMs = 10;
constexpr unsigned PauseBeforeByteMs = 5;
// Without a length byte the reader has nothing to stop at but this many
// bytes of the whole answer, acknowledgement included.
constexpr int BytesWithoutLength = 257;

const QString DataErrorCaption = QStringLiteral("Data error");

std::string Hex2(int value) { return NTOC(double(value & 0xFF), 16, 2); }

bool IsHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'); }

int HexDigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return c - 'a' + 10;
}

// Byte i of a hex text (i counted from 0); the caller has checked the length.
int ByteAt(const std::string& hex, size_t i) { return HexToInt(hex.substr(2 * i, 2)); }

size_t ByteCount(const std::string& hex) { return hex.size() / 2; }

QString TwoDigits(int v) { return QStringLiteral("%1").arg(v, 2, 10, QLatin1Char('0')); }

int exchangesInProgress = 0;
long overlappingExchanges = 0;

// Marks one exchange on the line for as long as it lives.
class ExchangeMark {
public:
    ExchangeMark()
    {
        if (exchangesInProgress++ > 0)
            ++overlappingExchanges;
    }
    ~ExchangeMark() { --exchangesInProgress; }
    ExchangeMark(const ExchangeMark&) = delete;
    ExchangeMark& operator=(const ExchangeMark&) = delete;
};

bool FitsWord(int32_t v) { return v >= 0 && v <= 0xFFFF; }
bool FitsByte(int v) { return v >= 0 && v <= 0xFF; }
} // namespace

C_Ohmra::C_Ohmra(TCustomComPort& port) : port_(port) {}

int C_Ohmra::ExchangesInProgress() { return exchangesInProgress; }
long C_Ohmra::OverlappingExchanges() { return overlappingExchanges; }

bool C_Ohmra::MeanChecksum(const std::string& text, int32_t& mean)
{
    if (text.size() % 2 != 0) {
        Prompt().Message(QStringLiteral("Invalid length of data string !!"), DataErrorCaption, TPromptIcon::Error);
        return false;
    }
    if (text.empty()) {
        Prompt().Message(QStringLiteral("Data stream contains invalid characters !!"), DataErrorCaption,
                         TPromptIcon::Error);
        return false;
    }
    int64_t sum = 0;
    for (size_t i = 0; i < text.size(); i += 2) {
        if (!IsHexDigit(text[i]) || !IsHexDigit(text[i + 1])) {
            Prompt().Message(QStringLiteral("Data stream contains invalid characters !!"), DataErrorCaption,
                             TPromptIcon::Error);
            return false;
        }
        sum += HexDigitValue(text[i]) * 16 + HexDigitValue(text[i + 1]);
    }
    mean = int32_t(sum / int64_t(text.size() / 2));
    return true;
}

int C_Ohmra::Transfer(const std::string& command, std::string& reply, bool noReply)
{
    const int n = int(command.size() / 2);
    std::string frame = "02" + Hex2(n + 3) + command;
    int32_t chk = 0;
    // A command that cannot be framed (odd length, not hex) would reach the
    // instrument as garbage; the checksum test has told the user already.
    if (!MeanChecksum(frame, chk))
        return 1;
    frame += Hex2(chk);

    const ExchangeMark mark;
    for (;;) {
        // What an earlier exchange that failed left on the line (noise, the
        // rest of a frame) is no answer to this command; read first, it
        // would fail this exchange and the next ones as well.
        (void)port_.ReadString();
        // The same reading of the digit pairs as the checksum's, so the
        // bytes sent are the bytes the checksum was formed over.
        for (size_t i = 0; i < frame.size(); i += 2)
            port_.WriteChar(char(HexDigitValue(frame[i]) * 16 + HexDigitValue(frame[i + 1])));
        Host().Sleep(PauseAfterSendMs);

        Host().Sleep(PauseBeforeByteMs);
        if (port_.ReadByte() != Ack)
            return 1;
        Host().Sleep(PauseBeforeByteMs);
        if (port_.ReadByte() != AckSecond)
            return 1;
        if (noReply)
            return 0;

        Host().Sleep(PauseBeforeByteMs);
        const uint8_t first = port_.ReadByte();
        std::string text = Hex2(first);
        int more = 0;   // bytes still to read after those in `text`
        if (first == Stx) {
            const uint8_t lenByte = port_.ReadByte();
            text += Hex2(lenByte);
            const int len = int(int8_t(lenByte));
            // A frame cannot be shorter than STX, LEN and CHK; reading on
            // would count backwards or take the checksum from outside the
            // frame. Such a reply is no answer: the exchange fails like an
            // unacknowledged one, and what follows it on the line is taken
            // off so that the next exchange starts clean.
            if (len < 3) {
                Host().Sleep(PauseAfterSendMs);
                (void)port_.ReadString();
                return 1;
            }
            more = len - 2;
        } else {
            more = BytesWithoutLength - 3;
        }
        for (int i = 0; i < more; ++i) {
            Host().Sleep(PauseBeforeByteMs);
            text += Hex2(port_.ReadByte());
        }

        const int32_t got = HexToInt(text.substr(text.size() - 2));
        int32_t mean = 0;
        if (MeanChecksum(text.substr(0, text.size() - 2), mean) && mean == got) {
            reply = text.substr(4, text.size() - 6);
            return 0;
        }
        if (!Prompt().RetryCancel(QStringLiteral("Checksum error detect ! Retry ?"), QStringLiteral("Error"),
                                  TPromptIcon::Error)) {
            reply.clear();
            return 1;
        }
    }
}

int C_Ohmra::Measure(const std::string& command)
{
    std::string data;
    if (Transfer(command, data, false) != 0)
        return 1;
    // The exchange went through, so the command is hex digit pairs.
    const bool timer = command.size() >= 4 &&
                       ((HexDigitValue(command[2]) * 16 + HexDigitValue(command[3])) & kOhmraModeTimerOn) != 0;
    if (timer) {
        if (ByteCount(data) < 2)
            return 1;
        Timer = ByteAt(data, 1);
        return 0;
    }
    // A frame too short for the measurement is no measurement: keep the last one.
    if (ByteCount(data) < 8)
        return 1;
    Mantissa = ByteAt(data, 1) + 256 * ByteAt(data, 2);
    SplitRangeExponent(data.substr(6, 2), Range, Exponent);
    Temperature = ByteAt(data, 4);
    Humidity = ByteAt(data, 5);
    Status = ByteAt(data, 6);
    Timer = ByteAt(data, 7);
    return 0;
}

int C_Ohmra::ReadInfo(QString& date, QString& swVersion, QString& serial)
{
    std::string data;
    if (Transfer("A1", data, false) != 0)
        return 1;
    if (ByteCount(data) < 13)
        return 1;
    QString s = QString::number(ByteAt(data, 1) + 256 * ByteAt(data, 2));
    while (s.size() < 4)
        s.prepend(QLatin1Char('0'));
    serial = s + TwoDigits(ByteAt(data, 3)) + TwoDigits(ByteAt(data, 4));
    date = TwoDigits(ByteAt(data, 6)) + QLatin1Char('.') + TwoDigits(ByteAt(data, 7)) + QStringLiteral(".20") +
           TwoDigits(ByteAt(data, 8));
    swVersion = QString::fromLatin1(HEX_ASCII(data.substr(18, 8)));
    return 0;
}

int C_Ohmra::ReadStoredFile(int number, std::string& data)
{
    return Transfer("88" + Hex2(number), data, false);
}

int C_Ohmra::Reset()
{
    std::string ignored;
    return Transfer("82", ignored, true);
}

int C_Ohmra::ReadParameters(Ohmra_Para_Struct& para)
{
    std::string data;
    if (Transfer("91", data, false) != 0)
        return 1;
    if (ByteCount(data) < 23)
        return 1;
    auto word = [&](size_t i) { return ByteAt(data, i) + 256 * ByteAt(data, i + 1); };
    para.k0 = word(3);
    para.k1 = word(5);
    para.k2 = word(7);
    para.k3 = word(9);
    para.k4 = word(11);
    para.k5 = word(13);
    para.k_TF0 = word(15);
    para.k_TF2 = word(19);
    para.k_TF3 = word(21);
    para.Raw0 = ByteAt(data, 0);
    para.Raw1 = ByteAt(data, 1);
    para.Raw17 = ByteAt(data, 17);
    para.Raw2 = ByteAt(data, 2);
    return 0;
}

int C_Ohmra::WriteParameters(const Ohmra_Para_Struct& para)
{
    const int32_t words[] = {para.k0, para.k1, para.k2, para.k3, para.k4, para.k5, para.k_TF0, para.k_TF2, para.k_TF3};
    for (int32_t w : words)
        if (!FitsWord(w)) {
            Prompt().Message(QStringLiteral("Parameter value %1 is out of range (0 to 65535), nothing was sent !")
                                 .arg(w),
                             DataErrorCaption, TPromptIcon::Error);
            return 1;
        }
    std::string cmd = "90F000";
    for (int i = 0; i < 7; ++i)
        cmd += WordToHexLE(words[i]);
    cmd += "08FF" + WordToHexLE(para.k_TF2) + WordToHexLE(para.k_TF3);
    std::string ignored;
    return Transfer(cmd, ignored, true);
}

int C_Ohmra::WriteCalibrationDate(int serialNumber, int serialMonth, int serialYear, int day, int month, int year)
{
    if (!FitsWord(serialNumber) || !FitsByte(serialMonth) || !FitsByte(serialYear) || !FitsByte(day) ||
        !FitsByte(month) || !FitsByte(year)) {
        Prompt().Message(QStringLiteral("Serial number or date out of range, nothing was sent !"), DataErrorCaption,
                         TPromptIcon::Error);
        return 1;
    }
    const std::string cmd = "A0" + WordToHexLE(serialNumber) + Hex2(serialMonth) + Hex2(serialYear) + "FF" +
                            Hex2(day) + Hex2(month) + Hex2(year);
    std::string ignored;
    return Transfer(cmd, ignored, true);
}

QString C_Ohmra::FormatResistance(int64_t mantissa, int64_t exponent, QString& unit)
{
    constexpr int64_t Limit = 1000000000000000LL;   // 10^15 ohms
    int64_t r = mantissa < 0 ? 0 : mantissa;
    if (r > 0) {
        for (int64_t e = 0; e < exponent; ++e) {
            if (r >= Limit)
                break;
            r *= 10;
        }
    }
    if (r >= Limit)
        return QStringLiteral("-1");

    int digits = 1;
    for (int64_t v = r; v >= 10; v /= 10)
        ++digits;
    int64_t divisor = 1;
    if (digits >= 13) {
        divisor = 1000000000000LL;
        unit = QStringLiteral("TOhm");
    } else if (digits >= 10) {
        divisor = 1000000000LL;
        unit = QStringLiteral("GOhm");
    } else if (digits >= 7) {
        divisor = 1000000LL;
        unit = QStringLiteral("MOhm");
    } else if (digits >= 4) {
        divisor = 1000LL;
        unit = QStringLiteral("kOhm");
    }

    int decimals = 0;
    if (r <= 100000LL)
        decimals = 1;
    else if (r <= 1000000LL)
        decimals = 0;
    else if (r <= 100000000LL)
        decimals = 1;
    else if (r <= 1000000000LL)
        decimals = 0;
    else if (r <= 100000000000LL)
        decimals = 1;
    else if (r <= 1000000000000LL)
        decimals = 0;
    else if (r <= 100000000000000LL)
        decimals = 1;

    // R and the divisor are whole numbers, so the rounding is done on the
    // exact decimal value, half away from zero: 12 350 ohms is 12.4 kOhm,
    // where the nearest double of 12.35 would round down.
    double shown = 0.0;
    if (digits >= 4) {
        const int64_t scale = decimals == 1 ? 10 : 1;
        const int64_t units = (2 * r * scale + divisor) / (2 * divisor);
        shown = double(units) / double(scale);
    }
    QLocale loc;
    loc.setNumberOptions(loc.numberOptions() | QLocale::OmitGroupSeparator);
    return loc.toString(shown, 'f', decimals);
}

void C_Ohmra::SplitRangeExponent(const std::string& byteText, int32_t& range, int32_t& exponent)
{
    const int32_t v = HexToInt(byteText) & 0xFF;
    range = v >> 5;
    exponent = v & 0x1F;
}

std::string C_Ohmra::StatusBitText(int32_t status)
{
    std::string s;
    for (int bit = 0; bit < 8; ++bit)
        s += (status >> bit) & 1 ? '1' : '0';
    return s;
}

std::string C_Ohmra::WordToHexLE(int32_t value)
{
    return Hex2(value % 256) + Hex2((value / 256) % 256);
}

QString C_Ohmra::ExpoText(int64_t mantissa, int64_t exponent, int digits)
{
    const QString mt = QString::number(mantissa);
    const int64_t k = mt.size();
    QString withSep = mt.left(1) + QLocale().decimalPoint() + mt.mid(1);
    if (digits > 0)
        withSep = withSep.left(digits);
    return withSep + QLatin1Char('e') + QString::number(exponent + k - 1);
}
