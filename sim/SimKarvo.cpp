#include "sim/SimKarvo.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

// The monitor's control characters.
constexpr char kEnq = 0x05, kAck = 0x06, kStx = 0x02, kEtx = 0x03, kDc2 = 0x12, kDc3 = 0x13,
               kBel = 0x07;

// Status bits of a decay frame.
constexpr int kStatusCharging = 0x02, kStatusNegative = 0x04, kStatusTiming = 0x20;

// Decay parameters by list index.
int StartVolts(int i) { return 500 + 50 * std::clamp(i, 0, 10); }
int StopVolts(int i) { return 50 * std::clamp(i, 0, 10); }
int OffsetSeconds(int i)
{
    static const int t[16] = {0, 10, 20, 30, 40, 50, 60, 120, 180, 240, 300, 360, 420, 480, 540, 600};
    return t[std::clamp(i, 0, 15)];
}

std::string Hex2(int v)
{
    char b[8];
    std::snprintf(b, sizeof b, "%02X", unsigned(v) & 0xFFu);
    return b;
}

// A 16-bit value as four hex digits, low byte first.
std::string Word(int v) { return Hex2(v & 0xFF) + Hex2((v >> 8) & 0xFF); }

// One range of the display: name on line 1, full scale and unit of line 2.
struct Range {
    const char* name;
    const char* range;
    double fullScale;
    const char* unit;
    int decimals;
};

const Range kPlate[4] = {{"V-METER", "100V", 100, "V", 1},
                         {"V-METER", "400V", 400, "V", 0},
                         {"V-METER", "1kV", 1000, "V", 0},
                         {"V-METER", "4kV", 4, "kV", 2}};
const Range kArvo[4] = {{"ARVO-HEAD", "50V", 50, "V", 1},
                        {"ARVO-HEAD", "200V", 200, "V", 0},
                        {"ARVO-HEAD", "500V", 500, "V", 0},
                        {"ARVO-HEAD", "2kV", 2, "kV", 2}};
const Range kField[4] = {{"E-FIELD", "5kV/m", 5, "kV/m", 2},
                         {"E-FIELD", "20kV/m", 20, "kV/m", 1},
                         {"E-FIELD", "50kV/m", 50, "kV/m", 1},
                         {"E-FIELD", "200kV/m", 200, "kV/m", 0}};

std::string Pad(std::string s, size_t n)
{
    s.resize(n, ' ');
    return s;
}

} // namespace

SimKarvo::SimKarvo()
{
    EnqAnswer = std::string(1, kAck) + kEnq;
    // Plate voltmeter, 1 kV range, as a freshly switched-on monitor.
    Setup = {1, 1, 2, 2, 0x32, 9, 1, 1, 1};
    Stored = {"0110E80364001400170078007B80", "0221E803C8000A001E0000000500",
              "033284036400000000002C018380"};
}

std::string SimKarvo::Noise(size_t n)
{
    std::string s;
    s.reserve(n);
    while (s.size() < n) {
        noise_ = noise_ * 1103515245u + 12345u;
        const char c = char((noise_ >> 16) & 0xFF);
        if (c != kEtx)
            s += c;
    }
    return s;
}

void SimKarvo::Emit(std::string bytes, ISimLine& line)
{
    if (Silent)
        return;
    const int64_t now = line.NowMs();
    if (ReplyDelayMs > 0)
        pending_.push_back({now + ReplyDelayMs, std::move(bytes)});
    else
        line.Send(bytes);
}

void SimKarvo::Reply(const std::string& payload, ISimLine& line)
{
    if (MuteReplies)
        return;
    std::string out = (OmitStx ? std::string() : std::string(1, kStx)) + payload + kEtx;
    if (Garbage)
        out = Noise(40) + kEtx;
    if (Babble) {
        babbleLeft_ = Noise(6000);
        return;
    }
    if (HangUpInReply) {
        HangUpInReply = false;
        line.Send(out.substr(0, out.size() / 2));
        line.HangUp();
        return;
    }
    if (HalfReply) {
        HalfReply = false;
        Emit(out.substr(0, out.size() / 2), line);
        return;
    }
    Emit(out, line);
}

void SimKarvo::OnByte(uint8_t byte, ISimLine& line)
{
    const int64_t now = line.NowMs();
    if (born_ < 0)
        born_ = now;
    const char c = char(byte);
    if (inFrame_) {
        if (c == kEtx) {
            inFrame_ = false;
            Frame(frame_, line);
        } else {
            frame_ += c;
        }
        return;
    }
    if (c == kEnq) {
        // Every command starts with ENQ; a data frame that was announced
        // and did not come is not waited for any longer.
        expect_ = Expect::Command;
        ++Enqs;
        enqAt_ = now;
        const bool answer = EnqsToAnswer != 0;
        if (EnqsToAnswer > 0)
            --EnqsToAnswer;
        if (!EnqAnswer.empty() && !Silent && answer)
            pending_.push_back({now + AckDelayMs, EnqAnswer});
    } else if (c == kStx) {
        if (enqAt_ >= 0)
            LastCommandGapMs = now - enqAt_;
        enqAt_ = -1;
        inFrame_ = true;
        frame_.clear();
    } else if (c == kBel && run_.active) {
        run_.active = false;
        Emit(std::string(1, kStx) + kDc3 + "000000" + kEtx, line);
    }
}

void SimKarvo::Frame(const std::string& text, ISimLine& line)
{
    Commands.push_back(text);
    const Expect was = expect_;
    expect_ = Expect::Command;
    if (was == Expect::SetupData) {
        for (size_t i = 0; i < 9; ++i)
            Setup[i] = int(std::strtol(text.substr(std::min(text.size(), 2 * i), 2).c_str(), nullptr, 16));
        LastSetupText = text;
        ++SetupWrites;
        return;
    }
    if (was == Expect::FileNumber) {
        const int n = std::atoi(text.c_str());
        if (n >= 1 && size_t(n) <= Stored.size())
            Reply(Stored[size_t(n) - 1], line);
        else
            Reply(Hex2(n) + "FF" + std::string(24, '0'), line);
        return;
    }
    if (text == "r0") {
        Reply(Pad(Version, 15) + " " + Pad(SerialNumber, 8) + Pad(BuildDate, 6), line);
    } else if (text == "r1") {
        std::string s;
        for (size_t i = 0; i < 8; ++i)
            s += Hex2(Setup[i]);
        s += Hex2(int(Stored.size()) + 1);
        Reply(s, line);
    } else if (text == "w1") {
        expect_ = Expect::SetupData;
    } else if (text == "r2") {
        Reply(DisplayText(line.NowMs()), line);
    } else if (text == "w2") {
        StartRun(line.NowMs(), line);
    } else if (text == "r3") {
        expect_ = Expect::FileNumber;
    }
}

std::string SimKarvo::DisplayText(int64_t now) const
{
    if (DisplayOverride)
        return *DisplayOverride;
    const Range* table = nullptr;
    if (Setup[0] == 1)
        table = Setup[1] == 1 ? kPlate : kArvo;
    else if (Setup[0] == 2)
        table = kField;
    if (!table)
        return Pad("CPM-MODE", 16) + Pad("  READY", 16);
    const Range& r = table[std::clamp(Setup[2], 0, 3)];
    const std::string range = std::string(1, '\0') + r.range;
    const std::string line1 = Pad(r.name, 16 - range.size()) + range;

    double v = 0;
    if (Reading) {
        v = *Reading;
    } else {
        const double t = double(now - (born_ < 0 ? now : born_));
        v = r.fullScale * (0.55 * std::sin(2 * M_PI * t / 30000.0) + 0.05 * std::sin(2 * M_PI * t / 1700.0));
    }
    if (std::fabs(v) > r.fullScale)
        return line1 + "    OVERFLOW    ";
    char num[32];
    std::snprintf(num, sizeof num, "%.*f", r.decimals, v);
    std::string n = num;
    std::replace(n.begin(), n.end(), '.', ',');
    // The reading and its unit flush right, as the monitor shows them.
    std::string line2 = n + " " + r.unit;
    if (line2.size() < 16)
        line2.insert(0, 16 - line2.size(), ' ');
    return line1 + Pad(line2, 16);
}

void SimKarvo::StartRun(int64_t now, ISimLine& line)
{
    run_ = Run{};
    run_.active = true;
    run_.mode = Setup[4];
    run_.start = StartVolts(Setup[5]);
    run_.stop = StopVolts(Setup[6]);
    run_.offsetTime = OffsetSeconds(Setup[7]);
    if (run_.mode == 0x21)
        run_.polarities = {false};
    else if (run_.mode == 0x32)
        run_.polarities = {true};
    else
        run_.polarities = {false, true};
    run_.peak = run_.start + 50;
    run_.next = now + FramePeriodMs;
    // The first frame after the command only says that the run has begun.
    Emit(std::string(1, kStx) + "V" + Hex2(0) + Word(0) + kEtx, line);
}

void SimKarvo::RunStep(int64_t now, ISimLine& line)
{
    run_.next = now + FramePeriodMs;
    const bool negative = run_.polarities[size_t(run_.phase)];
    int status = negative ? kStatusNegative : 0;
    double v = 0;
    bool polarityDone = false;
    if (run_.charge < 5) {
        ++run_.charge;
        v = run_.peak * run_.charge / 5.0;
        status |= kStatusCharging;
    } else {
        v = run_.peak * std::exp(-double(run_.step) * FramePeriodMs / DecayTauMs);
        ++run_.step;
        const double stop = std::max(run_.stop, 1);
        if (v <= run_.start && v > stop) {
            status |= kStatusTiming;
            ++run_.timedFrames;
        } else if (v <= stop) {
            polarityDone = true;
        }
    }
    const int magnitude = int(std::lround(v));
    const std::string frame = std::string(1, kStx) + "V" + Hex2(status) + Word(magnitude) + kEtx;
    const RunFault fault = InRun;
    if (fault != RunFault::None && fault != RunFault::Garbage) {
        InRun = RunFault::None;
        run_.active = false;
    }
    switch (fault) {
    case RunFault::None: Emit(frame, line); break;
    case RunFault::Silence: return;
    case RunFault::Garbage: Emit(Noise(12) + kEtx, line); break;
    case RunFault::HalfFrame: Emit(frame.substr(0, frame.size() / 2), line); return;
    case RunFault::HangUp:
        line.Send(frame.substr(0, frame.size() / 2));
        line.HangUp();
        return;
    case RunFault::Babble: babbleLeft_ = Noise(6000); return;
    }
    if (!polarityDone)
        return;

    const int tenths = int(std::lround(run_.timedFrames * FramePeriodMs / 100.0));
    (negative ? run_.negTenths : run_.posTenths) = tenths;
    run_.timedFrames = 0;
    run_.charge = 0;
    run_.step = 0;
    if (size_t(++run_.phase) < run_.polarities.size())
        return;

    // The result: file number, mode, start, stop, offset time, both decay
    // times in tenths, and the offset voltage as sign and magnitude.
    run_.active = false;
    const int fileNo = int(Stored.size()) + 1;
    std::string offset = Word(std::abs(OffsetVoltage) & 0x7FFF);
    if (OffsetVoltage < 0)
        offset[2] = '8';
    const std::string record = Hex2(fileNo) + Hex2(run_.mode) + Word(run_.start) + Word(run_.stop) +
                               Word(run_.offsetTime) + Word(run_.posTenths) + Word(run_.negTenths) + offset;
    if (Stored.size() < 99)
        Stored.push_back(record);
    Emit(std::string(1, kDc2) + "0" + record + kEtx, line);
}

void SimKarvo::OnTick(ISimLine& line)
{
    const int64_t now = line.NowMs();
    if (born_ < 0)
        born_ = now;
    // Timed sends in the order they were made.
    while (!pending_.empty() && pending_.front().first <= now) {
        const std::string bytes = pending_.front().second;
        pending_.erase(pending_.begin());
        if (!Silent)
            line.Send(bytes);
    }
    if (!babbleLeft_.empty()) {
        const size_t n = std::min<size_t>(512, babbleLeft_.size());
        if (!Silent)
            line.Send(babbleLeft_.substr(0, n));
        babbleLeft_.erase(0, n);
    }
    if (run_.active && now >= run_.next)
        RunStep(now, line);
}
