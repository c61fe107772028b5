// The decay window against the simulated monitor (or a monitor played by a
// small responder where the simulator has no such fault): a run with save
// and chart, Break, a time-out in a run, Read setup, Info, and the read-out
// of the stored files with its dialogs.
#include "acquisition/TChart.h"
#include "core/MainLink.h"
#include "core/MainState.h"
#include "cpm/C_CPM_EF.h"
#include "cpm/CpmFiles.h"
#include "cpm/TCPMSetup.h"
#include "cpm/TFormChartCPM.h"
#include "cpm/TFormReadCPMFiles.h"
#include "platform/Host.h"
#include "platform/Paths.h"
#include "serial/ComPort.h"
#include "sim/PtyPeer.h"
#include "sim/SimKarvo.h"
#include "tests/support/DriverHost.h"
#include "tests/support/RunawayGuard.h"
#include "tests/support/ScriptedPrompt.h"
#include "tests/support/SimulatedMonitor.h"
#include "tests/support/TestSupport.h"

#include <QDate>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <qcustomplot.h>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <sstream>

namespace {

std::string ReadAll(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

QStringList MemoLines() { return CPMSetup->MemoDisplay->toPlainText().split('\n'); }

// A monitor played byte by byte for faults the simulator does not have:
// ENQs beyond `acks` go unanswered, the file number `silentFile` gets no reply.
struct Responder {
    int acks = 1000;
    int silentFile = -1;
    std::map<int, std::string> records;
    int enqs = 0;
    bool inFrame = false, setupData = false, fileNumber = false;
    std::string frame;
    std::vector<std::string> frames;

    std::string operator()(uint8_t b)
    {
        if (!inFrame && b == 0x05)
            return ++enqs <= acks ? std::string("\x06\x05") : std::string();
        if (b == 0x02) {
            inFrame = true;
            frame.clear();
            return {};
        }
        if (!inFrame)
            return {};
        if (b != 0x03) {
            frame += char(b);
            return {};
        }
        inFrame = false;
        frames.push_back(frame);
        if (setupData) {
            setupData = false;
            return {};
        }
        if (fileNumber) {
            fileNumber = false;
            const int n = std::atoi(frame.c_str());
            if (n == silentFile)
                return {};
            const auto it = records.find(n);
            return "\x02" + (it != records.end() ? it->second : frame + "FF" + std::string(24, '0')) + "\x03";
        }
        if (frame == "r0")
            return "\x02KARVO V6.11 SIM 00004711150307\x03";
        if (frame == "r1")
            return "\x02" "000000003209010104\x03";
        if (frame == "w1")
            setupData = true;
        if (frame == "r3")
            fileNumber = true;
        return {};
    }
};

// Plays the read-out dialog: answers the range entries in turn, types a
// comment per file, presses Abort at the given comment (1-based).
struct DialogDriver {
    std::vector<std::pair<QString, QString>> ranges;
    std::vector<std::pair<int, int>> proposed;
    std::vector<std::pair<QString, QString>> comments; // (file number, of)
    int abortAt = -1;
    bool abortRange = false;
    int sameCommentAt = -1; // ticks "same comment for the remaining files" at this comment (1-based)
    size_t rangeIndex = 0;

    void Poll()
    {
        TFormReadCPMFiles* d = FormReadCPMFiles;
        if (!d || !d->isVisible() || d->OKFlag || d->AbortFlag)
            return;
        if (d->MaskEditStart->isVisible()) {
            proposed.push_back({TFormReadCPMFiles::FieldNumber(d->MaskEditStart),
                                TFormReadCPMFiles::FieldNumber(d->MaskEditStopp)});
            if (rangeIndex < ranges.size()) {
                d->MaskEditStart->setText(ranges[rangeIndex].first);
                d->MaskEditStopp->setText(ranges[rangeIndex].second);
                ++rangeIndex;
            }
            if (abortRange)
                d->BitBtnAbortClick();
            else
                d->BitBtnOKClick();
        } else if (d->GroupBoxInputComment->isVisible()) {
            comments.push_back({d->LabelFileNumberActuell->text(), d->LabelFileNumberMax->text()});
            if (int(comments.size()) == abortAt) {
                d->BitBtnAbortClick();
                return;
            }
            d->TextCommentFile->setText("c" + d->LabelFileNumberActuell->text());
            d->CheckBoxSameComment->setChecked(int(comments.size()) == sameCommentAt);
            d->BitBtnOKClick();
        }
    }
};

class CpmWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetSettingsDirectoryOverride(dir.path());
        MainState = &state;
        oldHost = SetHost(&host);
        FormChartCPM = new TFormChartCPM();
        FormReadCPMFiles = new TFormReadCPMFiles();
        CPMSetup = new TCPMSetup();
        CPMSetup->ChooseSaveFile = [this](const QString& initialDir, QString& name) {
            initialDirs.push_back(initialDir);
            proposedNames.push_back(name);
            if (saveAs.isEmpty())
                return false;
            name = saveAs;
            return true;
        };
        host.onProcess = [this] {
            driver.Poll();
            if (extra)
                extra();
        };
    }
    void TearDown() override
    {
        host.onProcess = nullptr;
        DeleteMonitorWindows();
        DestroyCpmInstances();
        peer.Stop();
        port.Close();
        SetHost(oldHost);
        MainState = nullptr;
        SetSettingsDirectoryOverride("");
    }
    void Connect()
    {
        port.DeviceName(peer.SlavePath());
        port.Timeouts->ReadInterval(0);
        port.Timeouts->ReadMultiplier(0);
        port.Timeouts->ReadConstant(400);
        port.Timeouts->WriteMultiplier(0);
        port.Timeouts->WriteConstant(500);
        port.Open();
        CreateCpmInstances(port);
        CPMSetup->show();
    }
    void WithSim(const std::function<void(SimKarvo&)>& setup = {})
    {
        if (setup)
            setup(sim);
        peer.Host(sim);
        peer.Start();
        Connect();
    }
    void WithResponder()
    {
        peer.Serve([this](uint8_t b) { return responder(b); });
        peer.Start();
        Connect();
    }
    void Sim(const std::function<void(SimKarvo&)>& fn)
    {
        peer.WithInstrument([&] { fn(sim); });
    }
    bool MainControlsEnabled() const
    {
        return CPMSetup->BitBtnStart->isEnabled() && CPMSetup->BitBtnCancel->isEnabled() &&
               CPMSetup->GroupBoxsetup->isEnabled() && CPMSetup->BitBtnReadFile->isEnabled();
    }

    TempDir dir;
    TMainState state;
    DriverHost host{200, 120};
    IHost* oldHost = nullptr;
    SimKarvo sim;
    Responder responder;
    PtyPeer peer;
    TComPort port;
    DialogDriver driver;
    std::function<void()> extra;
    QString saveAs;
    std::vector<QString> initialDirs;
    std::vector<QString> proposedNames;
    ScriptedPrompt prompt;
};

} // namespace

TEST_F(CpmWindowTest, RunSaveWithCommentAndChart)
{
    WithSim([](SimKarvo& s) {
        s.FramePeriodMs = 10;
        s.DecayTauMs = 150;
    });
    CPMSetup->SetSelectModeIndex(1); // POS
    CPMSetup->BitBtnStartClick();

    // Parameters from SETUP.INI defaults: 1000 V, 500 V, 20 s; POS as 0x21.
    std::string setupText;
    Sim([&](SimKarvo& s) { setupText = s.LastSetupText; });
    EXPECT_EQ(setupText, "00000000210A0A0201");
    const QStringList memo = MemoLines();
    EXPECT_EQ(memo.front(), "Start measurement!");
    EXPECT_EQ(memo.back(), "Decay time measuring successful finished !");
    EXPECT_TRUE(CPMSetup->BitBtnSaveResult->isEnabled());
    EXPECT_TRUE(MainControlsEnabled());
    EXPECT_EQ(CPMSetup->GroupBoxOffset->title(), "Offset");
    EXPECT_FALSE(CPMSetup->LabelNegDecayTime->isVisible());
    EXPECT_TRUE(CPMSetup->LabelPosDecayTime->text().endsWith(" sec"));
    EXPECT_NE(CPMSetup->LabelPosDecayTime->text(), "0.0 sec");
    EXPECT_EQ(CPMSetup->LabelOffset->text(), "-3.0 V");

    // The plate voltage rose in red and fell in blue.
    TCpmGraph* line = FormChartCPM->Series1;
    ASSERT_GT(line->PointCount(), 3);
    EXPECT_EQ(line->PointY(0), 1200);
    EXPECT_EQ(line->PointColour(0), QColor(255, 0, 0));
    EXPECT_EQ(line->PointColour(line->PointCount() - 1), QColor(0, 0, 255));
    EXPECT_EQ(FormChartCPM->Series2->PointY(0), 1000);
    EXPECT_EQ(FormChartCPM->Series3->PointY(0), 500);

    // Save with a comment; the file name comes from the dialog.
    saveAs = QString::fromStdString(dir.file("results.csv"));
    state.CpmDataDirectory = "/somewhere/else/";
    bool typed = false;
    extra = [&] {
        if (!typed && CPMSetup->Edit1->isVisible() && CPMSetup->BitBtnOK->isVisible()) {
            typed = true;
            CPMSetup->Edit1->setText(QString::fromUtf8("Prüfung 5 µC; plate A"));
            CPMSetup->BitBtnOKClick();
        }
    };
    CPMSetup->BitBtnSaveResultClick();
    extra = nullptr;
    ASSERT_EQ(initialDirs.size(), 1u);
    EXPECT_EQ(initialDirs[0], "/somewhere/else/");
    EXPECT_EQ(state.CpmDataDirectory, QString::fromStdString(dir.path() + "/"));
    EXPECT_FALSE(CPMSetup->BitBtnSaveResult->isEnabled());
    EXPECT_FALSE(CPMSetup->Edit1->isVisible());
    EXPECT_FALSE(CPMSetup->BitBtnOK->isVisible());
    const std::string file = ReadAll(saveAs.toStdString());
    EXPECT_EQ(file.rfind("Device: KARVO V6.11 SIM;Serial No.: 00004711;Cal.Date: 15-03-2007\r\nDate;Time;CPM-Mode;", 0),
              0u);
    const std::string pos = CPMSetup->LabelPosDecayTime->text().chopped(4).toStdString();
    EXPECT_NE(file.find(";Pos.;1000;500;20;" + pos + ";0.0;-3.0;Pr\xFC" "fung 5 \xB5" "C, plate A\r\n"),
              std::string::npos)
        << file;

    // The chart: title from the comment and the result labels.
    CPMSetup->BitBtnChartClick();
    EXPECT_FALSE(CPMSetup->isVisible());
    EXPECT_TRUE(FormChartCPM->isVisible());
    EXPECT_TRUE(FormChartCPM->Chart1->isVisible());
    EXPECT_EQ(FormChartCPM->Title(), QString::fromUtf8("Prüfung 5 µC; plate A\npos. decay ") +
                                         CPMSetup->LabelPosDecayTime->text() + " / neg. decay " +
                                         CPMSetup->LabelNegDecayTime->text() + " / offset -3.0 V");
    FormChartCPM->BitBtn_ExitClick();
    EXPECT_TRUE(CPMSetup->isVisible());
    EXPECT_FALSE(FormChartCPM->isVisible());
}

TEST_F(CpmWindowTest, SaveResultsCancelWritesNothing)
{
    WithSim([](SimKarvo& s) {
        s.FramePeriodMs = 10;
        s.DecayTauMs = 100;
    });
    CPMSetup->BitBtnStartClick();
    ASSERT_TRUE(CPMSetup->BitBtnSaveResult->isEnabled());
    saveAs = QString::fromStdString(dir.file("never.csv"));
    extra = [&] {
        if (CPMSetup->BitBtnCancelSave->isVisible())
            CPMSetup->BitBtnCancelSaveClick();
    };
    CPMSetup->BitBtnSaveResultClick();
    extra = nullptr;
    EXPECT_TRUE(initialDirs.empty());
    EXPECT_FALSE(QFileInfo::exists(saveAs));
    // Still there to be saved.
    EXPECT_TRUE(CPMSetup->BitBtnSaveResult->isEnabled());
    EXPECT_TRUE(CPMSetup->BitBtnSaveResult->isVisible());
    EXPECT_FALSE(CPMSetup->BitBtnOK->isVisible());

    // A comment, then the file dialog cancelled: nothing written, still savable.
    saveAs.clear();
    extra = [&] {
        if (CPMSetup->BitBtnOK->isVisible())
            CPMSetup->BitBtnOKClick();
    };
    CPMSetup->BitBtnSaveResultClick();
    extra = nullptr;
    EXPECT_EQ(initialDirs.size(), 1u);
    EXPECT_TRUE(CPMSetup->BitBtnSaveResult->isEnabled());
}

TEST_F(CpmWindowTest, BreakEndsTheRunThroughTheAbortFrame)
{
    WithSim([](SimKarvo& s) {
        s.FramePeriodMs = 20;
        s.DecayTauMs = 1e9; // never reaches the stop voltage
    });
    int frames = 0;
    bool broke = false;
    extra = [&] {
        if (CPMSetup->Running() && CPMSetup->GroupBoxOffset->title() == "Plate voltage" && ++frames == 5 && !broke) {
            broke = true;
            CPMSetup->BitBtnBreakClick();
            // Nothing talks to the monitor while this run waits for its abort frame.
            EXPECT_FALSE(CPMSetup->BitBtnStart->isEnabled());
            EXPECT_FALSE(CPMSetup->BitBtnInfo->isEnabled());
            EXPECT_FALSE(CPMSetup->BitBtnReadFile->isEnabled());
            EXPECT_FALSE(CPMSetup->GroupBoxsetup->isEnabled());
            EXPECT_TRUE(CPMSetup->BitBtnCancel->isEnabled());
            EXPECT_TRUE(CPMSetup->ButtonClearDisplay->isEnabled());
        }
    };
    CPMSetup->BitBtnStartClick();
    extra = nullptr;
    EXPECT_TRUE(broke);
    EXPECT_EQ(MemoLines().back(), "Process abortet !!");
    // The abort frame is read like a live frame: its voltage (0 here) is shown.
    EXPECT_EQ(CPMSetup->LabelOffset->text(), "0 V");
    EXPECT_FALSE(CPMSetup->BitBtnSaveResult->isEnabled());
    EXPECT_EQ(CPMSetup->LabelPosDecayTime->text(), "0.0 sec");
    EXPECT_TRUE(MainControlsEnabled());
    EXPECT_EQ(CpmDecay->StartVoltage, 0);
}

TEST_F(CpmWindowTest, TimeoutInARunLeavesTheWindowUsable)
{
    WithSim([](SimKarvo& s) {
        s.FramePeriodMs = 20;
        s.DecayTauMs = 1e9;
    });
    int frames = 0;
    extra = [&] {
        if (CPMSetup->Running() && CPMSetup->GroupBoxOffset->title() == "Plate voltage" && ++frames == 3)
            Sim([](SimKarvo& s) { s.Silent = true; });
    };
    try {
        CPMSetup->BitBtnStartClick();
        ADD_FAILURE() << "no time-out";
    } catch (const EComError& e) {
        EXPECT_STREQ(e.what(), "Timeout");
    }
    extra = nullptr;
    EXPECT_FALSE(CPMSetup->Running());
    EXPECT_TRUE(MainControlsEnabled());
    EXPECT_EQ(CPMSetup->GroupBoxOffset->title(), "Offset");
    EXPECT_TRUE(port.Active()); // closed and opened again for the next try

    // The next run works once the monitor talks again.
    Sim([](SimKarvo& s) {
        s.Silent = false;
        s.FramePeriodMs = 10;
        s.DecayTauMs = 100;
    });
    port.Close();
    port.Open();
    CPMSetup->BitBtnStartClick();
    EXPECT_EQ(MemoLines().back(), "Decay time measuring successful finished !");
}

TEST_F(CpmWindowTest, ReadSetupTakesModeAndListIndicesBack)
{
    WithSim([](SimKarvo& s) { s.Setup = {0, 0, 0, 0, 0x41, 3, 2, 5, 1}; });
    CPMSetup->SetSelectModeIndex(2);
    CPMSetup->ButtonReadSetupClick();
    EXPECT_EQ(CPMSetup->SelectModeIndex(), 2); // 41 is no mode
    EXPECT_EQ(CPMSetup->ComboBoxVStart->currentIndex(), 3);
    EXPECT_EQ(CPMSetup->ComboBoxVStop->currentIndex(), 2);
    EXPECT_EQ(CPMSetup->ComboBoxOffsetTime->currentIndex(), 5);
    EXPECT_EQ(CpmDecay->SetupValues[4], "41");

    Sim([](SimKarvo& s) { s.Setup = {0, 0, 0, 0, 0x21, 0x0B, 0, 0x0F, 1}; });
    CPMSetup->ButtonReadSetupClick();
    EXPECT_EQ(CPMSetup->SelectModeIndex(), 1);
    EXPECT_EQ(CPMSetup->ComboBoxVStart->currentIndex(), 3); // 11 is beyond the list: unchanged
    EXPECT_EQ(CPMSetup->ComboBoxVStop->currentIndex(), 0);
    EXPECT_EQ(CPMSetup->ComboBoxOffsetTime->currentIndex(), 15);
}

TEST_F(CpmWindowTest, InfoShowsTheIdentification)
{
    WithSim();
    CPMSetup->BitBtnInfoClick();
    EXPECT_EQ(MemoLines(), QStringList({" ", "SW-Version\t: KARVO V6.11 SIM", "Serial number\t: 00004711",
                                        "Date of production\t: 15-03-2007"}));
}

TEST_F(CpmWindowTest, ReadOutStopsAtTheEmptySlot)
{
    WithSim(); // files 1 to 3 stored
    driver.ranges = {{"1", "5"}};
    saveAs = QString::fromStdString(dir.file("eeprom.csv"));
    CPMSetup->BitBtnReadFileClick();

    ASSERT_EQ(driver.proposed.size(), 1u);
    EXPECT_EQ(driver.proposed[0], std::make_pair(1, 3));
    std::vector<std::string> commands;
    Sim([&](SimKarvo& s) { commands = s.Commands; });
    std::vector<std::string> numbers;
    for (size_t i = 0; i + 1 < commands.size(); ++i)
        if (commands[i] == "r3")
            numbers.push_back(commands[i + 1]);
    EXPECT_EQ(numbers, (std::vector<std::string>{"01", "02", "03", "04"}));
    const auto expectedComments = std::vector<std::pair<QString, QString>>{{"1", "3"}, {"2", "3"}, {"3", "3"}};
    EXPECT_EQ(driver.comments, expectedComments);

    const QStringList memo = MemoLines();
    EXPECT_EQ(memo[0], "Reading file no. : 01  value : 0110E80364001400170078007B80");
    EXPECT_EQ(memo[2], "Reading file no. : 03  value : 033284036400000000002C018380");
    EXPECT_EQ(memo.back(), "EEProm data from CPM stored successful in data file !");
    EXPECT_EQ(memo[memo.size() - 2], "");
    EXPECT_TRUE(MainControlsEnabled());

    const QStringList lines = QString::fromLatin1(ReadAll(saveAs.toStdString())).split("\r\n");
    ASSERT_EQ(lines.size(), 6);
    EXPECT_EQ(lines[0], "Device: KARVO V6.11 SIM;Serial No.: 00004711;Cal.Date: 15-03-2007");
    EXPECT_TRUE(lines[1].startsWith("Date;Time;File no.;CPM-Mode;"));
    EXPECT_TRUE(lines[2].endsWith(";1;Auto;1000;100;20;2.3;12.0;-123.0;c1")) << lines[2].toStdString();
    EXPECT_TRUE(lines[3].endsWith(";2;Pos.;1000;200;10;3.0;0.0;5.0;c2")) << lines[3].toStdString();
    EXPECT_TRUE(lines[4].endsWith(";3;Neg.;900;100;0;0.0;30.0;-131.0;c3")) << lines[4].toStdString();

    // Read again into the same file: below the old lines, no second header.
    CPMSetup->BitBtnReadFileClick();
    const QStringList again = QString::fromLatin1(ReadAll(saveAs.toStdString())).split("\r\n");
    ASSERT_EQ(again.size(), 9);
    EXPECT_TRUE(again[5].endsWith(";1;Auto;1000;100;20;2.3;12.0;-123.0;c1"));
    EXPECT_EQ(again.filter("Device: ").size(), 1);
}

TEST_F(CpmWindowTest, ReadOutOfAMiddleRange)
{
    WithSim([](SimKarvo& s) {
        s.Stored.push_back("0410E80364001400170078007B80");
        s.Stored.push_back("0510E80364001400170078007B80");
    });
    driver.ranges = {{"3", "5"}};
    saveAs = QString::fromStdString(dir.file("eeprom.csv"));
    CPMSetup->BitBtnReadFileClick();
    EXPECT_EQ(driver.proposed[0], std::make_pair(1, 5));
    std::vector<std::string> commands;
    Sim([&](SimKarvo& s) { commands = s.Commands; });
    std::vector<std::string> numbers;
    for (size_t i = 0; i + 1 < commands.size(); ++i)
        if (commands[i] == "r3")
            numbers.push_back(commands[i + 1]);
    EXPECT_EQ(numbers, (std::vector<std::string>{"03", "04", "05"}));
    const auto expectedComments = std::vector<std::pair<QString, QString>>{{"3", "3"}, {"4", "3"}, {"5", "3"}};
    EXPECT_EQ(driver.comments, expectedComments);
    EXPECT_EQ(QString::fromLatin1(ReadAll(saveAs.toStdString())).split("\r\n").size(), 6);
}

TEST_F(CpmWindowTest, AbortAtTheSecondCommentWritesNothing)
{
    WithSim([](SimKarvo& s) {
        s.Stored.push_back("0410E80364001400170078007B80");
        s.Stored.push_back("0510E80364001400170078007B80");
    });
    driver.ranges = {{"1", "5"}};
    driver.abortAt = 2;
    saveAs = QString::fromStdString(dir.file("eeprom.csv"));
    CPMSetup->BitBtnReadFileClick();
    EXPECT_EQ(driver.comments.size(), 2u);
    EXPECT_TRUE(initialDirs.empty()); // no file dialog
    EXPECT_FALSE(QFileInfo::exists(saveAs));
    EXPECT_EQ(MemoLines(), QStringList({"", "Warning!! EEProm data not stored in the data file.", "", "User break !"}));
    EXPECT_TRUE(MainControlsEnabled());
    EXPECT_FALSE(FormReadCPMFiles->isVisible());
}

TEST_F(CpmWindowTest, FirstFileEmptyAfterAStartAboveTheStop)
{
    WithSim([](SimKarvo& s) { s.Stored.clear(); });
    // The proposal 1 to 0 is refused once, then 1 to 3 is asked for.
    driver.ranges = {{"1", "0"}, {"1", "3"}};
    CPMSetup->BitBtnReadFileClick();
    EXPECT_EQ(driver.proposed, (std::vector<std::pair<int, int>>{{1, 0}, {1, 0}}));
    ASSERT_EQ(prompt.shown().size(), 2u);
    EXPECT_EQ(prompt.shown()[0].text, "Value for start is higher than value for stop !! ");
    EXPECT_EQ(prompt.shown()[0].caption, "Incorrect input !");
    EXPECT_EQ(prompt.shown()[0].icon, TPromptIcon::Warning);
    EXPECT_EQ(prompt.shown()[1].text, "!! No data stored in EEProm !! ");
    EXPECT_EQ(prompt.shown()[1].caption, "Info");
    EXPECT_EQ(prompt.shown()[1].icon, TPromptIcon::Information);
    EXPECT_TRUE(driver.comments.empty());
    EXPECT_EQ(MemoLines(), QStringList({"", "Warning!! EEProm data not stored in the data file."}));
}

TEST_F(CpmWindowTest, TimeoutInTheMiddleOfTheReadOut)
{
    responder.records[1] = "0110E80364001400170078007B80";
    responder.silentFile = 2;
    WithResponder();
    saveAs = QString::fromStdString(dir.file("eeprom.csv"));
    CPMSetup->BitBtnReadFileClick();
    ASSERT_EQ(prompt.shown().size(), 1u);
    EXPECT_EQ(prompt.shown()[0].text, "!! No data stored in EEProm !! ");
    EXPECT_TRUE(driver.comments.empty());
    EXPECT_FALSE(QFileInfo::exists(saveAs));
    EXPECT_EQ(MemoLines(), QStringList({"", "Warning!! EEProm data not stored in the data file."}));
    EXPECT_TRUE(MainControlsEnabled());
}

// Exit, or a close from the window manager (the window has no close
// button, but a shortcut of the window manager still asks): either way back
// to the main window with the port closed. Refused while a run goes on.
TEST_F(CpmWindowTest, ExitClosesThePortAndReturnsToTheMainWindow)
{
    WithSim([](SimKarvo& s) {
        s.FramePeriodMs = 20;
        s.DecayTauMs = 1e9;
    });
    for (const bool byWindowManager : {false, true}) {
        SCOPED_TRACE(byWindowManager ? "window manager" : "Exit");
        if (!CPMSetup->isVisible()) {
            port.Open();
            CPMSetup->show();
        }
        if (byWindowManager) {
            // The decay chart's window goes back to the decay window the same way.
            CPMSetup->BitBtnChartClick();
            ASSERT_TRUE(FormChartCPM->isVisible());
            FormChartCPM->close();
            EXPECT_FALSE(FormChartCPM->isVisible());
            EXPECT_TRUE(CPMSetup->isVisible());
            // In a run the close is refused; Break ends the run.
            bool refused = false;
            extra = [&] {
                if (CPMSetup->Running() && CPMSetup->GroupBoxOffset->title() == "Plate voltage" && !refused) {
                    CPMSetup->close();
                    refused = CPMSetup->isVisible();
                    CPMSetup->BitBtnBreakClick();
                }
            };
            CPMSetup->BitBtnStartClick();
            extra = nullptr;
            EXPECT_TRUE(refused);
        }
        bool returned = false;
        MainLink().ReturnToMain = [&] { returned = true; };
        if (byWindowManager)
            CPMSetup->close();
        else
            CPMSetup->BitBtnCancelClick();
        MainLink().ReturnToMain = nullptr;
        EXPECT_TRUE(returned);
        EXPECT_FALSE(CPMSetup->isVisible());
        EXPECT_FALSE(port.Active());
    }
}

TEST_F(CpmWindowTest, HangUpInARunLeavesTheWindowUsable)
{
    WithSim([](SimKarvo& s) {
        s.FramePeriodMs = 20;
        s.DecayTauMs = 1e9;
    });
    int frames = 0;
    extra = [&] {
        if (CPMSetup->Running() && CPMSetup->GroupBoxOffset->title() == "Plate voltage" && ++frames == 3)
            peer.HangUpNow();
    };
    EXPECT_THROW(CPMSetup->BitBtnStartClick(), EComError);
    extra = nullptr;
    EXPECT_FALSE(CPMSetup->Running());
    EXPECT_TRUE(MainControlsEnabled());
    EXPECT_EQ(CPMSetup->GroupBoxOffset->title(), "Offset");
    // Exit still leads back to the main window.
    bool returned = false;
    MainLink().ReturnToMain = [&] { returned = true; };
    CPMSetup->BitBtnCancelClick();
    MainLink().ReturnToMain = nullptr;
    EXPECT_TRUE(returned);
    EXPECT_FALSE(port.Active());
}

TEST_F(CpmWindowTest, TimeoutOfTheSetupReadBeforeTheReadOut)
{
    WithSim([](SimKarvo& s) { s.Silent = true; });
    EXPECT_THROW(CPMSetup->BitBtnReadFileClick(), EComError);
    EXPECT_TRUE(MainControlsEnabled());
    EXPECT_FALSE(FormReadCPMFiles->isVisible());
    EXPECT_TRUE(driver.proposed.empty());
}

TEST_F(CpmWindowTest, ParametersFromTheSettingsFile)
{
    dir.write("SETUP.INI", "[CPM]\r\nvStart=3\r\nvStop=20\r\ntOffset=15\r\n");
    delete CPMSetup;
    CPMSetup = new TCPMSetup();
    EXPECT_EQ(CPMSetup->ComboBoxVStart->currentIndex(), 3);
    EXPECT_EQ(CPMSetup->ComboBoxVStop->currentIndex(), 10); // 20 is no item: the default
    EXPECT_EQ(CPMSetup->ComboBoxOffsetTime->currentIndex(), 15);
    EXPECT_EQ(CPMSetup->SelectModeIndex(), 0);
    EXPECT_EQ(CPMSetup->ComboBoxVStart->currentText(), "650 V");
    EXPECT_EQ(CPMSetup->ComboBoxOffsetTime->currentText(), "600 sec.");
}

TEST_F(CpmWindowTest, StoredFilesCountIsSetupByteNineInHexMinusOne)
{
    // The monitor reports byte 9 as two hex digits like the other eight.
    WithSim();
    driver.abortRange = true;
    for (const int files : {9, 10, 16, 99}) {
        SCOPED_TRACE(files);
        Sim([files](SimKarvo& s) { s.Stored.assign(size_t(files), "0110E80364001400170078007B80"); });
        driver.proposed.clear();
        CPMSetup->BitBtnReadFileClick();
        ASSERT_EQ(driver.proposed.size(), 1u);
        EXPECT_EQ(driver.proposed[0], std::make_pair(1, files));
        EXPECT_EQ(MemoLines().back(), "User break !");
    }
}

TEST_F(CpmWindowTest, EveryNumberTextUsesTheLocaleDecimalSeparator)
{
    LocaleGuard german(QLocale(QLocale::German, QLocale::Germany));
    // The window as created under that locale, then a run and its save.
    delete CPMSetup;
    CPMSetup = new TCPMSetup();
    CPMSetup->ChooseSaveFile = [this](const QString&, QString& name) {
        name = saveAs;
        return true;
    };
    WithSim([](SimKarvo& s) {
        s.FramePeriodMs = 10;
        s.DecayTauMs = 150;
    });
    const QRegularExpression dotDecimal(QStringLiteral("\\d\\.\\d"));
    std::vector<QString> seen;
    auto texts = [] {
        return std::vector<QString>{CPMSetup->LabelPosDecayTime->text(), CPMSetup->LabelNegDecayTime->text(),
                                    CPMSetup->LabelOffset->text()};
    };
    for (const QString& t : texts())
        seen.push_back(t);
    EXPECT_EQ(CPMSetup->LabelPosDecayTime->text(), "0,0 sec");
    extra = [&] {
        for (const QString& t : texts())
            seen.push_back(t);
    };
    CPMSetup->BitBtnStartClick();
    ASSERT_TRUE(CPMSetup->BitBtnSaveResult->isEnabled());
    EXPECT_EQ(CPMSetup->LabelOffset->text(), "-3,0 V");
    for (const QString& t : texts())
        seen.push_back(t);
    for (const QString& t : seen)
        EXPECT_FALSE(t.contains(dotDecimal)) << t.toStdString();

    saveAs = QString::fromStdString(dir.file("de.csv"));
    extra = [&] {
        if (CPMSetup->BitBtnOK->isVisible())
            CPMSetup->BitBtnOKClick();
    };
    CPMSetup->BitBtnSaveResultClick();
    extra = nullptr;
    const QStringList lines = QString::fromLatin1(ReadAll(saveAs.toStdString())).split("\r\n");
    ASSERT_EQ(lines.size(), 4);
    const QStringList f = lines[2].split(';');
    ASSERT_GE(f.size(), 9);
    for (int i = 6; i <= 8; ++i) {
        EXPECT_TRUE(f[i].contains(',')) << f[i].toStdString();
        EXPECT_FALSE(f[i].contains('.')) << f[i].toStdString();
    }
}

TEST_F(CpmWindowTest, SameCommentForTheRemainingFilesAndProposedFileNames)
{
    WithSim([](SimKarvo& s) {
        s.FramePeriodMs = 10;
        s.DecayTauMs = 100;
        s.Stored.resize(7, "0710E80364001400170078007B80");
    });
    state.CpmDataDirectory = QString::fromStdString(dir.path() + "/");
    // At the second of seven files the user ticks the box: two prompts.
    driver.ranges = {{"1", "7"}};
    driver.sameCommentAt = 2;
    saveAs = QString::fromStdString(dir.path() + "/files/eeprom.csv");
    QDir().mkpath(QString::fromStdString(dir.path() + "/files"));
    CPMSetup->BitBtnReadFileClick();
    EXPECT_EQ(driver.comments.size(), 2u);
    const QStringList lines = QString::fromLatin1(ReadAll(saveAs.toStdString())).split("\r\n");
    ASSERT_EQ(lines.size(), 10);
    EXPECT_TRUE(lines[2].endsWith(";c1"));
    for (int i = 3; i <= 8; ++i)
        EXPECT_TRUE(lines[i].endsWith(";c2")) << lines[i].toStdString();
    EXPECT_FALSE(FormReadCPMFiles->CheckBoxSameComment->isChecked() && FormReadCPMFiles->isVisible());

    // Each kind of file is offered under its own name in the folder last
    // used for that kind.
    const QString today = QDate::currentDate().toString("yyyy-MM-dd");
    ASSERT_EQ(proposedNames.size(), 1u);
    EXPECT_EQ(proposedNames[0], "Karvo_files_" + today + ".csv");
    CPMSetup->BitBtnStartClick();
    saveAs = QString::fromStdString(dir.path() + "/results.csv");
    extra = [&] {
        if (CPMSetup->BitBtnOK->isVisible())
            CPMSetup->BitBtnOKClick();
    };
    CPMSetup->BitBtnSaveResultClick();
    extra = nullptr;
    ASSERT_EQ(proposedNames.size(), 2u);
    EXPECT_EQ(proposedNames[1], "Karvo_results_" + today + ".csv");
    EXPECT_EQ(initialDirs[1], QString::fromStdString(dir.path() + "/files/")); // none used for results yet
    driver.ranges = {{"1", "1"}};
    driver.comments.clear();
    saveAs = QString::fromStdString(dir.path() + "/files/eeprom.csv");
    CPMSetup->BitBtnReadFileClick();
    ASSERT_EQ(initialDirs.size(), 3u);
    EXPECT_EQ(initialDirs[2], QString::fromStdString(dir.path() + "/files/"));
    CPMSetup->BitBtnSaveResultClick();
    ASSERT_EQ(initialDirs.size(), 3u); // no second save of a saved run
    extra = [&] {
        if (CPMSetup->BitBtnOK->isVisible())
            CPMSetup->BitBtnOKClick();
    };
    CPMSetup->BitBtnStartClick();
    CPMSetup->BitBtnSaveResultClick();
    extra = nullptr;
    ASSERT_EQ(initialDirs.size(), 4u);
    EXPECT_EQ(initialDirs[3], QString::fromStdString(dir.path() + "/")); // the results' own folder
}

TEST_F(CpmWindowTest, ResultBoxesHaveTheirOwnAccessibleNamesAndTheChartALegend)
{
    EXPECT_EQ(CPMSetup->GroupBoxPosDecayTime->accessibleName(), "Pos. decay time");
    EXPECT_EQ(CPMSetup->GroupBoxNegDecayTime->accessibleName(), "Neg. decay time");
    EXPECT_EQ(CPMSetup->GroupBoxOffset->accessibleName(), "Offset");
    QCustomPlot* plot = FormChartCPM->Chart1->Plot();
    EXPECT_TRUE(plot->legend->visible());
    QStringList names;
    for (int i = 0; i < plot->legend->itemCount(); ++i)
        if (auto* item = qobject_cast<QCPPlottableLegendItem*>(plot->legend->item(i)))
            names << item->plottable()->name();
    EXPECT_EQ(names, QStringList({"Measured  line", "Vstart Pos", "Vstop Pos", "Vstart Neg", "Vstop Neg", "Zero line"}));
    // The negative reference lines are drawn darker than plain yellow.
    const QColor ref = TFormChartCPM::ColourOf(TCpmColour::Yellow);
    auto luminance = [](const QColor& c) { return 0.299 * c.red() + 0.587 * c.green() + 0.114 * c.blue(); };
    EXPECT_LT(luminance(ref), 160); // plain yellow: 226
    EXPECT_EQ(FormChartCPM->Series4->pen().color(), ref);
}

TEST_F(CpmWindowTest, MonitorThatStopsAcknowledgingAtFileThreeOfSeven)
{
    WithSim([](SimKarvo& s) {
        s.Stored.clear();
        for (int n = 1; n <= 7; ++n)
            s.Stored.push_back("0" + std::to_string(n) + "32E803640014000000" + std::to_string(10 + n) + "007B80");
    });
    driver.ranges = {{"1", "7"}};
    saveAs = QString::fromStdString(dir.file("eeprom.csv"));
    // After the range is asked: the ENQs of r0, the setup write and files 1
    // and 2 are answered; file 3's is not.
    bool armed = false;
    extra = [&] {
        if (!armed && FormReadCPMFiles->State() == TCpmFilesDialogState::AskingRange) {
            armed = true;
            Sim([](SimKarvo& s) { s.EnqsToAnswer = 4; });
        }
    };
    CPMSetup->BitBtnReadFileClick();
    extra = nullptr;
    ASSERT_EQ(prompt.shown().size(), 1u);
    EXPECT_EQ(prompt.shown()[0].text, "The CPM did not answer for file no. 03 ! Files from no. 03 on are not read.");
    EXPECT_EQ(driver.comments.size(), 2u);
    // The file's bytes: the header, then two whole lines (from the file
    // number on; date and time are the PC's), nothing for files 3 to 7.
    const std::string bytes = ReadAll(saveAs.toStdString());
    const std::string header = "Device: KARVO V6.11 SIM;Serial No.: 00004711;Cal.Date: 15-03-2007\r\n"
                               "Date;Time;File no.;CPM-Mode;Start (V);Stop (V);Offset (sec);Decay time pos.(sec.);"
                               "Decay time neg.(sec.);Offset (V);Comment\r\n";
    ASSERT_EQ(bytes.compare(0, header.size(), header), 0) << bytes;
    std::vector<std::string> tails;
    for (size_t at = header.size(); at < bytes.size();) {
        const size_t end = bytes.find("\r\n", at);
        ASSERT_NE(end, std::string::npos) << "a line without CR LF";
        const std::string line = bytes.substr(at, end - at);
        size_t cut = line.find(';');
        cut = line.find(';', cut + 1);
        tails.push_back(line.substr(cut + 1));
        at = end + 2;
    }
    EXPECT_EQ(tails, (std::vector<std::string>{"1;Neg.;1000;100;20;0.0;1.7;-123.0;c1",
                                               "2;Neg.;1000;100;20;0.0;1.8;-123.0;c2"}));
    EXPECT_TRUE(MainControlsEnabled());
}

TEST_F(CpmWindowTest, NegativeRunCurveEndsWhereTheMeasurementEnded)
{
    WithSim([](SimKarvo& s) {
        s.FramePeriodMs = 10;
        s.DecayTauMs = 150;
    });
    CPMSetup->SetSelectModeIndex(2); // NEG
    CPMSetup->BitBtnStartClick();
    ASSERT_TRUE(CPMSetup->BitBtnSaveResult->isEnabled());
    TCpmGraph* line = FormChartCPM->Series1;
    ASSERT_GT(line->PointCount(), 3);
    // Once the decay timing ran, the curve stays on the negative side to its end.
    int firstBlue = -1;
    for (int i = 0; i < line->PointCount(); ++i)
        if (line->PointColour(i) == QColor(0, 0, 255) && firstBlue < 0)
            firstBlue = i;
    ASSERT_GE(firstBlue, 0);
    for (int i = firstBlue; i < line->PointCount(); ++i)
        EXPECT_LT(line->PointY(i), 0) << "point " << i;
    EXPECT_GT(line->PointY(line->PointCount() - 1), -600); // near the stop voltage, not at +Vstart
}
