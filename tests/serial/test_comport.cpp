// The port component against real pseudo-terminals: a PtyPeer plays the
// instrument at the far end.
#include "serial/ComPort.h"
#include "serial/SerialDevice.h"
#include "sim/PtyPeer.h"

#include <gtest/gtest.h>

#include <asm/termbits.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

int64_t MsSince(Clock::time_point t0)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count();
}

// Runs `f`, expects an EComError, and returns it with the time it took.
template <class F>
EComError ExpectComError(F&& f, int64_t* elapsedMs = nullptr)
{
    const auto t0 = Clock::now();
    try {
        f();
    } catch (const EComError& e) {
        if (elapsedMs)
            *elapsedMs = MsSince(t0);
        return e;
    }
    ADD_FAILURE() << "no EComError raised";
    return EComError(-1, "none");
}

// Waits until the port has `n` bytes waiting (the pty hands bytes over a
// moment after they were written).
bool WaitForInput(TCustomComPort& port, size_t n, int timeoutMs = 2000)
{
    const auto t0 = Clock::now();
    while (MsSince(t0) < timeoutMs) {
        if (port.InputCount() >= n)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return false;
}

// Waits until `n` bytes sent by the far end wait at the slave side (before
// the port is open), looked at through a descriptor of our own.
bool WaitForSlaveInput(const std::string& path, int n, int timeoutMs = 2000)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return false;
    const auto t0 = Clock::now();
    int waiting = 0;
    while (ioctl(fd, FIONREAD, &waiting) == 0 && waiting < n && MsSince(t0) < timeoutMs)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    ::close(fd);
    return waiting >= n;
}

// The line settings of a pty slave as seen from a descriptor of our own.
termios2 SlaveSettings(int fd)
{
    termios2 t{};
    EXPECT_EQ(ioctl(fd, TCGETS2, &t), 0);
    return t;
}

class ComPortTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        port.DeviceName(peer.SlavePath());
        // Short limits keep the suite quick; each test sets what it measures.
        port.Timeouts->ReadInterval(0);
        port.Timeouts->ReadMultiplier(0);
        port.Timeouts->ReadConstant(300);
        port.Timeouts->WriteMultiplier(0);
        port.Timeouts->WriteConstant(500);
    }
    PtyPeer peer;
    TComPort port;
};

// --- open, close, names ------------------------------------------------------

TEST_F(ComPortTest, OpenAndCloseMoveBetweenTheTwoStatesAndCallTheEvents)
{
    std::string log;
    port.BeforeOpen = [&](TCustomComPort&) { log += "BO "; };
    port.AfterOpen = [&](TCustomComPort& p) { log += p.Active() ? "AO+ " : "AO- "; };
    port.BeforeClose = [&](TCustomComPort& p) { log += p.Active() ? "BC+ " : "BC- "; };
    port.AfterClose = [&](TCustomComPort& p) { log += p.Active() ? "AC+ " : "AC- "; };
    EXPECT_FALSE(port.Active());
    port.Open();
    EXPECT_TRUE(port.Active());
    port.Open(); // already open: nothing happens
    port.Close();
    EXPECT_FALSE(port.Active());
    port.Close(); // already closed: nothing happens
    EXPECT_EQ(log, "BO AO+ BC+ AC- ");
    port.Active(true);
    EXPECT_TRUE(port.Active());
    port.Active(false);
    EXPECT_FALSE(port.Active());
}

TEST_F(ComPortTest, OpenOfAMissingDeviceRaisesTheSystemErrorAndLeavesThePortClosed)
{
    port.DeviceName("/dev/ulmaro-no-such-port");
    const EComError e = ExpectComError([&] { port.Open(); });
    EXPECT_EQ(e.Code, ENOENT);
    EXPECT_STREQ(e.what(), std::strerror(ENOENT));
    EXPECT_FALSE(port.Active());
    // Nothing is held: the right name opens at once.
    port.DeviceName(peer.SlavePath());
    port.Open();
    EXPECT_TRUE(port.Active());
}

TEST_F(ComPortTest, OpenOfSomethingThatIsNoSerialDeviceFailsCleanly)
{
    port.DeviceName("/dev/null");
    const EComError e = ExpectComError([&] { port.Open(); });
    EXPECT_NE(e.Code, 0);
    EXPECT_FALSE(port.Active());
}

TEST_F(ComPortTest, ASecondOpenOfTheSameDeviceFindsItBusy)
{
    port.Open();
    TComPort second;
    second.DeviceName(peer.SlavePath());
    const EComError e = ExpectComError([&] { second.Open(); });
    EXPECT_EQ(e.Code, EBUSY);
    EXPECT_STREQ(e.what(), std::strerror(EBUSY));
    EXPECT_FALSE(second.Active());
    // The first owner is undisturbed; once it lets go the second gets it.
    peer.WriteNow("x");
    EXPECT_EQ(port.ReadByte(), 'x');
    port.Close();
    second.Open();
    EXPECT_TRUE(second.Active());
}

TEST_F(ComPortTest, DeviceNameChangesOnlyWhileClosed)
{
    port.Open();
    port.DeviceName(peer.SlavePath()); // the same name: accepted silently
    const EComError e = ExpectComError([&] { port.DeviceName("/dev/ttyS7"); });
    EXPECT_EQ(e.Code, 0);
    EXPECT_STREQ(e.what(), "Can't perform this operation on an open port");
    EXPECT_EQ(port.DeviceName(), peer.SlavePath());
    EXPECT_TRUE(port.Active());
    port.Close();
    port.DeviceName("/dev/ttyS7");
    EXPECT_EQ(port.DeviceName(), "/dev/ttyS7");
    EXPECT_EQ(port.ShortDeviceName(), "ttyS7");
    port.DeviceName("/tmp/odd/path");
    EXPECT_EQ(port.ShortDeviceName(), "/tmp/odd/path");
}

TEST_F(ComPortTest, ReadsAndWritesOnAClosedPortAreRefused)
{
    for (auto op : std::initializer_list<std::function<void()>>{
             [&] { port.ReadByte(); }, [&] { port.ReadString(); }, [&] { port.ReadUntil(3); },
             [&] { port.WriteByte(1); }, [&] { port.WriteString(""); }, [&] { port.InputCount(); }}) {
        const EComError e = ExpectComError(op);
        EXPECT_EQ(e.Code, 0);
        EXPECT_STREQ(e.what(), "Can't perform this operation on a closed port");
    }
}

TEST_F(ComPortTest, OnErrorMayTurnAnErrorIntoASilentAbort)
{
    port.OnError = [](TCustomComPort&, const EComError& e, TComAction& action) {
        if (e.Code == 0)
            action = caAbort;
    };
    EXPECT_THROW(port.ReadByte(), EComAbort);
    port.DeviceName("/dev/ulmaro-no-such-port");
    EXPECT_THROW(port.Open(), EComError); // the handler lets this one fail
}

TEST_F(ComPortTest, BytesThatArrivedBeforeOpenAreDiscarded)
{
    peer.WriteNow("stale");
    ASSERT_TRUE(WaitForSlaveInput(peer.SlavePath(), 5));
    port.Open();
    EXPECT_EQ(port.InputCount(), 0u);
    peer.WriteNow("A");
    EXPECT_EQ(port.ReadByte(), 'A');
    // The same after a close and reopen.
    port.Close();
    peer.WriteNow("old");
    ASSERT_TRUE(WaitForSlaveInput(peer.SlavePath(), 3));
    port.Open();
    EXPECT_EQ(port.ReadString(), "");
}

// --- read limits -------------------------------------------------------------

TEST_F(ComPortTest, ReadByteGivesUpAfterMultiplierPlusConstantAndThePortStaysUsable)
{
    port.Timeouts->ReadMultiplier(100);
    port.Timeouts->ReadConstant(200);
    port.Open();
    int64_t ms = 0;
    const EComError e = ExpectComError([&] { port.ReadByte(); }, &ms);
    EXPECT_EQ(e.Code, 0);
    EXPECT_STREQ(e.what(), "Timeout");
    EXPECT_GE(ms, 300);
    EXPECT_LT(ms, 300 + 1000); // slack for a busy machine
    EXPECT_TRUE(port.Active());
    peer.WriteNow("\x42");
    EXPECT_EQ(port.ReadByte(), 0x42);
}

TEST_F(ComPortTest, TheTotalLimitGrowsWithTheByteCount)
{
    port.Timeouts->ReadMultiplier(60);
    port.Timeouts->ReadConstant(100);
    port.Open();
    peer.WriteNow("ab");
    char buf[5];
    int64_t ms = 0;
    const EComError e = ExpectComError([&] { port.Read(buf, 5, true); }, &ms);
    EXPECT_STREQ(e.what(), "Timeout");
    EXPECT_GE(ms, 60 * 5 + 100);
    EXPECT_LT(ms, 60 * 5 + 100 + 1000); // slack for a busy machine
}

TEST_F(ComPortTest, TheIntervalLimitStartsWithTheFirstByte)
{
    port.Timeouts->ReadInterval(80);
    port.Timeouts->ReadConstant(3000);
    port.Open();
    // Silent line: only the total limit can end the read.
    port.Timeouts->ReadConstant(350);
    int64_t ms = 0;
    ExpectComError([&] { port.ReadByte(); }, &ms);
    EXPECT_GE(ms, 350);
    // One byte, then silence: the gap after it ends the read long before
    // the total limit.
    port.Timeouts->ReadConstant(3000);
    peer.WriteNow("1");
    char buf[3];
    const EComError e = ExpectComError([&] { port.Read(buf, 3, true); }, &ms);
    EXPECT_STREQ(e.what(), "Timeout");
    EXPECT_GE(ms, 80);
    EXPECT_LT(ms, 80 + 1000); // slack for a busy machine
}

TEST_F(ComPortTest, BytesSpacedWithinTheIntervalAllArrive)
{
    port.Timeouts->ReadInterval(150);
    port.Timeouts->ReadConstant(3000);
    port.Open();
    peer.SendSpaced("wxyz", 40).Start();
    char buf[4];
    port.Read(buf, 4, true);
    EXPECT_EQ(std::string(buf, 4), "wxyz");
}

TEST_F(ComPortTest, WithEveryReadLimitOffAReadWaitsForItsBytes)
{
    port.Timeouts->ReadConstant(0);
    port.Open();
    peer.Send("late", 250).Start();
    const auto t0 = Clock::now();
    char buf[4];
    port.Read(buf, 4, true);
    EXPECT_GE(MsSince(t0), 240);
    EXPECT_EQ(std::string(buf, 4), "late");
}

TEST_F(ComPortTest, TimeoutsSetWhileClosedTakeEffectAtTheNextOpenAndSurviveReopens)
{
    port.Timeouts->ReadConstant(5000);
    port.Timeouts->ReadConstant(120); // closed: remembered for the next Open
    port.Open();
    int64_t ms = 0;
    ExpectComError([&] { port.ReadByte(); }, &ms);
    EXPECT_GE(ms, 120);
    EXPECT_LT(ms, 120 + 1000); // slack for a busy machine
    // Changed while open: the next read uses it.
    port.Timeouts->ReadConstant(250);
    ExpectComError([&] { port.ReadByte(); }, &ms);
    EXPECT_GE(ms, 250);
    EXPECT_LT(ms, 250 + 1000); // slack for a busy machine
    // Still in force after a close and reopen.
    port.Close();
    port.Open();
    EXPECT_EQ(port.Timeouts->ReadConstant(), 250);
    ExpectComError([&] { port.ReadByte(); }, &ms);
    EXPECT_GE(ms, 250);
    EXPECT_LT(ms, 250 + 1000); // slack for a busy machine
}

// --- the read operations -----------------------------------------------------

TEST_F(ComPortTest, ReadStringTakesWhatIsWaitingAndNeverWaits)
{
    port.Timeouts->ReadConstant(3000);
    port.Open();
    auto t0 = Clock::now();
    EXPECT_EQ(port.ReadString(), "");
    EXPECT_LT(MsSince(t0), 1500); // far below the read limit

    peer.WriteNow("12345");
    ASSERT_TRUE(WaitForInput(port, 5));
    peer.SendSpaced("678", 30).Start(); // more on its way
    t0 = Clock::now();
    EXPECT_EQ(port.ReadString(), "12345");
    EXPECT_LT(MsSince(t0), 1500);
}

TEST_F(ComPortTest, ReadUntilStopsAtTheTerminatorAndLeavesTheRestQueued)
{
    port.Open();
    peer.WriteNow(std::string("\x02" "A" "\x03" "B"));
    ASSERT_TRUE(WaitForInput(port, 4));
    EXPECT_EQ(port.ReadUntil(3), std::string("\x02" "A" "\x03"));
    EXPECT_EQ(port.InputCount(), 1u);
    EXPECT_EQ(port.ReadChar(), 'B');
}

TEST_F(ComPortTest, ReadUntilWithoutTerminatorEndsInATimeout)
{
    port.Timeouts->ReadConstant(150);
    port.Open();
    peer.WriteNow("abc");
    const EComError e = ExpectComError([&] { port.ReadUntil(3); });
    EXPECT_STREQ(e.what(), "Timeout");
    EXPECT_TRUE(port.Active());
}

TEST_F(ComPortTest, ReadUntilGivesUpOnALineLongerThanAnyReply)
{
    port.Open();
    std::string longest(kMaxReplyLength - 1, 'a');
    longest += '\x03';
    peer.Send(longest).Send(std::string(kMaxReplyLength + 500, 'b')).Send("\x03").Start();
    EXPECT_EQ(port.ReadUntil(3), longest); // the terminator at the bound still counts
    const EComError e = ExpectComError([&] { port.ReadUntil(3); });
    EXPECT_EQ(e.Code, 0);
    EXPECT_STREQ(e.what(), kMsgReplyTooLong);
    EXPECT_TRUE(port.Active());
    // What was read is dropped; the line goes on where the read stopped.
    EXPECT_EQ(port.ReadUntil(3), std::string(500, 'b') + "\x03");
}

TEST_F(ComPortTest, ReadByteReturnsEveryByteValueUnchanged)
{
    port.Open();
    std::string all;
    for (int i = 0; i < 256; ++i)
        all += char(i);
    peer.WriteNow(all);
    for (int i = 0; i < 256; ++i)
        ASSERT_EQ(port.ReadByte(), uint8_t(i)) << i;
}

// --- writing -----------------------------------------------------------------

TEST_F(ComPortTest, WritesReachTheFarEndUnchanged)
{
    // A write that waited for its limit would show against this one.
    port.Timeouts->WriteConstant(5000);
    port.Open();
    const auto t0 = Clock::now();
    port.WriteChar('\r');
    port.WriteChar('\n'); // waits for the first one, then goes too
    port.WriteByte(0x00);
    port.WriteString(std::string("\x02w2\x03\xff", 5));
    port.WriteString(""); // nothing, no error
    EXPECT_LT(MsSince(t0), 2500);
    EXPECT_EQ(peer.ReadNow(8, 2000), std::string("\r\n\0\x02w2\x03\xff", 8));
}

TEST_F(ComPortTest, AWriteThatCannotFinishInTimeShowsUpAtTheNextWrite)
{
    // Nobody reads at the far end, so a large write cannot leave in time.
    port.Timeouts->WriteConstant(1200);
    port.Open();
    const std::string big(1 << 20, 'x');
    const auto t0 = Clock::now();
    port.WriteString(big); // returns at once, long before its limit
    EXPECT_LT(MsSince(t0), 600);
    int64_t ms = 0;
    const EComError e = ExpectComError([&] { port.WriteChar('y'); }, &ms);
    EXPECT_STREQ(e.what(), "Timeout");
    EXPECT_EQ(e.Code, 0);
    EXPECT_LT(ms, 1200 + 1000);
    // The port stays usable: once the far end reads, writes go through.
    peer.Serve([](uint8_t) { return std::string(); }).Start();
    port.WriteChar('z');
    port.WriteChar('z');
    EXPECT_TRUE(port.Active());
    port.Close();
}

// --- the far end goes away ---------------------------------------------------

TEST_F(ComPortTest, AHangUpDuringAReadEndsItAtOnceWithAnError)
{
    port.Timeouts->ReadConstant(5000);
    port.Open();
    peer.HangUp(100).Start();
    int64_t ms = 0;
    const EComError e = ExpectComError([&] { port.ReadByte(); }, &ms);
    EXPECT_EQ(e.Code, EIO);
    EXPECT_STREQ(e.what(), std::strerror(EIO));
    EXPECT_LT(ms, 100 + 2000); // not the read limit of 5000
    // The port closes without trouble; the vanished device cannot be
    // reopened, another one can.
    EXPECT_NO_THROW(port.Close());
    EXPECT_FALSE(port.Active());
    EXPECT_THROW(port.Open(), EComError);
    EXPECT_FALSE(port.Active());
    PtyPeer other;
    port.DeviceName(other.SlavePath());
    port.Open();
    other.WriteNow("k");
    EXPECT_EQ(port.ReadByte(), 'k');
}

TEST_F(ComPortTest, AReadOnALineThatIsAlreadyGoneFailsAtOnce)
{
    port.Timeouts->ReadConstant(5000);
    port.Open();
    peer.HangUpNow();
    int64_t ms = 0;
    const EComError e = ExpectComError([&] { port.ReadByte(); }, &ms);
    EXPECT_EQ(e.Code, EIO);
    EXPECT_LT(ms, 2000); // not the read limit of 5000
    ExpectComError([&] { port.WriteString("abc"); port.WriteChar('d'); });
    EXPECT_NO_THROW(port.Close());
}

// --- line settings -------------------------------------------------------------

class ComPortLineTest : public ComPortTest {
protected:
    void SetUp() override
    {
        ComPortTest::SetUp();
        // A descriptor of our own on the line, taken before the port claims it.
        own = ::open(peer.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        ASSERT_GE(own, 0);
        termios2 t = SlaveSettings(own);
        t.c_cflag |= CSTOPB | CRTSCTS;
        t.c_iflag |= IXON | IXOFF | ICRNL;
        t.c_lflag |= ICANON | ECHO;
        ASSERT_EQ(ioctl(own, TCSETS2, &t), 0);
    }
    void TearDown() override { ::close(own); }
    int own = -1;
};

TEST_F(ComPortLineTest, DefaultsLeaveTheDeviceAloneButTheLineIsRaw)
{
    port.Open();
    const termios2 t = SlaveSettings(own);
    EXPECT_TRUE(t.c_cflag & CSTOPB);
    EXPECT_TRUE(t.c_cflag & CRTSCTS);
    EXPECT_TRUE(t.c_iflag & IXON);
    EXPECT_TRUE(t.c_iflag & IXOFF);
    EXPECT_FALSE(t.c_lflag & (ICANON | ECHO));
    EXPECT_FALSE(t.c_iflag & ICRNL);
    EXPECT_EQ(t.c_cc[VMIN], 1);
    EXPECT_EQ(t.c_cc[VTIME], 0);
    // Raw means a carriage return comes through as it is.
    peer.WriteNow("\r");
    EXPECT_EQ(port.ReadByte(), '\r');
}

TEST_F(ComPortLineTest, TheFormsSettingsSetSpeedAndDataBitsAndClearFlowControl)
{
    port.BaudRate(br2400);
    port.DataBits(db8);
    port.FlowControl->DTR(dcDisable);
    port.FlowControl->RTS(rcDisable);
    port.FlowControl->XOnXOff(xcDisable);
    port.Open();
    termios2 t = SlaveSettings(own);
    EXPECT_EQ(t.c_ospeed, 2400u);
    EXPECT_EQ(t.c_cflag & CSIZE, tcflag_t(CS8));
    EXPECT_TRUE(t.c_cflag & CSTOPB); // stop bits left to the device
    EXPECT_FALSE(t.c_cflag & CRTSCTS);
    EXPECT_FALSE(t.c_iflag & (IXON | IXOFF));
    // A change while open is applied at once.
    port.BaudRate(br9600);
    EXPECT_EQ(SlaveSettings(own).c_ospeed, 9600u);
    port.StopBits(sb1);
    EXPECT_FALSE(SlaveSettings(own).c_cflag & CSTOPB);
    port.FlowControl->XOnXOff(xcOutput);
    t = SlaveSettings(own);
    EXPECT_TRUE(t.c_iflag & IXON);
    EXPECT_FALSE(t.c_iflag & IXOFF);
    port.CustomBaudRate(10400);
    port.BaudRate(brCustom);
    EXPECT_EQ(SlaveSettings(own).c_ospeed, 10400u);
}

// Tools that read the line through the old interface (stty, minicom) see
// only the speed bits: a standard rate must carry its own constant there,
// and only a rate without one may fall back to BOTHER.
TEST_F(ComPortLineTest, StandardRatesUseTheirOwnSpeedConstant)
{
    const struct {
        TBaudRate rate;
        int32_t custom;
        uint32_t baud;
        tcflag_t bits;
    } cases[] = {
        {br2400, 0, 2400, B2400},       {br9600, 0, 9600, B9600},   {br115200, 0, 115200, B115200},
        {br50, 0, 50, B50},             {br2000, 0, 2000, BOTHER},  {br10400, 0, 10400, BOTHER},
        {brCustom, 4800, 4800, B4800},  {brCustom, 12345, 12345, BOTHER},
    };
    port.Open();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.baud);
        port.CustomBaudRate(c.custom);
        port.BaudRate(c.rate);
        const termios2 t = SlaveSettings(own);
        EXPECT_EQ(t.c_cflag & CBAUD, c.bits);
        EXPECT_EQ(t.c_ospeed, c.baud);
        // The old call sees the same speed bits.
        struct termios old {};
        ASSERT_EQ(ioctl(own, TCGETS, &old), 0);
        EXPECT_EQ(old.c_cflag & CBAUD, c.bits);
        // What the port reads back is the rate it set.
        TDeviceLineSettings rec{};
        ASSERT_EQ(ProbeLineSettings(peer.SlavePath(), rec), 0);
        EXPECT_EQ(rec.BaudRate, c.baud);
    }
}

TEST_F(ComPortLineTest, SettingsChangedWhileClosedWaitForTheNextOpen)
{
    port.BaudRate(br4800);
    EXPECT_NE(SlaveSettings(own).c_ospeed, 4800u);
    port.Open();
    EXPECT_EQ(SlaveSettings(own).c_ospeed, 4800u);
}

TEST_F(ComPortLineTest, AConfirmedDialogMakesEverySettingExplicitAndAppliesIt)
{
    port.BaudRate(br2400);
    port.DataBits(db8);
    port.Open();
    TDeviceLineSettings shown;
    std::string shownName;
    TCustomComPort::ConfigDialogHook = [&](const std::string& name, TDeviceLineSettings& rec) {
        shown = rec;
        shownName = name;
        rec.BaudRate = 19200;
        rec.Parity = 0;
        rec.StopBits = 0;
        rec.RtsControl = 0;
        rec.OutX = rec.InX = false;
        return true;
    };
    EXPECT_TRUE(port.ConfigDialog());
    TCustomComPort::ConfigDialogHook = nullptr;
    EXPECT_EQ(shownName, port.ShortDeviceName());
    EXPECT_EQ(shown.BaudRate, 2400u); // starts from what is in force
    EXPECT_EQ(shown.ByteSize, 8);
    EXPECT_EQ(shown.StopBits, 2);
    EXPECT_EQ(port.BaudRate(), brCustom);
    EXPECT_EQ(port.CustomBaudRate(), 19200);
    EXPECT_EQ(port.Parity(), paNone); // code 0 gives the specific member
    EXPECT_EQ(port.StopBits(), sb1);
    EXPECT_EQ(port.DataBits(), db8);
    EXPECT_EQ(port.FlowControl->RTS(), rcDisable);
    EXPECT_EQ(port.FlowControl->XOnXOff(), xcDisable);
    const termios2 t = SlaveSettings(own);
    EXPECT_EQ(t.c_ospeed, 19200u);
    EXPECT_FALSE(t.c_cflag & (CSTOPB | CRTSCTS));
    EXPECT_FALSE(t.c_iflag & (IXON | IXOFF));
    // Kept through a close and reopen.
    port.Close();
    port.Open();
    EXPECT_EQ(SlaveSettings(own).c_ospeed, 19200u);
}

TEST_F(ComPortLineTest, ACancelledDialogChangesNothing)
{
    port.BaudRate(br2400);
    TCustomComPort::ConfigDialogHook = [](const std::string&, TDeviceLineSettings& rec) {
        rec.BaudRate = 300;
        return false;
    };
    EXPECT_FALSE(port.ConfigDialog()); // closed port: starts from the device
    TCustomComPort::ConfigDialogHook = nullptr;
    EXPECT_EQ(port.BaudRate(), br2400);
    EXPECT_EQ(port.Parity(), paDefault);
    port.DeviceName("/dev/ulmaro-no-such-port");
    const EComError e = ExpectComError([&] { port.ConfigDialog(); });
    EXPECT_EQ(e.Code, ENOENT);
}

TEST(ComPortSettings, RecordsCarryOnlyWhatTheComponentDecides)
{
    TComPort port;
    TDeviceLineSettings device;
    device.BaudRate = 1200;
    device.ByteSize = 7;
    device.Parity = 2;
    device.StopBits = 2;
    device.DtrControl = 1;
    device.RtsControl = 2;
    device.OutX = true;
    TDeviceLineSettings rec = device;
    port.SettingsToRecord(rec);
    EXPECT_EQ(rec.BaudRate, 1200u);
    EXPECT_EQ(rec.ByteSize, 7);
    EXPECT_EQ(rec.Parity, 2);
    EXPECT_EQ(rec.StopBits, 2);
    EXPECT_EQ(rec.RtsControl, 2);
    EXPECT_TRUE(rec.OutX);
    EXPECT_FALSE(rec.fParity); // options are always written

    port.BaudRate(br2400);
    port.DataBits(db8);
    port.Parity(paMark);
    port.StopBits(sb1_5);
    port.FlowControl->DTR(dcDisable);
    port.FlowControl->RTS(rcToggle);
    port.FlowControl->XOnXOff(xcInput);
    port.Options({opCheckParity, opAbortOnError});
    rec = device;
    port.SettingsToRecord(rec);
    EXPECT_EQ(rec.BaudRate, 2400u);
    EXPECT_EQ(rec.ByteSize, 8);
    EXPECT_EQ(rec.Parity, 3);
    EXPECT_EQ(rec.StopBits, 1);
    EXPECT_EQ(rec.DtrControl, 0);
    EXPECT_EQ(rec.RtsControl, 3);
    EXPECT_FALSE(rec.OutX);
    EXPECT_TRUE(rec.InX);
    EXPECT_TRUE(rec.fParity);
    EXPECT_TRUE(rec.fAbortOnError);
    EXPECT_FALSE(rec.fNull);

    // Back again: every member explicit.
    TComPort other;
    other.RecordToSettings(rec);
    EXPECT_EQ(other.BaudRate(), brCustom);
    EXPECT_EQ(other.CustomBaudRate(), 2400);
    EXPECT_EQ(other.DataBits(), db8);
    EXPECT_EQ(other.Parity(), paMark);
    EXPECT_EQ(other.StopBits(), sb1_5);
    EXPECT_EQ(other.FlowControl->DTR(), dcDisable);
    EXPECT_EQ(other.FlowControl->RTS(), rcToggle);
    EXPECT_EQ(other.FlowControl->XOnXOff(), xcInput);
    EXPECT_EQ(other.Options(), (TOptions{opCheckParity, opAbortOnError}));
}

TEST(ComPortSettings, TheDefaultsOfAFreshPort)
{
    TComPort port;
    EXPECT_FALSE(port.Active());
    EXPECT_EQ(port.BaudRate(), brDefault);
    EXPECT_EQ(port.DataBits(), dbDefault);
    EXPECT_EQ(port.Parity(), paDefault);
    EXPECT_EQ(port.StopBits(), sbDefault);
    EXPECT_EQ(port.FlowControl->DTR(), dcDefault);
    EXPECT_EQ(port.Characters->XOn(), 0x11);
    EXPECT_EQ(port.Characters->XOff(), 0x13);
    EXPECT_EQ(port.BufferSizes->Input(), 4096);
    EXPECT_EQ(port.BufferSizes->Output(), 2048);
    EXPECT_EQ(port.Timeouts->Record(), TDeviceTimeouts{});
    EXPECT_TRUE(port.Options().Empty());
    EXPECT_EQ(BaudRateValue(br2400), 2400u);
    EXPECT_EQ(BaudRateValue(br256000), 256000u);
    EXPECT_EQ(BaudRateValue(brCustom), 0u);
}

TEST(ComPortList, PortsAreAppendedByShortNameAfterWhatIsThere)
{
    QStringList list{"first"};
    TCustomComPort::EnumComDevicesFromRegistry(list);
    ASSERT_GE(list.size(), 1);
    EXPECT_EQ(list.front(), "first");
    for (const QString& name : list)
        EXPECT_FALSE(name.startsWith("/dev/")) << name.toStdString();
}

} // namespace
