#pragma once
#include <cstdint>
#include <string>

// What a simulated instrument sees of its line: it can send, hang up, and
// ask for the time. The line is the far end of a pseudo-terminal.
class ISimLine {
public:
    virtual ~ISimLine() = default;
    virtual void Send(const std::string& bytes) = 0;
    // Closes the far end: the near end sees the device go away.
    virtual void HangUp() = 0;
    // Milliseconds on a monotonic clock.
    virtual int64_t NowMs() const = 0;
};

// A simulated instrument: it is handed each byte that arrives and is given
// ticks of time, so that it can answer, stream frames on its own and react
// to a byte that arrives while it is streaming. It runs on the thread of the
// peer that hosts it, always under that peer's instrument lock; change its
// settings from another thread through PtyPeer::WithInstrument.
class ISimInstrument {
public:
    virtual ~ISimInstrument() = default;
    virtual void OnByte(uint8_t byte, ISimLine& line) = 0;
    // Called at least every tick period of the host, and after every batch of
    // received bytes.
    virtual void OnTick(ISimLine& line) { (void)line; }
};
