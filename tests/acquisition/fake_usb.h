#pragma once
#include "acquisition/UsbApi.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <utility>
#include <vector>

// A USB bus made of data for the converter tests: buses and their devices by
// vendor and product id, scripted replies to the control request, and
// failures of open, configuration, claim and transfer. Install() puts it in
// place of libusb for the converter code; the destructor takes it out.
class FakeUsb {
public:
    struct Request {
        int type, request, value, index, size, timeout;
    };

    FakeUsb();
    ~FakeUsb();

    // Each inner list is one bus, devices in list order as (vendor, product).
    void SetBuses(const std::vector<std::vector<std::pair<uint16_t, uint16_t>>>& buses);
    // One bus with one converter on it.
    void OneConverter();

    // Replies of the coming transfers, in order. When the script is empty a
    // transfer answers 0x00 0x00.
    void QueueBytes(uint8_t lo, uint8_t hi, int length = 8);
    // A count in the converter's sign-and-magnitude form (-1023 .. 1023).
    void QueueCounts(int counts);
    void QueueFailure(int rc = -110);

    bool failOpen = false;
    bool failConfig = false;
    bool failClaim = false;

    int searches = 0;      // usb_init calls
    int opens = 0;
    int closes = 0;
    int openHandles = 0;
    std::vector<std::pair<int, int>> opened; // (bus, device index) of each open
    std::vector<Request> requests;
    std::vector<int> transferDevices;       // bus*100 + index per transfer

    static FakeUsb* Current();

private:
    struct Reply {
        int rc;
        uint8_t lo, hi;
    };
    struct Bus;
    std::vector<Bus*> buses_;
    std::deque<Reply> replies_;
    std::deque<int> handles_;
    const TUsbApi* previous_;

    void Clear();
    friend struct FakeUsbCalls;
};

// A host whose clock moves only when the code sleeps (and by `tickStep` on
// every reading of it), recording the sleeps; ProcessMessages runs a hook.
// A loop that never ends on it fails the test (see RunawayGuard).
#include "platform/Host.h"
#include "tests/support/RunawayGuard.h"
class FakeHost : public IHost {
public:
    FakeHost() : old_(SetHost(this)) {}
    ~FakeHost() override { SetHost(old_); }
    uint32_t TickCount() override
    {
        runaway.Count("TickCount");
        return now += tickStep;
    }
    void Sleep(unsigned ms) override
    {
        runaway.Count("Sleep");
        sleeps.push_back(ms);
        now += ms;
    }
    void ProcessMessages() override
    {
        runaway.Count("ProcessMessages");
        ++processed;
        if (onProcess)
            onProcess();
    }
    uint32_t now = 1000;
    uint32_t tickStep = 0;
    int processed = 0;
    std::vector<unsigned> sleeps;
    std::function<void()> onProcess;
    RunawayGuard runaway;

private:
    IHost* old_;
};
