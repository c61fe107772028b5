#pragma once
#include "platform/Host.h"
#include "platform/Prompt.h"
#include "serial/ComPort.h"

#include <cstddef>
#include <cstdint>
#include <string>

// The far end of a serial line that answers with the fuzzer's bytes. They
// come as bursts, each a length byte and that many bytes: every write of the
// program lets the next burst arrive, and a blocking read that finds too few
// bytes waits for further bursts (a late answer). A read that still finds
// too few ends like a time-out. What the program writes is kept.
class FuzzSerialDevice : public ISerialDevice {
public:
    FuzzSerialDevice(const uint8_t* data, size_t size, std::string* written)
        : data_(data), size_(size), written_(written) {}

    int Open(const std::string&) override { open_ = true; return 0; }
    void Close() override { open_ = false; }
    bool IsOpen() const override { return open_; }
    int GetLineSettings(TDeviceLineSettings&) override { return 0; }
    int SetLineSettings(const TDeviceLineSettings&) override { return 0; }
    int SetBufferSizes(int32_t, int32_t) override { return 0; }
    int GetTimeouts(TDeviceTimeouts& t) override { t = timeouts_; return 0; }
    int SetTimeouts(const TDeviceTimeouts& t) override { timeouts_ = t; return 0; }
    // The far end's answers are not the program's to throw away: only what a
    // real line would hold before the first command (nothing) goes.
    int Purge() override { return 0; }
    int InputCount(size_t& count) override { count = arrived_.size() - taken_; return 0; }
    int StartRead(void* buffer, size_t count) override;
    bool ReadPending() const override { return readPending_; }
    int FinishRead(size_t& done) override { readPending_ = false; done = lastRead_; return 0; }
    int StartWrite(const void* buffer, size_t count) override;
    bool WritePending() const override { return writePending_; }
    int FinishWrite(size_t& done) override { writePending_ = false; done = lastWrite_; return 0; }
    int TakeLineErrors(TLineErrors& errors) override { errors = {}; return 0; }

private:
    // Lets the next burst arrive; false when none is left.
    bool Arrive();
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;             // in data_: start of the next burst
    std::string arrived_;        // bytes that reached the receive queue
    size_t taken_ = 0;           // of arrived_, already read
    std::string* written_;
    bool open_ = false, readPending_ = false, writePending_ = false;
    size_t lastRead_ = 0, lastWrite_ = 0;
    TDeviceTimeouts timeouts_ {};
};

// A clock that moves only by the sleeps (and a little per look), message
// processing that finds nothing to do. A loop that waits on this clock for
// longer than a simulated day is a hang: the run aborts.
class FuzzHost : public IHost {
public:
    uint32_t TickCount() override;
    void Sleep(unsigned ms) override;
    void ProcessMessages() override;
    uint64_t now = 0;
};

// Answers every box with the button `answer` says, the way a user who
// keeps choosing the same thing would; text entries are cancelled.
class FuzzPrompt : public IPrompt {
public:
    TPromptResult Ask(const QString&, const QString&, TPromptButtons buttons, TPromptIcon) override;
    bool InputText(const QString&, const QString&, QString&) override { return false; }
    int asked = 0;
    bool retry = false;  // Retry (or Ok) at first, Cancel from the fourth box on
};

// One fuzz input on one port: host and prompt installed for the scope, the
// port open on a device that replays `data`.
class FuzzLine {
public:
    FuzzLine(const uint8_t* data, size_t size, bool retry);
    ~FuzzLine();
    TComPort port;
    FuzzHost host;
    FuzzPrompt prompt;
    std::string written;

private:
    IHost* oldHost_;
    IPrompt* oldPrompt_;
};
