#pragma once
#include "serial/ComTypes.h"

#include <cstddef>
#include <memory>
#include <string>

// The operating-system side of one serial port, as the port component needs
// it. Every operation returns 0 on success or the system's error number of
// the call that failed. Reads and writes work like overlapped I/O: a start
// that takes what is there at once, and a finish that blocks until the
// transfer is complete or the time-outs end it.
class ISerialDevice {
public:
    virtual ~ISerialDevice() = default;

    virtual int Open(const std::string& path) = 0;
    // Gives the device up; never fails.
    virtual void Close() = 0;
    virtual bool IsOpen() const = 0;

    virtual int GetLineSettings(TDeviceLineSettings& rec) = 0;
    virtual int SetLineSettings(const TDeviceLineSettings& rec) = 0;
    virtual int SetBufferSizes(int32_t input, int32_t output) = 0;
    virtual int GetTimeouts(TDeviceTimeouts& t) = 0;
    virtual int SetTimeouts(const TDeviceTimeouts& t) = 0;
    // Empties both queues and abandons any transfer in progress.
    virtual int Purge() = 0;
    virtual int InputCount(size_t& count) = 0;

    // Starts a read of `count` bytes into `buffer` (which must live until the
    // read is finished) under the time-outs in force.
    virtual int StartRead(void* buffer, size_t count) = 0;
    virtual bool ReadPending() const = 0;
    // Blocks until the read in progress ends; `done` is the number of bytes
    // it delivered (fewer than asked when a time-out ended it). Without a read
    // in progress it returns at once with the count of the last one.
    virtual int FinishRead(size_t& done) = 0;

    // Hands the bytes to the device (it keeps its own copy) and returns.
    virtual int StartWrite(const void* buffer, size_t count) = 0;
    virtual bool WritePending() const = 0;
    // Blocks until the write in progress has left the device or its time-out
    // (WriteMultiplier x n + WriteConstant) ended it; what is still queued
    // then is discarded. `done` counts the bytes that went out.
    virtual int FinishWrite(size_t& done) = 0;

    // Line errors seen since the last call (then cleared).
    virtual int TakeLineErrors(TLineErrors& errors) = 0;
};

// The device layer of this platform: termios with poll on the monotonic clock.
std::unique_ptr<ISerialDevice> CreateSystemSerialDevice();

// Reads the line settings of a device that is not open here (a short look
// without claiming it). Returns 0 or the error number.
int ProbeLineSettings(const std::string& path, TDeviceLineSettings& rec);
