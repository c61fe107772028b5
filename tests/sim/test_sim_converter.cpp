// The simulated USB converter of demo mode, read the way the wire
// description says: vendor request 5, sign in bit 10, 2.148 mV a count.
#include "platform/Host.h"
#include "sim/SimConverter.h"
#include "tests/support/RunawayGuard.h"

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <cmath>

namespace {

class Clock : public IHost {
public:
    Clock() : old_(SetHost(this)) {}
    ~Clock() override { SetHost(old_); }
    uint32_t TickCount() override
    {
        runaway.Count("TickCount");
        return now;
    }
    void Sleep(unsigned ms) override
    {
        runaway.Count("Sleep");
        now += ms;
    }
    void ProcessMessages() override { runaway.Count("ProcessMessages"); }
    uint32_t now = 5000;
    RunawayGuard runaway;

private:
    IHost* old_;
};

struct usb_device* FindConverter()
{
    SimConverter::usb_init();
    SimConverter::usb_find_busses();
    SimConverter::usb_find_devices();
    for (usb_bus* b = SimConverter::usb_get_busses(); b; b = b->next)
        for (struct usb_device* d = b->devices; d; d = d->next)
            if (d->descriptor.idVendor == 0x16C0 && d->descriptor.idProduct == 0x2B5C)
                return d;
    return nullptr;
}

double ReadVolts(usb_dev_handle* h)
{
    char buf[8];
    EXPECT_EQ(SimConverter::usb_control_msg(h, 0xC0, 5, 0, 0, buf, 8, 1000), 8);
    int raw = static_cast<unsigned char>(buf[0]) + 256 * static_cast<unsigned char>(buf[1]);
    EXPECT_LE(raw, 2047);
    if (raw >= 1024)
        raw = 1024 - raw;
    return raw * 2.148 / 1000.0;
}

TEST(SimConverter, IsFoundOpenedAndAnswersTheConversionRequest)
{
    Clock clock;
    struct usb_device* d = FindConverter();
    ASSERT_NE(d, nullptr);
    usb_dev_handle* h = SimConverter::usb_open(d);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(SimConverter::usb_set_configuration(h, 1), 0);
    EXPECT_EQ(SimConverter::usb_claim_interface(h, 0), 0);
    EXPECT_EQ(SimConverter::usb_claim_interface(h, 1), -1);
    char buf[8];
    EXPECT_LT(SimConverter::usb_control_msg(h, 0x40, 5, 0, 0, buf, 8, 1000), 0); // wrong direction
    EXPECT_LT(SimConverter::usb_control_msg(h, 0xC0, 4, 0, 0, buf, 8, 1000), 0); // unknown request
    EXPECT_EQ(SimConverter::OpenHandles(), 1);
    EXPECT_EQ(SimConverter::usb_close(h), 0);
    EXPECT_EQ(SimConverter::OpenHandles(), 0);
    EXPECT_LT(SimConverter::usb_control_msg(h, 0xC0, 5, 0, 0, buf, 8, 1000), 0); // closed
}

TEST(SimConverter, SignalDriftsAndOverflowsBothWaysWithinAMinute)
{
    Clock clock;
    usb_dev_handle* h = SimConverter::usb_open(FindConverter());
    ASSERT_NE(h, nullptr);
    double hi = -10, lo = 10;
    int overflowUp = 0, overflowDown = 0;
    for (int i = 0; i < 60 * 20; ++i) { // 60 s, 50 ms apart
        const double v = ReadVolts(h);
        hi = std::max(hi, v);
        lo = std::min(lo, v);
        overflowUp += v > 1.02;
        overflowDown += v < -1.02;
        clock.now += 50;
    }
    SimConverter::usb_close(h);
    EXPECT_GT(overflowUp, 5);
    EXPECT_GT(overflowDown, 5);
    // mostly in range: the excursions are short
    EXPECT_LT(overflowUp + overflowDown, 120);
    EXPECT_LE(hi, 2.2);
    EXPECT_GE(lo, -2.2);
}

TEST(SimConverter, VoltsFollowTheDescribedShape)
{
    EXPECT_NEAR(SimConverter::VoltsAt(0), 0.12 * std::sin(1.0), 1e-12);
    EXPECT_GT(SimConverter::VoltsAt(18.75), 1.02);  // first excursion, positive
    EXPECT_LT(SimConverter::VoltsAt(43.75), -1.02); // second, negative
    for (double t = 0; t < 18; t += 0.1)
        EXPECT_LT(std::fabs(SimConverter::VoltsAt(t)), 0.5) << t;
}

TEST(SimConverter, UnpluggedConverterIsNotOnTheBus)
{
    Clock clock;
    SimConverter::SetPresent(false);
    EXPECT_EQ(FindConverter(), nullptr);
    SimConverter::SetPresent(true);
    EXPECT_NE(FindConverter(), nullptr);
}

} // namespace

TEST(FakeClock, ALoopThatNeverEndsFailsTheTestInsteadOfHanging)
{
    Clock clock;
    clock.runaway.SetLimit(1000);
    // Waits for a tick that a clock moved only by sleeps never brings.
    EXPECT_NONFATAL_FAILURE(
        {
            try {
                const uint32_t start = Host().TickCount();
                while (Host().TickCount() - start < 10)
                    Host().ProcessMessages();
            } catch (const RunawayLoop&) {
            }
        },
        "never ends");
}
