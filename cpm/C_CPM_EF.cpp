#include "cpm/C_CPM_EF.h"

#include "core/MainState.h"
#include "cpm/CpmSampleSource.h"
#include "platform/Host.h"
#include "platform/Prompt.h"
#include "serial/ComPort.h"
#include "serial/Conversions.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>

C_CPM_EF* CpmChart = nullptr;
C_CPM_EF* CpmDisplay = nullptr;
C_CPM_EF* CpmDecay = nullptr;

namespace {
TCpmSampleSource* g_chartSource = nullptr;
TCpmSampleSource* g_displaySource = nullptr;
} // namespace

void CreateCpmInstances(TCustomComPort& port)
{
    DestroyCpmInstances();
    CpmChart = new C_CPM_EF(port);
    CpmDisplay = new C_CPM_EF(port);
    CpmDecay = new C_CPM_EF(port);
    // The chart closes the port before it opens it; the display only opens it.
    g_chartSource = new TCpmSampleSource(*CpmChart, true);
    g_displaySource = new TCpmSampleSource(*CpmDisplay, false);
    SerialSources().Chart = g_chartSource;
    SerialSources().Display = g_displaySource;
}

void DestroyCpmInstances()
{
    SerialSources() = TSerialSources{};
    delete g_chartSource;
    delete g_displaySource;
    g_chartSource = g_displaySource = nullptr;
    delete CpmChart;
    delete CpmDisplay;
    delete CpmDecay;
    CpmChart = CpmDisplay = CpmDecay = nullptr;
}

namespace {

// Characters `from`..`from+count-1` (1-based), fewer when the text ends first.
std::string Mid(const std::string& s, size_t from, size_t count)
{
    if (from < 1 || from > s.size())
        return {};
    return s.substr(from - 1, count);
}

// The payload of a reply as the monitor's replies have always been cut:
// from after the first STX, (position of the first ETX) - 2 characters.
// With a leading STX that is exactly what lies between STX and ETX.
std::string Payload(const std::string& r)
{
    const size_t stx = r.find(CpmChar::STX);
    const size_t etx = r.find(CpmChar::ETX);
    const long start = (stx == std::string::npos ? 0 : long(stx) + 1) + 1; // 1-based
    long count = (etx == std::string::npos ? 0 : long(etx) + 1) - 2;
    if (count <= 0)
        count = long(r.size());
    return Mid(r, size_t(start), size_t(count));
}

// A setup value as the decimal number it holds; anything else (the hex
// characters ReadSetup left, say "0A") is an error, not a silent 0.
int DecimalValue(const std::string& v)
{
    size_t used = 0;
    int n = 0;
    try {
        n = std::stoi(v, &used, 10);
    } catch (const std::exception&) {
        used = 0;
    }
    if (v.empty() || used != v.size() || n < 0)
        throw std::runtime_error("'" + v + "' is not a valid integer value");
    return n;
}

const char* const kManualEField = "Please, select at the Karvo manually the E-Field mode and select the range !";

} // namespace

bool C_CPM_EF::Handshake()
{
    port_.WriteChar(CpmChar::ENQ);
    for (int i = 0; i < 10; ++i) {
        Host().Sleep(50);
        const std::string got = port_.ReadString();
        if (got.find(CpmChar::ACK) != std::string::npos)
            return true;
    }
    return false;
}

std::string C_CPM_EF::SendCommand(const std::string& command)
{
    Handshake();
    port_.WriteString(std::string(1, CpmChar::STX) + command + CpmChar::ETX);
    Host().Sleep(5);
    const std::string reply = port_.ReadUntil(uint8_t(CpmChar::ETX));
    Host().Sleep(1);
    return Payload(reply);
}

void C_CPM_EF::ReadIdentification(std::string& version, std::string& serial, std::string& rawDate)
{
    const std::string p = SendCommand("r0");
    version = Mid(p, 1, 15);
    serial = Mid(p, 17, 8);
    rawDate = Mid(p, 25, 6);
}

void C_CPM_EF::UpdateIdentification()
{
    std::string version, serial, date;
    C_CPM_EF& decay = CpmDecay ? *CpmDecay : *this;
    decay.ReadIdentification(version, serial, date);
    if (MainState)
        MainState->ManualEFieldFirmware = version.find("6.10") != std::string::npos;
    decay.SwVersion = QString::fromLatin1(version.data(), qsizetype(version.size()));
    decay.SerialNumber = QString::fromLatin1(serial.data(), qsizetype(serial.size()));
    const std::string built = Mid(date, 1, 2) + "-" + Mid(date, 3, 2) + "-20" + Mid(date, 5, 2);
    decay.ProductionDate = QString::fromLatin1(built.data(), qsizetype(built.size()));
}

void C_CPM_EF::ReadSetup()
{
    const std::string p = SendCommand("r1");
    for (size_t i = 0; i < 9; ++i)
        SetupValues[i] = Mid(p, 2 * i + 1, 2);
}

void C_CPM_EF::WriteSetup()
{
    UpdateIdentification();
    Host().Sleep(100);
    port_.WriteChar(CpmChar::ENQ);
    Host().Sleep(50);
    // Bounded like a reply: a monitor still streaming frames would otherwise
    // keep this loop (and the program) busy for as long as it talks.
    const unsigned waitMs = std::max<unsigned>(SetupEnqWaitMs, unsigned(std::max(0, port_.Timeouts->ReadConstant())));
    const uint32_t began = Host().TickCount();
    for (size_t n = 0;; ++n) {
        if (port_.ReadByte() == uint8_t(CpmChar::ENQ))
            break;
        if (n + 1 >= SetupEnqMaxBytes || Host().TickCount() - began > waitMs)
            port_.RaiseError(0, kMsgTimeout);
    }
    Host().Sleep(10);
    port_.WriteString(std::string(1, CpmChar::STX) + "w1" + CpmChar::ETX);
    Host().Sleep(50);

    std::string data;
    for (const std::string& v : SetupValues) {
        char hex[16];
        std::snprintf(hex, sizeof hex, "%02X", unsigned(DecimalValue(v)));
        data += hex;
    }
    const bool manual = MainState && MainState->ManualEFieldFirmware && MainState->DeviceCode == 103;
    if (manual) {
        Prompt().Message(QString::fromLatin1(kManualEField), QString(), TPromptIcon::Information);
        return;
    }
    port_.WriteString(std::string(1, CpmChar::STX) + data + CpmChar::ETX);
    Host().Sleep(100);
}

int C_CPM_EF::ParseRecord(const std::string& record)
{
    std::string r = record;
    FileNumber = HexToInt(Mid(r, 1, 2));
    DecayMode = HexToInt(Mid(r, 3, 2));
    StartVoltage = HexWordToInt16(Mid(r, 5, 4));
    StopVoltage = HexWordToInt16(Mid(r, 9, 4));
    OffsetTime = HexWordToInt16(Mid(r, 13, 4));
    PosDecayTime = HexWordToInt16(Mid(r, 17, 4)) * 0.1;
    NegDecayTime = HexWordToInt16(Mid(r, 21, 4)) * 0.1;
    // The offset voltage is sign and magnitude: a high digit of the high
    // byte other than 0 is the minus sign.
    bool negative = false;
    if (r.size() >= 27 && r[26] != '0') {
        negative = true;
        r[26] = '0';
    }
    const double magnitude = HexWordToInt16(Mid(r, 25, 4));
    OffsetVoltage = negative ? -magnitude : magnitude;
    return 0;
}

void C_CPM_EF::SendBreak()
{
    port_.WriteChar(CpmChar::BEL);
    Host().Sleep(500);
}

std::string C_CPM_EF::StatusBits(const std::string& pair)
{
    return NTOC(HexToInt(pair), 2, 8);
}

void C_CPM_EF::FillReadingSetup(int deviceCode, int rangeCode)
{
    int r = rangeCode;
    if (rangeCode >= 60)
        r -= 60;
    else if (rangeCode >= 50)
        r -= 50;
    else if (rangeCode >= 40)
        r -= 40;
    const int first = deviceCode == 103 ? 2 : 1;
    const int second = deviceCode == 101 ? 1 : 0;
    const int values[9] = {first, second, r, r, 50, 9, 1, 1, 1};
    for (size_t i = 0; i < 9; ++i)
        SetupValues[i] = std::to_string(values[i]);
}

std::string C_CPM_EF::ReadDisplay(double& value, QString& unit)
{
    Handshake();
    port_.WriteString(std::string(1, CpmChar::STX) + "r2" + CpmChar::ETX);
    port_.Timeouts->ReadMultiplier(100);
    Host().Sleep(100);
    std::string text;
    for (;;) {
        const uint8_t b = port_.ReadByte();
        text += b == 0 ? char(0xB1) : char(b);
        if (b == uint8_t(CpmChar::ETX))
            break;
        // A line that never sends its ETX must not grow without end; the
        // same bound as the port's ReadUntil, and the same error.
        if (text.size() >= kMaxReplyLength)
            port_.RaiseError(0, kMsgReplyTooLong);
    }
    // Without its STX and its ETX.
    const std::string d = text.size() >= 2 ? text.substr(1, text.size() - 2) : std::string();
    return EvaluateDisplay(d, value, unit);
}

std::string C_CPM_EF::EvaluateDisplay(const std::string& d, double& value, QString& unit)
{
    const std::string line1 = Mid(d, 1, 16);
    const std::string line2 = Mid(d, 17, 16);
    if (line2.find("OVERFLOW") != std::string::npos || line2 == "0") {
        value = 9999.0;
        return d;
    }
    auto numberChar = [](char c) { return (c >= '0' && c <= '9') || c == ',' || c == '-'; };
    // The number collected from positions 7..16; dots, spaces and letters in
    // between are skipped, as the monitor's thousands dots have always been.
    std::string collected;
    size_t first = 0, last = 0; // 1-based positions of the first and last collected
    for (size_t pos = 7; pos <= 16 && pos <= line2.size(); ++pos) {
        const char c = line2[pos - 1];
        if (!numberChar(c))
            continue;
        if (!first)
            first = pos;
        collected += c;
        last = pos;
    }
    if (collected.empty()) {
        value = 9999.0;
        unit = QStringLiteral("   OVR !");
        return d;
    }
    // A number that starts left of position 7 belongs to the reading as a
    // whole: its sign and leading digits are part of it.
    std::string lead;
    for (size_t pos = first; pos > 1 && numberChar(line2[pos - 2]); --pos)
        lead.insert(lead.begin(), line2[pos - 2]);
    collected = lead + collected;

    // The comma is the monitor's decimal separator, whatever the PC's locale.
    std::string number = collected;
    for (char& c : number)
        if (c == ',')
            c = '.';
    bool ok = false;
    const double v = QString::fromLatin1(number.data(), qsizetype(number.size())).toDouble(&ok);
    if (!ok)
        throw std::runtime_error("'" + collected + "' is not a valid floating point value");
    value = v;
    static const std::string plate1kV = std::string("V-METER     ") + char(0xB1) + "1kV";
    if (line1 == plate1kV) {
        unit = QStringLiteral("kV");
    } else {
        const std::string u = Mid(line2, last + 1, 16 - last);
        unit = QString::fromLatin1(u.data(), qsizetype(u.size()));
    }
    return d;
}
