// A simulated instrument hosted on a pseudo-terminal, driven through the
// program's serial port component as a protocol class would drive it: a toy
// that streams on its own and stops at a byte arriving mid-stream, and a toy
// exchange that asks the user Retry/Cancel when the instrument stays silent.
#include "platform/Prompt.h"
#include "serial/ComPort.h"
#include "sim/PtyPeer.h"
#include "sim/SimInstrument.h"
#include "tests/support/ScriptedPrompt.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>

namespace {

constexpr char STX = 0x02, ETX = 0x03, BEL = 0x07;

// After "g" it sends the frame STX "F<n>" ETX every 100 ms, n counting from 1,
// until BEL arrives; then one STX "END" ETX and silence.
class ToyStreamer final : public ISimInstrument {
public:
    static constexpr int64_t PeriodMs = 100;
    int framesSent = 0;
    bool streaming = false;
    bool ended = false;

    void OnByte(uint8_t byte, ISimLine& line) override
    {
        if (byte == 'g' && !streaming && !ended) {
            streaming = true;
            next_ = line.NowMs();
        } else if (byte == uint8_t(BEL) && streaming) {
            streaming = false;
            ended = true;
            line.Send(std::string(1, STX) + "END" + ETX);
        }
    }
    void OnTick(ISimLine& line) override
    {
        if (!streaming || line.NowMs() < next_)
            return;
        ++framesSent;
        line.Send(std::string(1, STX) + "F" + std::to_string(framesSent) + ETX);
        next_ += PeriodMs;
    }

private:
    int64_t next_ = 0;
};

// Answers "?" with "!" except for the first `ignore` requests, which it lets
// pass in silence.
class ToyResponder final : public ISimInstrument {
public:
    explicit ToyResponder(int ignore) : ignore_(ignore) {}
    int requests = 0;
    void OnByte(uint8_t byte, ISimLine& line) override
    {
        if (byte != '?')
            return;
        if (++requests > ignore_)
            line.Send("!");
    }

private:
    int ignore_;
};

// The shape of a protocol class's exchange: ask, wait for the answer, and
// when none comes let the user retry or give up.
bool ToyQuery(TCustomComPort& port)
{
    for (;;) {
        port.WriteChar('?');
        try {
            if (port.ReadChar() == '!')
                return true;
        } catch (const EComError&) {
            // no answer within the read time-out
        }
        if (!Prompt().RetryCancel("No answer from the toy instrument !", "Error"))
            return false;
    }
}

class SimInstrumentTest : public ::testing::Test {
protected:
    PtyPeer peer;
    TComPort port;

    void OpenPort(int readConstantMs)
    {
        port.DeviceName(peer.SlavePath());
        port.Timeouts->ReadInterval(0);
        port.Timeouts->ReadMultiplier(0);
        port.Timeouts->ReadConstant(readConstantMs);
        port.Open();
    }
    std::string ReadFrame() { return port.ReadUntil(uint8_t(ETX)); }
    static std::string Frame(const std::string& body) { return std::string(1, STX) + body + ETX; }
};

TEST_F(SimInstrumentTest, AToyStreamsAFrameEvery100msUntilItReceivesTheStopByte)
{
    ToyStreamer toy;
    peer.Host(toy).Start();
    OpenPort(3000);
    port.WriteChar('g');

    using Clock = std::chrono::steady_clock;
    std::vector<Clock::time_point> arrivals;
    for (int n = 1; n <= 4; ++n) {
        EXPECT_EQ(ReadFrame(), Frame("F" + std::to_string(n)));
        arrivals.push_back(Clock::now());
    }
    // Spaced by the instrument's own clock: never much sooner than its period
    // (a busy machine may only make them later).
    const auto span = arrivals.back() - arrivals.front();
    EXPECT_GE(span, std::chrono::milliseconds(3 * ToyStreamer::PeriodMs - 30));

    // The stop byte arrives while it streams: frames already on their way are
    // read past, then its closing frame ends the stream.
    port.WriteChar(BEL);
    int lastSeen = 4;
    for (;;) {
        const std::string f = ReadFrame();
        if (f == Frame("END"))
            break;
        ASSERT_EQ(f, Frame("F" + std::to_string(lastSeen + 1)));
        ++lastSeen;
    }
    int sent = -1;
    bool streaming = true;
    peer.WithInstrument([&] {
        sent = toy.framesSent;
        streaming = toy.streaming;
    });
    EXPECT_FALSE(streaming);
    EXPECT_EQ(sent, lastSeen); // nothing was sent after the closing frame
    EXPECT_EQ(port.InputCount(), 0u);
    EXPECT_FALSE(peer.Failed()) << peer.Failure();
}

TEST_F(SimInstrumentTest, SettingsChangedThroughWithInstrumentReachTheRunningInstrument)
{
    ToyStreamer toy;
    peer.Host(toy).Start();
    OpenPort(3000);
    // Already ended: a "g" now starts nothing.
    peer.WithInstrument([&] { toy.ended = true; });
    port.WriteChar('g');
    port.WriteChar('?');
    ASSERT_TRUE(WaitUntil([&] { return peer.Received() == "g?"; }));
    int sent = -1;
    peer.WithInstrument([&] { sent = toy.framesSent; });
    EXPECT_EQ(sent, 0);
}

TEST_F(SimInstrumentTest, ASilentInstrumentIsRetriedWhenTheUserSaysRetry)
{
    ToyResponder toy(1);
    peer.Host(toy).Start();
    OpenPort(200);
    ScriptedPrompt prompt;
    prompt.Press(TPromptResult::Retry);

    EXPECT_TRUE(ToyQuery(port));

    ASSERT_EQ(prompt.shown().size(), 1u);
    EXPECT_EQ(prompt.shown()[0].text, "No answer from the toy instrument !");
    EXPECT_EQ(prompt.shown()[0].caption, "Error");
    EXPECT_EQ(prompt.shown()[0].buttons, TPromptButtons::RetryCancel);
    EXPECT_EQ(prompt.shown()[0].icon, TPromptIcon::Error);
    EXPECT_EQ(prompt.pending(), 0u);
    EXPECT_EQ(peer.Received(), "??");
}

TEST_F(SimInstrumentTest, CancelGivesUpAfterTheFirstSilence)
{
    ToyResponder toy(1000);
    peer.Host(toy).Start();
    OpenPort(200);
    ScriptedPrompt prompt;
    prompt.Press(TPromptResult::Cancel);

    EXPECT_FALSE(ToyQuery(port));
    EXPECT_EQ(prompt.shown().size(), 1u);
    EXPECT_EQ(peer.Received(), "?");
}

TEST(SilentPrompt, WithoutAnInstalledPromptEveryBoxIsAnsweredAsClosed)
{
    IPrompt* old = SetPrompt(nullptr);
    struct Restore {
        IPrompt* p;
        ~Restore() { SetPrompt(p); }
    } restore{old};
    EXPECT_FALSE(Prompt().RetryCancel("text", "Error"));
    EXPECT_FALSE(Prompt().OkCancel("text", "Query"));
    EXPECT_EQ(Prompt().Ask("text", "Info", TPromptButtons::Ok, TPromptIcon::Information), TPromptResult::Ok);
    QString value = "kept";
    EXPECT_FALSE(Prompt().InputText("Comment", "Comment", value));
    EXPECT_EQ(value, "kept");
}

TEST(ScriptedPromptTest, AnswersInOrderAndRestoresThePreviousPrompt)
{
    IPrompt* before = &Prompt();
    {
        ScriptedPrompt prompt;
        EXPECT_EQ(&Prompt(), &prompt);
        prompt.Type("first").CancelInput().Press(TPromptResult::Ok);
        QString v;
        EXPECT_TRUE(Prompt().InputText("Comment", "Enter comment", v));
        EXPECT_EQ(v, "first");
        EXPECT_FALSE(Prompt().InputText("Comment", "Enter comment", v));
        EXPECT_EQ(v, "first");
        EXPECT_TRUE(Prompt().OkCancel("Overwrite ?", "Query"));
        Prompt().Message("Done", "Info"); // OK-only boxes need no answer
        ASSERT_EQ(prompt.shown().size(), 4u);
        EXPECT_TRUE(prompt.shown()[0].input);
        EXPECT_EQ(prompt.shown()[3].caption, "Info");
    }
    EXPECT_EQ(&Prompt(), before);
}

} // namespace
