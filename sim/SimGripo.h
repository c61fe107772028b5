#pragma once
#include "sim/SimInstrument.h"

#include <cstdint>
#include <string>

// A simulated wrist-strap and shoe tester. On the command byte 0x7A (read
// statistics) or 0x7B (read and clear) it answers with its twelve-byte
// statistics reply: one free byte, five 16-bit counters low byte first
// (measurements, wrist strap below, wrist strap above, shoe below, shoe
// above) and a sum checksum over the command byte and the eleven bytes. It
// then waits for the acknowledgement, the complement of that checksum, and
// answers it with the command byte as echo; after 0x7B and a correct
// acknowledgement the counters are zero.
//
// Faults for tests and the demo are set through the fields (from another
// thread only inside PtyPeer::WithInstrument).
class SimGripo final : public ISimInstrument {
public:
    // The counters the next reply carries.
    uint8_t Free = 0;   // the reply's first byte; only the checksum covers it
    uint16_t Total = 0;
    uint16_t WristLow = 0;
    uint16_t WristHigh = 0;
    uint16_t ShoeLow = 0;
    uint16_t ShoeHigh = 0;

    // Faults.
    bool BadChecksum = false;   // the checksum byte is off by one
    bool BadEcho = false;       // the echo is not the command byte
    bool Silent = false;        // no answer at all
    // Stray bytes sent right behind the reply (a line with noise on it).
    std::string Trailer;
    // Noise instead of a reply: these bytes answer the command, and no
    // acknowledgement is awaited.
    std::string Noise;
    // Only the first this many reply bytes go out (half a frame); -1 all.
    int ReplyBytes = -1;
    // The tester hangs up once the reply bytes it sends are out.
    bool HangUpInReply = false;
    // Each fault above spoils one command only and is then switched off.
    bool OneShot = false;
    // A measurement taken on the tester's plate: counts one more, and one
    // more below the wrist-strap limit when `wristLow`.
    void Measurement(bool wristLow = false, bool wristHigh = false, bool shoeLow = false, bool shoeHigh = false);

    // Pressing the plate to read the statistics is a measurement as well:
    // when set, each command counts one more measurement before the reply.
    bool CountsThePress = false;

    // What the simulator saw.
    int Commands = 0;            // command bytes answered (or ignored while silent)
    int GoodAcknowledgements = 0;
    int BadAcknowledgements = 0;
    int Clears = 0;

    // How long an acknowledgement is awaited before the tester gives up.
    int AckTimeoutMs = 3000;
    // Still waiting for the acknowledgement of its last reply: a command
    // byte arriving now may be taken for it.
    bool AwaitingAcknowledgement() const { return awaitingAck_; }

    void OnByte(uint8_t byte, ISimLine& line) override;
    void OnTick(ISimLine& line) override;

private:
    void Answer(uint8_t command, ISimLine& line);
    uint8_t pendingCommand_ = 0;
    uint8_t expectedAck_ = 0;
    bool awaitingAck_ = false;
    int64_t ackDeadline_ = 0;
};
