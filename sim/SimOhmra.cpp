#include "sim/SimOhmra.h"

#include <algorithm>

namespace {
constexpr uint8_t kStx = 0x02;
constexpr uint8_t kNak = 0x15;
const std::string kAck("\x06\x04", 2);

std::string HexText(const std::string& bytes)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}
} // namespace

SimOhmra::SimOhmra()
{
    // A few measurements in the meter's memory, so that a reading has
    // something to show.
    const Measurement stored[] = {
        {4700, 6, 2, 22, 41, 0x01, 0},  {1234, 5, 2, 23, 44, 0x00, 10}, {2500, 9, 4, 23, 47, 0x01, 30},
        {500, 0, 0, 21, 39, 0x00, 0},   {12345, 3, 1, 24, 50, 0x01, 60},
    };
    for (size_t i = 0; i < std::size(stored); ++i)
        Files[i + 1] = {Slot::Stored, stored[i]};
}

uint8_t SimOhmra::Mean(const std::string& bytes)
{
    unsigned sum = 0;
    for (unsigned char c : bytes)
        sum += c;
    return bytes.empty() ? 0 : uint8_t(sum / bytes.size());
}

std::vector<std::string> SimOhmra::CommandTexts() const
{
    std::vector<std::string> out;
    for (const auto& c : Commands)
        out.push_back(HexText(c));
    return out;
}

void SimOhmra::OnByte(uint8_t byte, ISimLine& line)
{
    if (in_.empty()) {
        if (byte == kStx)
            in_ += char(byte);
        return;   // noise between frames is dropped
    }
    in_ += char(byte);
    if (in_.size() == 2) {
        want_ = byte;
        if (want_ < 3) {   // no such frame
            in_.clear();
            line.Send(std::string(1, char(kNak)));
        }
        return;
    }
    if (in_.size() < want_)
        return;
    const std::string frame = in_;
    in_.clear();
    const std::string body = frame.substr(0, frame.size() - 1);
    if (uint8_t(frame.back()) != Mean(body)) {
        line.Send(std::string(1, char(kNak)));
        return;
    }
    Handle(frame.substr(2, frame.size() - 3), line);
}

void SimOhmra::OnTick(ISimLine& line)
{
    (void)line;
    if (timerRunning_ && RemainingSeconds(line.NowMs()) == 0) {
        timerRunning_ = false;
        timerDone_ = true;
    }
}

int SimOhmra::RemainingSeconds(int64_t now) const
{
    if (!timerRunning_)
        return 0;
    const int64_t left = timerEnd_ - now;
    if (left <= 0)
        return 0;
    const int per = MsPerTimerSecond > 0 ? MsPerTimerSecond : 1;
    return int((left + per - 1) / per);
}

std::string SimOhmra::MeasurementData(uint8_t first, const Measurement& m) const
{
    std::string d;
    d += char(first);
    d += char(m.mantissa & 0xFF);
    d += char((m.mantissa >> 8) & 0xFF);
    d += char(((m.range & 7) << 5) | (m.exponent & 0x1F));
    d += char(m.temperature & 0xFF);
    d += char(m.humidity & 0xFF);
    d += char(m.status & 0xFF);
    d += char(m.timer & 0xFF);
    return d;
}

void SimOhmra::Answer(const std::string& data, ISimLine& line)
{
    std::string frame;
    frame += char(kStx);
    frame += char(data.size() + 3);
    frame += data;
    uint8_t chk = Mean(frame);
    switch (current_) {
    case Fault::WrongChecksum:
        chk = uint8_t(chk + 1);
        break;
    case Fault::HalfFrame:
        line.Send(kAck + frame.substr(0, (frame.size() + 1) / 2));
        return;
    case Fault::NoStx:
        line.Send(kAck + frame.substr(1) + char(chk));
        return;
    case Fault::ShortLength:
        line.Send(kAck + std::string("\x02\x02\x02", 3) + data);
        return;
    default:
        break;
    }
    frame += char(chk);
    line.Send(kAck + frame);
}

void SimOhmra::Handle(const std::string& cmd, ISimLine& line)
{
    Commands.push_back(cmd);
    current_ = Fault::None;
    if (!Faults.empty()) {
        current_ = Faults.front();
        Faults.pop_front();
    }
    switch (current_) {
    case Fault::Nak:
        line.Send(std::string(1, char(kNak)));
        return;
    case Fault::Garbage:
        line.Send(std::string("\x55\xAA\x13\x7F", 4));
        return;
    case Fault::Silence:
        return;
    case Fault::HangUp:
        line.HangUp();
        return;
    default:
        break;
    }

    const uint8_t op = uint8_t(cmd[0]);
    auto arg = [&](size_t i) { return i < cmd.size() ? int(uint8_t(cmd[i])) : 0; };
    const int64_t now = line.NowMs();
    OnTick(line);

    switch (op) {
    case 0xC0: {
        const int mode = arg(1);
        if (mode & 0x10) {
            if (!timerRunning_ && !timerDone_) {
                const int secs = arg(2);
                timerRunning_ = secs > 0;
                timerDone_ = secs <= 0;
                timerEnd_ = now + int64_t(secs) * (MsPerTimerSecond > 0 ? MsPerTimerSecond : 1);
            }
            Measurement m = Live;
            const int left = RemainingSeconds(now);
            m.timer = left;
            std::string d = MeasurementData(0xC0, m);
            d[1] = char(left);
            d[2] = 0;
            m.status |= 0x20 | (timerRunning_ ? 0x02 : 0x04);
            d[6] = char(m.status);
            Answer(d, line);
            return;
        }
        // A plain measurement once a timer run has begun hands out the
        // run's result (ending a run that has a second or so left).
        const bool afterRun = timerRunning_ || timerDone_;
        if (timerRunning_ && RemainingSeconds(now) > 0)
            ++EarlyReadings;
        if (timerRunning_) {
            timerRunning_ = false;
            timerDone_ = true;
        }
        Measurement m = Live;
        if (afterRun && Timed.mantissa >= 0)
            m = Timed;
        if (Wander && m.mantissa > 0) {
            static const int steps[] = {0, 3, 7, 4, -2, -6, -3, 1};
            m.mantissa = std::max(0, std::min(65535, m.mantissa + m.mantissa * steps[wanderStep_++ % 8] / 1000));
        }
        if (mode & 0x08)
            m.status |= 0x08;
        Answer(MeasurementData(0xC0, m), line);
        return;
    }
    case 0xC4:
        timerRunning_ = timerDone_ = false;
        Answer(std::string("\xC4\x00", 2), line);
        return;
    case 0x82:
        timerRunning_ = timerDone_ = false;
        ++Resets;
        line.Send(kAck);
        return;
    case 0xA1: {
        std::string d;
        d += char(0xA1);
        d += char(SerialNumber & 0xFF);
        d += char((SerialNumber >> 8) & 0xFF);
        d += char(SerialMonth);
        d += char(SerialYear);
        d += char(0xFF);
        d += char(CalDay);
        d += char(CalMonth);
        d += char(CalYear);
        std::string v = Version;
        v.resize(4, ' ');
        d += v;
        Answer(d, line);
        return;
    }
    case 0xA0:
        SerialNumber = arg(1) | (arg(2) << 8);
        SerialMonth = arg(3);
        SerialYear = arg(4);
        CalDay = arg(6);
        CalMonth = arg(7);
        CalYear = arg(8);
        line.Send(kAck);
        return;
    case 0x88: {
        const int n = arg(1);
        if (n < 1 || n > 99 || Files[size_t(n)].slot == Slot::Empty) {
            line.Send(std::string(1, char(kNak)));
            return;
        }
        if (Files[size_t(n)].slot == Slot::Silent)
            return;
        if (Files[size_t(n)].slot == Slot::Zeroed) {
            Answer(MeasurementData(0x88, Measurement{0, 0, 0, 0, 0, 0, 0}), line);
            return;
        }
        Answer(MeasurementData(0x88, Files[size_t(n)].m), line);
        return;
    }
    case 0x91: {
        std::string d(23, '\0');
        d[0] = char(0x91);
        d[1] = char(0xF0);
        d[2] = 0;
        const size_t at[9] = {3, 5, 7, 9, 11, 13, 15, 19, 21};
        for (size_t i = 0; i < 9; ++i) {
            d[at[i]] = char(Params[i] & 0xFF);
            d[at[i] + 1] = char((Params[i] >> 8) & 0xFF);
        }
        d[17] = char(0x08);
        d[18] = char(0xFF);
        Answer(d, line);
        return;
    }
    case 0x90: {
        const size_t at[9] = {3, 5, 7, 9, 11, 13, 15, 19, 21};
        for (size_t i = 0; i < 9; ++i)
            Params[i] = arg(at[i]) | (arg(at[i] + 1) << 8);
        line.Send(kAck);
        return;
    }
    default:
        line.Send(std::string(1, char(kNak)));
        return;
    }
}
