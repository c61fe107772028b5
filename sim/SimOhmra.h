#pragma once
#include "sim/SimInstrument.h"

#include <array>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

// A simulated Ohmra tera-ohmmeter on the far end of a serial line.
//
// Wire: every frame, in both directions, is STX (0x02), LEN (bytes of the
// whole frame), data, CHK, where CHK is the integer mean of the bytes before
// it. The meter acknowledges each good command with the two bytes 06 04;
// commands that have an answer get a frame right after. A command frame with
// a bad checksum or an unknown command byte is answered with NAK (0x15).
//
//   C0 mode [secs]  measure; mode bit 4 (0x10) = timer, the seconds byte
//                   follows. Answer: C0, mantissa lo, hi, range<<5|exponent,
//                   temperature, humidity, status, timer. With the timer bit
//                   the first command starts the countdown and every one
//                   answers the seconds still to run in byte 1.
//   C4              stop; answers a short frame.
//   82              reset; acknowledgement only.
//   A1              info: A1, serial lo, hi, month, year, FF, day, month,
//                   year, four version characters.
//   A0 ...          writes serial number and calibration date (as A1 reads them).
//   88 nn           stored file nn (1..99), laid out like a measurement.
//   91              parameter block (23 bytes); 90 ... writes it.
//
// Settings are plain members; change them through PtyPeer::WithInstrument
// while the peer runs.
class SimOhmra final : public ISimInstrument {
public:
    // How the meter answers the next commands (one entry per command, taken
    // from the front of `Faults`).
    enum class Fault {
        None,
        WrongChecksum,   // the answer frame's CHK is off by one
        Nak,             // 0x15 instead of the acknowledgement
        Garbage,         // a few bytes that are no acknowledgement
        HalfFrame,       // acknowledgement and half the answer frame, then nothing
        Silence,         // nothing at all
        HangUp,          // the line goes away
        NoStx,           // acknowledgement, then the frame without its STX
        ShortLength,     // acknowledgement, then a frame announcing LEN 2
    };

    struct Measurement {
        int mantissa = 4700;   // 0..65535
        int exponent = 6;      // 0..31
        int range = 2;         // 0..7
        int temperature = 23;
        int humidity = 45;
        int status = 0x01;     // bit 0 averaging, bit 7 out of range, bit 6 too high
        int timer = 0;
    };

    enum class Slot { Empty, Stored, Silent, Zeroed };
    struct StoredFile {
        // Empty answers NAK, Silent answers nothing, Zeroed answers a
        // record with every field 0 (a slot the meter never wrote)
        Slot slot = Slot::Empty;
        Measurement m;
    };

    SimOhmra();

    void OnByte(uint8_t byte, ISimLine& line) override;
    void OnTick(ISimLine& line) override;

    // --- settings ------------------------------------------------------------
    Measurement Live;                 // what a measurement answers
    // What a plain measurement answers once a timer run has begun: the
    // run's result (mantissa < 0: the same as Live).
    Measurement Timed{-1};
    // Wall time of one timer second (tests shorten it).
    int MsPerTimerSecond = 1000;
    // Varies the live mantissa a little from one reading to the next (demo).
    bool Wander = false;
    std::array<StoredFile, 100> Files{};   // index = file number, 0 unused
    int SerialNumber = 5, SerialMonth = 1, SerialYear = 12;
    int CalDay = 3, CalMonth = 4, CalYear = 10;
    std::string Version = "1.02";        // four characters
    std::array<int, 9> Params{{1000, 2000, 3000, 4000, 5000, 6000, 700, 800, 900}};   // k0..k5, kTF0, kTF2, kTF3
    std::deque<Fault> Faults;

    // --- what happened ---------------------------------------------------------
    // Each good command's data bytes (without STX, LEN, CHK), in order.
    std::vector<std::string> Commands;
    int Resets = 0;
    // Plain measurements that came while a timer run still had time to
    // go: the run's result was asked for before it was there.
    int EarlyReadings = 0;
    // Data bytes of the command as hex text ("C004"), for tests.
    std::vector<std::string> CommandTexts() const;

private:
    void Handle(const std::string& cmd, ISimLine& line);
    void Answer(const std::string& data, ISimLine& line);
    std::string MeasurementData(uint8_t first, const Measurement& m) const;
    static uint8_t Mean(const std::string& bytes);
    int RemainingSeconds(int64_t now) const;

    // Frame assembly.
    std::string in_;
    size_t want_ = 0;

    // Timer run.
    bool timerRunning_ = false;
    bool timerDone_ = false;
    int64_t timerEnd_ = 0;
    unsigned wanderStep_ = 0;
    Fault current_ = Fault::None;
};
