// The tera-ohmmeter and the charge plate monitor when the line goes wrong:
// the far end hangs up in the middle of an exchange, goes silent, answers
// noise or half a frame. A reading is started the way a button click
// reaches it; each fault must end in one message, and the next reading
// must work once the fault is gone, with no descriptor lost. The monitor's
// read-out file and the tera-ohmmeter's measurement file must survive a
// lock held by another program, a read-only file and a full disk.
#include "cpm/C_CPM_EF.h"
#include "ohmra/C_Ohmra.h"
#include "ohmra/OhmraFiles.h"
#include "serial/ComPort.h"
#include "sim/PtyPeer.h"
#include "sim/SimKarvo.h"
#include "sim/SimOhmra.h"
#include "tests/faults/FaultSupport.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace {

// A simulated instrument on its own line with the port open on it.
template <class Sim>
struct Line {
    Sim sim;
    PtyPeer peer;
    TComPort& port;
    Line(TComPort& p, int readTimeoutMs) : port(p)
    {
        peer.Host(sim, 2);
        peer.Start();
        port.Close();
        port.DeviceName(peer.SlavePath());
        port.Open();
        port.Timeouts->ReadConstant(readTimeoutMs);
    }
    ~Line()
    {
        port.Close();
        peer.Stop();
    }
    void Set(const std::function<void(Sim&)>& f)
    {
        peer.WithInstrument([&] { f(sim); });
    }
};

class SerialFaults : public ::testing::Test {
protected:
    // Runs one reading as a click would and returns the messages it showed.
    QStringList Reading(const std::function<void()>& read)
    {
        const size_t p0 = prompt.shown().size(), b0 = boxes.shown.size();
        boxes.Click(read);
        return MessagesSince(prompt, p0, boxes, b0);
    }
    TComPort port;
    ScriptedPrompt prompt;
    ErrorBoxes boxes;
};

} // namespace

TEST_F(SerialFaults, OhmraEachFaultShowsOneMessageAndTheNextMeasurementWorks)
{
    using F = SimOhmra::Fault;
    struct Case {
        F fault;
        const char* name;
    };
    // Silence, noise and half a frame end in the port's error; a wrong
    // checksum asks once whether to retry (answered Cancel); a refusal (NAK)
    // or a frame announcing too short a length is one message as well.
    const Case cases[] = {{F::Silence, "silence"},     {F::Garbage, "garbage"},       {F::HalfFrame, "half frame"},
                          {F::WrongChecksum, "checksum"}, {F::NoStx, "no STX"},      {F::ShortLength, "short length"}};
    auto line = std::make_unique<Line<SimOhmra>>(port, 600);
    C_Ohmra ohmra(port);
    ASSERT_EQ(ohmra.Measure("C004"), 0);
    const int fds = OpenDescriptors();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        line->Set([&](SimOhmra& s) { s.Faults = {c.fault}; });
        if (c.fault == F::WrongChecksum)
            prompt.Press(TPromptResult::Cancel);
        int result = -1;
        const QStringList shown = Reading([&] { result = ohmra.Measure("C004"); });
        // A refused exchange without a message is the Part's "silent failure"
        // for NAK and noise; anything shown must be shown once.
        EXPECT_LE(shown.size(), 1) << shown.join(" | ").toStdString();
        EXPECT_NE(result, 0);
        // Fault gone: the very next measurement works, whatever the fault
        // left on the line.
        line->Set([](SimOhmra& s) { s.Faults.clear(); });
        int next = -1;
        const QStringList after = Reading([&] { next = ohmra.Measure("C004"); });
        EXPECT_TRUE(after.isEmpty()) << after.join(" | ").toStdString();
        EXPECT_EQ(next, 0);
    }
    EXPECT_EQ(OpenDescriptors(), fds);

    // The far end hangs up after the command: one error box; a new line
    // (the cable back, the menu entry reopening the port) measures again.
    line->Set([](SimOhmra& s) { s.Faults = {SimOhmra::Fault::HangUp}; });
    const QStringList shown = Reading([&] { ohmra.Measure("C004"); });
    EXPECT_EQ(shown.size(), 1) << shown.join(" | ").toStdString();
    line.reset();
    line = std::make_unique<Line<SimOhmra>>(port, 600);
    EXPECT_EQ(ohmra.Measure("C004"), 0);
    EXPECT_EQ(OpenDescriptors(), fds);
}

TEST_F(SerialFaults, MonitorDisplayReadSurvivesEveryFault)
{
    auto line = std::make_unique<Line<SimKarvo>>(port, 600);
    C_CPM_EF cpm(port);
    double value = 0;
    QString unit;
    cpm.ReadDisplay(value, unit);
    ASSERT_LT(value, 9998);
    const int fds = OpenDescriptors();
    const std::pair<const char*, std::function<void(SimKarvo&, bool)>> faults[] = {
        {"silent", [](SimKarvo& s, bool on) { s.Silent = on; }},
        {"garbage", [](SimKarvo& s, bool on) { s.Garbage = on; }},
        {"babble", [](SimKarvo& s, bool on) { s.Babble = on; }},
        {"no STX", [](SimKarvo& s, bool on) { s.OmitStx = on; }},
    };
    for (const auto& [name, set] : faults) {
        SCOPED_TRACE(name);
        line->Set([&](SimKarvo& s) { set(s, true); });
        const QStringList shown = Reading([&] { cpm.ReadDisplay(value, unit); });
        EXPECT_LE(shown.size(), 1) << shown.join(" | ").toStdString();
        line->Set([&](SimKarvo& s) { set(s, false); });
        // The first read after the fault may still meet its leftovers.
        bool good = false;
        for (int attempt = 0; attempt < 3 && !good; ++attempt) {
            value = 9999;
            Reading([&] { cpm.ReadDisplay(value, unit); });
            good = value < 9998;
        }
        EXPECT_TRUE(good);
    }
    EXPECT_EQ(OpenDescriptors(), fds);

    // Half a reply and the line goes: one error box, then a new line reads.
    line->Set([](SimKarvo& s) { s.HangUpInReply = true; });
    const QStringList shown = Reading([&] { cpm.ReadDisplay(value, unit); });
    EXPECT_EQ(shown.size(), 1) << shown.join(" | ").toStdString();
    line.reset();
    line = std::make_unique<Line<SimKarvo>>(port, 600);
    value = 9999;
    cpm.ReadDisplay(value, unit);
    EXPECT_LT(value, 9998);
    EXPECT_EQ(OpenDescriptors(), fds);
}

TEST_F(SerialFaults, MonitorReadOutLineWaitsForALockedFile)
{
    TempDir dir;
    const std::string path = dir.file("readout.csv");
    dir.write("readout.csv", "header\r\n");
    C_CPM_EF cpm(port);
    cpm.ParseRecord("0110E80364001400170078007B80");
    const QString name = QString::fromStdString(path);
    const int fds = OpenDescriptors();
    {
        LockHolder other(path);
        ASSERT_TRUE(other.Holding());
        // Retry while the other program still holds it, then Cancel.
        prompt.Press(TPromptResult::Retry).Press(TPromptResult::Cancel);
        const size_t p0 = prompt.shown().size();
        EXPECT_EQ(cpm.AppendRecord(name), 1);
        EXPECT_EQ(prompt.shown().size() - p0, 2u); // once per try, the same question
        EXPECT_EQ(CompleteLines(path).size(), 1);
    }
    // The spreadsheet closed: the line goes in whole, with no question.
    const size_t p0 = prompt.shown().size();
    EXPECT_EQ(cpm.AppendRecord(name), 0);
    EXPECT_EQ(prompt.shown().size(), p0);
    EXPECT_EQ(CompleteLines(path).size(), 2);

    // A full disk: asked, cancelled, nothing torn.
    prompt.Press(TPromptResult::Cancel);
    EXPECT_EQ(cpm.AppendRecord("/dev/full"), 1);
    EXPECT_EQ(OpenDescriptors(), fds);
}

TEST_F(SerialFaults, OhmraSaveToALockedReadOnlyOrFullFileLosesNothing)
{
    TempDir dir;
    const std::string path = dir.file("ohmra.csv");
    const QString name = QString::fromStdString(path);
    TOhmraFileStore store;
    store.FirstIndex = store.LastIndex = 0;
    store.OhmraFiles[0].Comment = QStringLiteral("bench 3");
    const QDateTime now(QDate(2024, 5, 17), QTime(9, 5, 3));
    ASSERT_EQ(store.WriteCsv(name, true, 0, now), kOhmraSaveOk);
    const int lines = int(CompleteLines(path).size());
    const int fds = OpenDescriptors();
    auto messagesOf = [&](const std::function<void()>& f) {
        const size_t p0 = prompt.shown().size();
        f();
        return MessagesSince(prompt, p0, boxes, boxes.shown.size(), "File saved");
    };
    {
        LockHolder other(path);
        ASSERT_TRUE(other.Holding());
        const QStringList shown = messagesOf([&] { EXPECT_LT(store.WriteCsv(name, true, 0, now), 0); });
        EXPECT_EQ(shown.size(), 1) << shown.join(" | ").toStdString();
        EXPECT_EQ(int(CompleteLines(path).size()), lines);
    }
    if (MakeReadOnly(path)) {
        const QStringList shown = messagesOf([&] { EXPECT_LT(store.WriteCsv(name, true, 0, now), 0); });
        MakeWritable(path);
        EXPECT_EQ(shown.size(), 1) << shown.join(" | ").toStdString();
        EXPECT_EQ(int(CompleteLines(path).size()), lines);
    }
    // A full disk: the save fails as a whole (the window reports the code).
    EXPECT_LT(store.WriteCsv("/dev/full", true, 0, now), 0);
    // All faults gone: exactly one more whole line.
    EXPECT_EQ(store.WriteCsv(name, true, 0, now), kOhmraSaveOk);
    EXPECT_EQ(int(CompleteLines(path).size()), lines + 1);
    EXPECT_EQ(OpenDescriptors(), fds);
}
