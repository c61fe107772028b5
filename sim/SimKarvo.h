#pragma once
#include "sim/SimInstrument.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// A simulated charge plate monitor Karvo on the far end of a serial line.
// It answers ENQ with ACK (and the 0x05 the setup write waits for), takes
// the framed commands r0, r1, w1 (and its data frame), r2, w2, r3 (and its
// file-number frame), and BEL during a decay run:
//  - r0: version, serial number and build date;
//  - r1: the setup block as 18 hex digits (byte 9 = stored files + 1);
//  - r2: two 16-character display lines for the mode and range last
//    written, a drifting reading (or a fixed one), OVERFLOW past full scale;
//    the plus-minus sign goes out as a zero byte, as on the instrument;
//  - w2: live frames (every FramePeriodMs) while the plate is charged and
//    decays, the timing bit set between start and stop voltage, then the
//    result frame; BEL gives the abort frame instead;
//  - r3: the stored record of the asked file number, "FF" in the mode of an
//    empty slot.
// It can also misbehave: stay silent, leave ENQ unanswered, answer garbage,
// babble without ETX, leave out STX, stop or hang up in the middle of a
// reply, or fail in the middle of a decay run (InRun).
// Change its settings from another thread only through PtyPeer::WithInstrument.
class SimKarvo final : public ISimInstrument {
public:
    SimKarvo();
    void OnByte(uint8_t byte, ISimLine& line) override;
    void OnTick(ISimLine& line) override;

    // --- behaviour ---------------------------------------------------------
    // What an ENQ is answered with, and after how long.
    std::string EnqAnswer;               // ACK and 0x05 together
    int AckDelayMs = 0;
    // ENQs answered from now on before the monitor stops answering them (-1: all).
    int EnqsToAnswer = -1;
    // The ACK comes when the PC polls for the n-th time (polls 50 ms apart).
    void AckOnPoll(int n) { AckDelayMs = n <= 1 ? 0 : 50 * (n - 1) - 25; }
    bool Silent = false;                 // answers nothing at all
    bool Garbage = false;                // replies are noise ending in ETX
    bool Babble = false;                 // replies are noise that never ends in ETX
    bool OmitStx = false;                // replies start without STX
    bool HangUpInReply = false;          // the next reply stops halfway and the line goes
    bool HalfReply = false;              // the next reply stops halfway; the line stays
    bool MuteReplies = false;            // ENQ still acknowledged, replies never sent
    int ReplyDelayMs = 0;                // pause before a reply

    std::string Version = "KARVO V6.11 SIM"; // 15 characters
    std::string SerialNumber = "00004711";   // 8
    std::string BuildDate = "150307";        // ddmmyy
    // A fixed reading in the display's unit; none: a slow drift over the range.
    std::optional<double> Reading;
    // Display lines sent as they are (32 characters), instead of the built ones.
    std::optional<std::string> DisplayOverride;

    int FramePeriodMs = 100;             // decay frames
    // What goes wrong in a decay run from its next live frame on: the run
    // stops without a word; live frames turn into noise (each still ended by
    // ETX, the run going on underneath); the frame stops halfway and the run
    // is over; the same and the line goes; noise that never ends in ETX.
    // All but Garbage happen once and switch themselves back to None.
    enum class RunFault { None, Silence, Garbage, HalfFrame, HangUp, Babble };
    RunFault InRun = RunFault::None;
    double DecayTauMs = 1000;            // plate voltage e-folding time
    int OffsetVoltage = -3;              // reported after a run
    // Records of the stored files, file 1 first (28 hex digits each).
    std::vector<std::string> Stored;

    // --- what the PC did ------------------------------------------------------
    std::array<int, 9> Setup{};          // the setup block in force
    int SetupWrites = 0;                 // data frames after w1
    std::string LastSetupText;           // the 18 characters of the last one
    std::vector<std::string> Commands;   // every frame received, in order
    int64_t LastCommandGapMs = -1;       // from the last ENQ to the next STX
    int Enqs = 0;
    bool Decaying() const { return run_.active; }

private:
    void Frame(const std::string& text, ISimLine& line);
    void Reply(const std::string& payload, ISimLine& line);
    void Emit(std::string bytes, ISimLine& line);
    std::string DisplayText(int64_t now) const;
    std::string Noise(size_t n);
    void StartRun(int64_t now, ISimLine& line);
    void RunStep(int64_t now, ISimLine& line);

    enum class Expect { Command, SetupData, FileNumber };
    Expect expect_ = Expect::Command;
    bool inFrame_ = false;
    std::string frame_;
    int64_t enqAt_ = -1;
    std::vector<std::pair<int64_t, std::string>> pending_; // timed sends
    int64_t born_ = -1;
    uint32_t noise_ = 12345;
    std::string babbleLeft_;

    struct Run {
        bool active = false;
        int64_t next = 0;
        int phase = 0;          // index into the polarities
        int step = 0;           // frames within the polarity
        bool negative = false;
        std::vector<bool> polarities; // false: positive
        int start = 0, stop = 0, offsetTime = 0, mode = 0;
        int posTenths = 0, negTenths = 0;
        int timedFrames = 0;
        double peak = 0;
        int charge = 0;         // charging frames done
    } run_;
};
