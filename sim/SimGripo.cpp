#include "sim/SimGripo.h"

namespace {

void PutWord(std::string& out, uint16_t v)
{
    out += char(v & 0xFF);
    out += char(v >> 8);
}

uint16_t Plus1(uint16_t v) { return v == 0xFFFF ? v : uint16_t(v + 1); }

} // namespace

void SimGripo::Measurement(bool wristLow, bool wristHigh, bool shoeLow, bool shoeHigh)
{
    Total = Plus1(Total);
    if (wristLow)
        WristLow = Plus1(WristLow);
    if (wristHigh)
        WristHigh = Plus1(WristHigh);
    if (shoeLow)
        ShoeLow = Plus1(ShoeLow);
    if (shoeHigh)
        ShoeHigh = Plus1(ShoeHigh);
}

void SimGripo::Answer(uint8_t command, ISimLine& line)
{
    std::string reply;
    reply += char(Free);
    PutWord(reply, Total);
    PutWord(reply, WristLow);
    PutWord(reply, WristHigh);
    PutWord(reply, ShoeLow);
    PutWord(reply, ShoeHigh);
    unsigned sum = command;
    for (const char c : reply)
        sum += uint8_t(c);
    const uint8_t check = uint8_t(sum & 0xFF);
    reply += char(BadChecksum ? uint8_t(check + 1) : check);
    const bool whole = ReplyBytes < 0 || ReplyBytes >= int(reply.size());
    if (!whole)
        reply.resize(size_t(ReplyBytes));
    line.Send(reply + Trailer);
    if (HangUpInReply) {
        line.HangUp();
        return;
    }
    if (!whole)
        return;
    pendingCommand_ = command;
    expectedAck_ = uint8_t(~check);
    awaitingAck_ = true;
    ackDeadline_ = line.NowMs() + AckTimeoutMs;
}

void SimGripo::OnByte(uint8_t byte, ISimLine& line)
{
    if (awaitingAck_) {
        awaitingAck_ = false;
        if (byte == expectedAck_) {
            ++GoodAcknowledgements;
            if (pendingCommand_ == 0x7B) {
                Total = WristLow = WristHigh = ShoeLow = ShoeHigh = 0;
                ++Clears;
            }
            std::string echo(1, char(BadEcho ? uint8_t(pendingCommand_ ^ 0x01) : pendingCommand_));
            if (OneShot)
                BadEcho = false;
            line.Send(echo);
            return;
        }
        ++BadAcknowledgements;
        // Not the acknowledgement: the PC gave up on the last reply; a
        // command byte starts the next exchange.
    }
    if (byte != 0x7A && byte != 0x7B)
        return;
    ++Commands;
    const bool silent = Silent;
    const std::string noise = Noise;
    if (OneShot)
        Silent = false, Noise.clear();
    if (silent)
        return;
    if (CountsThePress)
        Measurement();
    if (!noise.empty()) {
        line.Send(noise);
        return;
    }
    Answer(byte, line);
    if (OneShot) {
        BadChecksum = HangUpInReply = false;
        ReplyBytes = -1;
        Trailer.clear();
    }
}

void SimGripo::OnTick(ISimLine& line)
{
    if (awaitingAck_ && line.NowMs() >= ackDeadline_) {
        awaitingAck_ = false;
    }
}
