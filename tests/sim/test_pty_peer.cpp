// The scripted far end of a serial line, driven from a plain descriptor on
// its slave side.
#include "sim/PtyPeer.h"
#include "sim/SimInstrument.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

class PtyPeerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        near = ::open(peer.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        ASSERT_GE(near, 0);
    }
    void TearDown() override { ::close(near); }
    void Put(const std::string& s) { ASSERT_EQ(::write(near, s.data(), s.size()), ssize_t(s.size())); }
    // Reads up to n bytes within timeoutMs; stops early at a hang-up.
    std::string Get(size_t n, int timeoutMs, int* error = nullptr)
    {
        std::string out;
        const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (out.size() < n && Clock::now() < end) {
            pollfd p{near, POLLIN, 0};
            poll(&p, 1, 10);
            char buf[64];
            const ssize_t r = ::read(near, buf, std::min(sizeof buf, n - out.size()));
            if (r > 0) {
                out.append(buf, size_t(r));
            } else if (r == 0 || (errno != EAGAIN && errno != EINTR)) {
                if (error)
                    *error = r == 0 ? EIO : errno;
                break;
            }
        }
        return out;
    }
    PtyPeer peer;
    int near = -1;
};

TEST_F(PtyPeerTest, AScriptAnswersWhatItExpects)
{
    peer.Expect("w2").Send("ok", 50).Expect("\x03").Send("bye");
    peer.Start();
    // Taken before the bytes leave: the peer's pause cannot start earlier.
    const auto t0 = Clock::now();
    Put("w2");
    EXPECT_EQ(Get(2, 2000), "ok");
    EXPECT_GE(Clock::now() - t0, std::chrono::milliseconds(45));
    Put("\x03");
    EXPECT_EQ(Get(3, 2000), "bye");
    EXPECT_TRUE(peer.Wait(2000));
    EXPECT_FALSE(peer.Failed()) << peer.Failure();
    EXPECT_EQ(peer.Received(), "w2\x03");
}

TEST_F(PtyPeerTest, AnUnexpectedByteFailsTheScriptAndSaysWhat)
{
    peer.Expect("AB").Send("never");
    peer.Start();
    Put("AX");
    ASSERT_TRUE(peer.Wait(2000));
    EXPECT_TRUE(peer.Failed());
    EXPECT_EQ(peer.Failure(), "expected \"AB\", received \"AX\"");
    EXPECT_EQ(Get(5, 100), "");
}

TEST_F(PtyPeerTest, SilenceWhereBytesWereExpectedFailsAfterItsTime)
{
    peer.Expect("\x05", 100);
    peer.Start();
    ASSERT_TRUE(peer.Wait(2000));
    EXPECT_TRUE(peer.Failed());
    EXPECT_EQ(peer.Failure(), "expected \"\\x05\", timed out");
}

TEST_F(PtyPeerTest, AHangUpIsSeenAtTheNearEnd)
{
    peer.Send("x").HangUp(50);
    peer.Start();
    int error = 0;
    EXPECT_EQ(Get(10, 2000, &error), "x");
    EXPECT_EQ(error, EIO);
    EXPECT_TRUE(peer.HungUp());
    EXPECT_FALSE(peer.WriteNow("late"));
}

TEST_F(PtyPeerTest, ServeAnswersEveryByteUntilStopped)
{
    peer.Serve([](uint8_t c) { return std::string(2, char(c + 1)); }).Start();
    Put("ab");
    EXPECT_EQ(Get(4, 2000), "bbcc");
    peer.Stop();
    Put("c");
    EXPECT_EQ(Get(2, 100), "");
    // The line stays usable from the calling thread once the script is over.
    EXPECT_EQ(peer.ReadNow(1, 1000), "c");
    Put("d");
    EXPECT_EQ(peer.ReadNow(1, 1000), "d");
}

TEST_F(PtyPeerTest, DirectUseWithoutAScript)
{
    EXPECT_TRUE(peer.WriteNow("hi"));
    EXPECT_EQ(Get(2, 1000), "hi");
    Put("abc");
    EXPECT_EQ(peer.ReadNow(2, 1000), "ab");
    // The third byte may reach the master a moment after the first two.
    std::string rest;
    EXPECT_TRUE(WaitUntil([&] {
        rest += peer.TakeReceived();
        return rest == "c";
    })) << rest;
    // The line outlives the near end's close and reopen.
    ::close(near);
    near = ::open(peer.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(near, 0);
    Put("d");
    EXPECT_EQ(peer.ReadNow(1, 1000), "d");
}

// Sends a byte on every tick, for as long as it is hosted.
class Chatterbox final : public ISimInstrument {
public:
    void OnByte(uint8_t, ISimLine&) override {}
    void OnTick(ISimLine& line) override { line.Send("x"); }
};

TEST_F(PtyPeerTest, AHostedInstrumentTalksOnItsOwnUntilStopped)
{
    Chatterbox box;
    peer.Host(box, 1).Start();
    EXPECT_EQ(Get(5, 2000), "xxxxx");
    peer.Stop();
    // Drained, then nothing more comes.
    while (!Get(64, 50).empty()) {
    }
    EXPECT_EQ(Get(1, 100), "");
}

TEST_F(PtyPeerTest, AHangUpUnderARunningInstrumentNeverReachesAFileOpenedAfterIt)
{
    Chatterbox box;
    peer.Host(box, 1).Start();
    ASSERT_EQ(Get(3, 2000), "xxx");
    TempDir dir;
    peer.HangUpNow();
    // Files opened right after the hang-up take the lowest free descriptor
    // numbers; the peer's thread, still sending, must not write into them.
    std::vector<int> fds;
    for (int i = 0; i < 8; ++i)
        fds.push_back(::open(dir.file("f" + std::to_string(i)).c_str(), O_RDWR | O_CREAT, 0600));
    EXPECT_TRUE(peer.Wait(2000));
    peer.Stop();
    for (int fd : fds) {
        ASSERT_GE(fd, 0);
        EXPECT_EQ(::lseek(fd, 0, SEEK_END), 0);
        ::close(fd);
    }
    int error = 0;
    Get(64, 500, &error);
    EXPECT_EQ(error, EIO);
    EXPECT_FALSE(peer.WriteNow("late"));
}

} // namespace
