// The tester's window when things go wrong on the bench: the tester hangs
// up in the middle of its reply, goes silent, answers noise or half a
// reply; the statistics file is read-only, locked by another program or on
// a full disk. Each case: one clear message, the next transfer or save
// works once the fault is gone, no torn or missing line, no descriptor lost.
#include "core/MainLink.h"
#include "core/MainState.h"
#include "gripo/C_Gripo.h"
#include "gripo/TFormGripo.h"
#include "platform/Paths.h"
#include "serial/TFoCom.h"
#include "sim/PtyPeer.h"
#include "sim/SimGripo.h"
#include "tests/faults/FaultSupport.h"
#include "tests/support/ModalDialogs.h"
#include "tests/support/TestSupport.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <gtest/gtest.h>

#include <memory>

namespace {

class GripoFaults : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetSettingsDirectoryOverride(dir.path());
        MainState = &state;
        MainLink().ReturnToMain = [] {};
        MainLink().CloseDisplay = [] {};
        FoCom = new TFoCom();
        FormGripo = new TFormGripo();
        StartTester();
        // One good transfer first: what Qt sets up on first use (its
        // event descriptors) is there for good and no leak of ours.
        Transfer();
        fdsBefore = OpenDescriptors();
    }
    void TearDown() override
    {
        FoCom->ComPort1->Close();
        if (peer)
            peer->Stop();
        delete FormGripo;
        delete FoCom;
        FoCom = nullptr;
        MainState = nullptr;
        MainLink().ReturnToMain = nullptr;
        MainLink().CloseDisplay = nullptr;
        SetSettingsDirectoryOverride("");
    }
    // A tester on a fresh line, and the port opened on it the way the
    // device menu's Gripo entry does.
    void StartTester()
    {
        FoCom->ComPort1->Close();
        if (peer)
            peer->Stop();
        peer = std::make_unique<PtyPeer>();
        sim = std::make_unique<SimGripo>();
        sim->Total = 41;
        sim->WristLow = 4;
        peer->Host(*sim);
        peer->Start();
        FoCom->ComPort1->DeviceName(peer->SlavePath());
        FoCom->ComPort1->Open();
        FoCom->ComPort1->Timeouts->ReadConstant(1500);
    }
    // A line played by a script instead of the tester.
    void StartScript(const std::function<void(PtyPeer&)>& script)
    {
        FoCom->ComPort1->Close();
        peer->Stop();
        peer = std::make_unique<PtyPeer>();
        script(*peer);
        peer->Start();
        FoCom->ComPort1->DeviceName(peer->SlavePath());
        FoCom->ComPort1->Open();
        FoCom->ComPort1->Timeouts->ReadConstant(1500);
    }
    // Start as the user clicks it, the instruction box confirmed.
    void Transfer()
    {
        ASSERT_TRUE(FormGripo->BitBtn_Start->isEnabled());
        prompt.Press(TPromptResult::Ok); // the instruction box
        boxes.Click([] { FormGripo->BitBtn_Start->click(); });
    }
    // What the user sees after a transfer that failed: no counts, the
    // reason in the window, nothing to save or print, Start and Exit usable.
    void ExpectFailedWindow(const QString& reason = QString())
    {
        TFormGripo* f = FormGripo;
        EXPECT_EQ(f->State(), TGripoState::Failed);
        EXPECT_TRUE(f->LabelTransfer->text().startsWith("Transfer failed: ")) << f->LabelTransfer->text().toStdString();
        if (!reason.isEmpty()) {
            EXPECT_EQ(f->LabelTransfer->text(), "Transfer failed: " + reason);
        }
        for (QLineEdit* e : {f->Counter_all, f->Counter_HGB_L, f->Counter_HGB_L_P, f->Counter_Shoe_H_P}) {
            EXPECT_TRUE(e->text().isEmpty()) << e->objectName().toStdString();
            EXPECT_FALSE(e->isEnabled()) << e->objectName().toStdString();
        }
        EXPECT_FALSE(f->BitBtnSaveData->isEnabled());
        EXPECT_FALSE(f->BitBtnPrintData->isEnabled());
        EXPECT_TRUE(f->EditComment->isHidden());
        EXPECT_TRUE(f->BitBtn_Start->isEnabled());
        EXPECT_TRUE(f->BitBtn_Cancel->isEnabled());
    }
    // Save as the user does it: the button, then the file typed into the dialog.
    void SaveThroughDialog(const QString& file)
    {
        ASSERT_TRUE(FormGripo->BitBtnSaveData->isEnabled());
        WhenModal<QFileDialog>([file](QFileDialog* d) {
            d->setDirectory(QFileInfo(file).absolutePath());
            if (auto* edit = d->findChild<QLineEdit*>("fileNameEdit"))
                edit->setText(QFileInfo(file).fileName());
            else
                d->selectFile(file);
            QMetaObject::invokeMethod(d, "accept");
        });
        boxes.Click([] { FormGripo->BitBtnSaveData->click(); });
        // Whatever the file did, the counts are still there to save again.
        EXPECT_EQ(FormGripo->State(), TGripoState::Shown);
        EXPECT_TRUE(FormGripo->BitBtnSaveData->isEnabled());
        EXPECT_TRUE(FormGripo->BitBtn_Start->isEnabled());
    }
    QStringList Messages() const { return MessagesSince(prompt, prompts0, boxes, boxes0, "Instruction"); }
    void Mark()
    {
        prompts0 = prompt.shown().size();
        boxes0 = boxes.shown.size();
    }
    // The window after a good transfer: counts shown, save enabled.
    void ExpectGoodTransfer()
    {
        Mark();
        Transfer();
        EXPECT_TRUE(Messages().isEmpty()) << Messages().join(" | ").toStdString();
        EXPECT_EQ(FormGripo->Counter_HGB_L->text(), "4");
        EXPECT_TRUE(FormGripo->BitBtnSaveData->isEnabled());
    }
    void ExpectNoDescriptorLost()
    {
        FoCom->ComPort1->Close();
        FoCom->ComPort1->Open();
        EXPECT_EQ(OpenDescriptors(), fdsBefore) << DescriptorList();
    }

    TempDir dir;
    TMainState state;
    ScriptedPrompt prompt;
    ErrorBoxes boxes;
    std::unique_ptr<PtyPeer> peer;
    std::unique_ptr<SimGripo> sim;
    int fdsBefore = 0;
    size_t prompts0 = 0, boxes0 = 0;
};

const std::string kGoodReply = [] {
    // 41 measurements, 4 below the wrist-strap limit, after command 0x7A.
    std::string r = std::string("\x00\x00\x29\x00\x04\x00\x00\x00\x00\x00\x00", 11);
    int sum = 0x7A;
    for (char c : r)
        sum += uint8_t(c);
    return r + char(sum & 0xFF);
}();

} // namespace

TEST_F(GripoFaults, HangUpInTheMiddleOfTheReply)
{
    StartScript([](PtyPeer& p) { p.Expect("\x7a").Send(kGoodReply.substr(0, 5)).HangUp(50); });
    Mark();
    Transfer();
    EXPECT_EQ(Messages().size(), 1) << Messages().join(" | ").toStdString();
    // The error ends the click: no old counts stand, Start usable.
    ExpectFailedWindow();
    // Still gone: one message per click, the window stays usable.
    Mark();
    Transfer();
    EXPECT_EQ(Messages().size(), 1) << Messages().join(" | ").toStdString();
    ExpectFailedWindow();
    StartTester(); // the cable is back, the entry reopens the port
    ExpectGoodTransfer();
    ExpectNoDescriptorLost();
}

TEST_F(GripoFaults, SilenceEndsInOneTimeout)
{
    peer->WithInstrument([&] { sim->Silent = true; });
    Mark();
    Transfer();
    ASSERT_EQ(Messages().size(), 1) << Messages().join(" | ").toStdString();
    EXPECT_EQ(Messages().front(), "error box: Timeout");
    ExpectFailedWindow("Timeout");
    peer->WithInstrument([&] { sim->Silent = false; });
    ExpectGoodTransfer();
    ExpectNoDescriptorLost();
}

TEST_F(GripoFaults, GarbageAndHalfAReplyLeaveTheWindowUsable)
{
    // Noise with a wrong checksum: the tester's own result for it is a
    // refused transfer (save stays off); the next one is read cleanly,
    // whatever the noise left on the line.
    StartScript([](PtyPeer& p) {
        p.Expect("\x7a").Send(std::string("\x55\xAA\x13\x37\x00\xFF\x10\x20\x30\x40\x50\x60\x70", 13));
    });
    Mark();
    Transfer();
    EXPECT_LE(Messages().size(), 1);
    ExpectFailedWindow();

    // Half a reply, then nothing: one time-out.
    StartScript([](PtyPeer& p) { p.Expect("\x7a").Send(kGoodReply.substr(0, 6)); });
    Mark();
    Transfer();
    ASSERT_EQ(Messages().size(), 1) << Messages().join(" | ").toStdString();
    EXPECT_EQ(Messages().front(), "error box: Timeout");
    ExpectFailedWindow("Timeout");

    StartTester();
    ExpectGoodTransfer();
    ExpectNoDescriptorLost();
}

TEST_F(GripoFaults, ReadOnlyLockedAndFullFilesLoseNoLine)
{
    ExpectGoodTransfer();
    const std::string path = dir.file("stats.CSV");
    const QString name = QString::fromStdString(path);
    Mark();
    SaveThroughDialog(name);
    EXPECT_TRUE(Messages().isEmpty()) << Messages().join(" | ").toStdString();
    ASSERT_EQ(CompleteLines(path).size(), 2);
    // The first save maps Qt's MIME cache for good; count from here.
    fdsBefore = DescriptorsSettledAt(OpenDescriptors());

    // Read-only.
    if (MakeReadOnly(path)) {
        Mark();
        SaveThroughDialog(name);
        MakeWritable(path);
        EXPECT_EQ(Messages().size(), 1) << Messages().join(" | ").toStdString();
        EXPECT_EQ(CompleteLines(path).size(), 2);
    } else {
        MakeWritable(path);
        ADD_FAILURE() << "cannot make a file read-only here (no immutable flag for root)";
    }

    // Locked by another program.
    {
        LockHolder other(path);
        ASSERT_TRUE(other.Holding());
        Mark();
        SaveThroughDialog(name);
        EXPECT_EQ(Messages().size(), 1) << Messages().join(" | ").toStdString();
        EXPECT_EQ(CompleteLines(path).size(), 2);
    }

    // A full disk (the file dialog does not offer a device file, so the
    // chosen name goes straight to the writer).
    Mark();
    EXPECT_NE(FormGripo->SaveStatistics("/dev/full"), 0);
    EXPECT_EQ(Messages().size(), 1) << Messages().join(" | ").toStdString();
    EXPECT_TRUE(FormGripo->BitBtnSaveData->isEnabled());

    // Every fault gone: the next save adds exactly one whole line.
    Mark();
    SaveThroughDialog(name);
    EXPECT_TRUE(Messages().isEmpty()) << Messages().join(" | ").toStdString();
    const QStringList lines = CompleteLines(path);
    ASSERT_EQ(lines.size(), 3);
    EXPECT_EQ(lines[1].section(';', 2), lines[2].section(';', 2));
    FoCom->ComPort1->Close();
    FoCom->ComPort1->Open();
    EXPECT_EQ(DescriptorsSettledAt(fdsBefore), fdsBefore) << DescriptorList();
}
