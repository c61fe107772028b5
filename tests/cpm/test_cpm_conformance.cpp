// What a user (or a program driving the windows) meets from outside: the
// decay chart's times in seconds at the cursor and in its CSV export, and
// the windows' controls found by their member names with their captions.
#include "acquisition/TChart.h"
#include "core/MainState.h"
#include "cpm/C_CPM_EF.h"
#include "cpm/TCPMSetup.h"
#include "cpm/TFormChartCPM.h"
#include "cpm/TFormReadCPMFiles.h"
#include "platform/Paths.h"
#include "serial/ComPort.h"
#include "sim/PtyPeer.h"
#include "tests/support/SimulatedMonitor.h"
#include "tests/support/TestSupport.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QRadioButton>
#include <gtest/gtest.h>

namespace {

class CpmWindowsFromOutside : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetSettingsDirectoryOverride(dir.path());
        FormChartCPM = new TFormChartCPM();
        FormReadCPMFiles = new TFormReadCPMFiles();
        CPMSetup = new TCPMSetup();
    }
    void TearDown() override
    {
        DeleteMonitorWindows();
        SetSettingsDirectoryOverride("");
    }

    // The cursor's text with the mouse over x (plot coordinates).
    static QString CursorAt(TChart* chart, double x)
    {
        QCustomPlot* plot = chart->Plot();
        chart->SetCursorEnabled(true);
        chart->MoveCursorTo(QPointF(plot->xAxis->coordToPixel(x), plot->yAxis->coordToPixel(0)));
        return chart->CursorText();
    }

    template <class T>
    static T* Find(QWidget* window, const char* name)
    {
        T* w = window->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }

    TempDir dir;
};

} // namespace

// The decay chart counts tenths of a second on its time axis; its cursor and
// its export give seconds, as the main chart's do, which stays as it was.
TEST_F(CpmWindowsFromOutside, DecayChartCursorAndExportSpeakSecondsMainChartUnchanged)
{
    TFormChartCPM* c = FormChartCPM;
    for (int i = 0; i <= 30; ++i)
        c->AddPoint(TCpmSeries::Measured, i, 1000 - 10 * i, TCpmColour::Blue);
    c->show();
    c->Chart1->setVisible(true);
    c->FitTimeAxis();
    EXPECT_TRUE(CursorAt(c->Chart1, 23).startsWith("2.3 sek.   770")) << CursorAt(c->Chart1, 23).toStdString();

    const QStringList lines = c->Chart1->CsvText().split("\r\n");
    ASSERT_GE(lines.size(), 25);
    EXPECT_EQ(lines[0], "Time (s);Value (Volt);Time stamp");
    EXPECT_TRUE(lines[1].startsWith("0;1000;")) << lines[1].toStdString();
    EXPECT_TRUE(lines[24].startsWith("2.3;770;")) << lines[24].toStdString();

    TChart main;
    main.resize(800, 500);
    main.SetTimeAxisMax(30);
    main.SetValueAxisRange(-1000, 1000);
    for (int i = 0; i <= 30; ++i)
        main.AddPoint(i, i);
    main.show();
    main.RepaintNow();
    EXPECT_DOUBLE_EQ(main.TimeAxisSeconds(), 1.0);
    EXPECT_TRUE(CursorAt(&main, 23).startsWith("23 sek.   23")) << CursorAt(&main, 23).toStdString();
    EXPECT_TRUE(main.CsvText().split("\r\n").value(24).startsWith("23;23;"));
}

TEST_F(CpmWindowsFromOutside, DecayWindowControlsByNameWithTheirCaptions)
{
    QWidget* w = CPMSetup;
    EXPECT_EQ(w->objectName(), "CPMSetup");
    EXPECT_EQ(w->windowTitle(), "CPM Mode");
    const std::pair<const char*, const char*> buttons[] = {
        {"ButtonReadSetup", "&Read setup"}, {"BitBtnStart", "Start &Measure"}, {"BitBtnChart", "View &Chart"},
        {"BitBtnBreak", "&Break"},          {"BitBtnReadFile", "Read &File"},  {"BitBtnInfo", "&Info"},
        {"ButtonClearDisplay", "C&lear Display"}, {"BitBtnCancel", "E&xit"},   {"BitBtnSaveResult", "Save results"},
        {"BitBtnOK", "OK &save"},
    };
    for (const auto& [name, caption] : buttons)
        if (auto* b = Find<QAbstractButton>(w, name)) {
            EXPECT_EQ(b->text(), caption) << name;
        }
    const std::pair<const char*, const char*> boxes[] = {
        {"GBDisplay", "Display"},         {"GroupBoxsetup", "Setup"},
        {"SelectMode", "SelectMode"},     {"GroupBoxParameters", "Parameters"},
        {"GroupBoxResult", "Results"},    {"GroupBoxPosDecayTime", "Pos. decay time"},
        {"GroupBoxNegDecayTime", "Neg. decay time"}, {"GroupBoxOffset", "Offset"},
    };
    for (const auto& [name, caption] : boxes)
        if (auto* g = Find<QGroupBox>(w, name)) {
            EXPECT_EQ(g->title(), caption) << name;
        }
    const std::pair<const char*, const char*> labels[] = {
        {"Label1", "VStart (V)"},          {"Label2", "VStop (V)"},           {"Label3", "Offset time (sec)"},
        // The start texts in the test locale's decimal separator (en_US).
        {"LabelPosDecayTime", "0.0 sec"}, {"LabelNegDecayTime", "0.0 sec"}, {"LabelOffset", "0 V"},
        {"Label5", "Comment"},
    };
    for (const auto& [name, caption] : labels)
        if (auto* l = Find<QLabel>(w, name)) {
            EXPECT_EQ(l->text(), caption) << name;
        }
    EXPECT_NE(Find<QWidget>(w, "MemoDisplay"), nullptr);
    EXPECT_NE(Find<QWidget>(w, "Edit1"), nullptr);

    QStringList modes;
    for (QRadioButton* r : Find<QGroupBox>(w, "SelectMode")->findChildren<QRadioButton*>())
        modes << r->text();
    EXPECT_EQ(modes, QStringList({"AUTO", "POS", "NEG"}));
    EXPECT_EQ(Find<QRadioButton>(w, "SelectMode_2")->text(), "NEG");
    auto items = [&](const char* name) {
        QStringList list;
        if (auto* box = Find<QComboBox>(w, name))
            for (int i = 0; i < box->count(); ++i)
                list << box->itemText(i);
        return list.join('|');
    };
    EXPECT_EQ(items("ComboBoxVStart"), "500 V|550 V|600 V|650 V|700 V|750 V|800 V|850 V|900 V|950 V|1000V");
    EXPECT_EQ(items("ComboBoxVStop"), "0 V|50 V|100 V|150 V|200 V|250 V|300 V|350 V|400 V|450 V|500 V");
    EXPECT_EQ(items("ComboBoxOffsetTime"), "0 sec.|10 sec.|20 sec.|30 sec.|40 sec.|50 sec.|60 sec.|120 sec.|"
                                           "180 sec.|240 sec.|300 sec.|360 sec.|420 sec.|480 sec.|540 sec.|600 sec.");
}

TEST_F(CpmWindowsFromOutside, ReadOutDialogAndChartWindowControlsByName)
{
    QWidget* d = FormReadCPMFiles;
    EXPECT_EQ(d->objectName(), "FormReadCPMFiles");
    EXPECT_EQ(d->windowTitle(), "CHARGE-PLATE Monitor");
    EXPECT_EQ(Find<QGroupBox>(d, "GroupBoxRangeFileNumber")->title(), "File number range");
    EXPECT_EQ(Find<QGroupBox>(d, "GroupBoxInputComment")->title(), "Input comments to file numbers");
    EXPECT_EQ(Find<QLabel>(d, "LabelRangeFileNumber")->text(), "Reading file number from ");
    EXPECT_EQ(Find<QLabel>(d, "Label1")->text(), "   to");
    EXPECT_EQ(Find<QLabel>(d, "Label3")->text(), "File Number :");
    EXPECT_EQ(Find<QLabel>(d, "Label4")->text(), "from");
    EXPECT_NE(Find<QLabel>(d, "LabelFileNumberActuell"), nullptr);
    EXPECT_NE(Find<QLabel>(d, "LabelFileNumberMax"), nullptr);
    EXPECT_NE(Find<QWidget>(d, "MaskEditStart"), nullptr);
    EXPECT_NE(Find<QWidget>(d, "MaskEditStopp"), nullptr);
    EXPECT_NE(Find<QWidget>(d, "TextCommentFile"), nullptr);
    EXPECT_EQ(Find<QAbstractButton>(d, "BitBtnOK")->text(), "OK");
    EXPECT_EQ(Find<QAbstractButton>(d, "BitBtnAbort")->text(), "Abort");

    QWidget* c = FormChartCPM;
    EXPECT_EQ(c->objectName(), "FormChartCPM");
    EXPECT_EQ(c->windowTitle(), "Chart CHARGE-PLATE Monitor");
    EXPECT_EQ(Find<QAbstractButton>(c, "BitBtn_Exit")->text(), "E&xit");
    EXPECT_EQ(Find<TChart>(c, "Chart1"), FormChartCPM->Chart1);
    EXPECT_NE(Find<QWidget>(c, "TeeCommander1"), nullptr);
}

// After Break the chart may be opened while the monitor still sends frames
// until its abort frame: the curve keeps growing in view.
TEST_F(CpmWindowsFromOutside, OpenDecayChartFollowsPointsStillComing)
{
    TFormChartCPM* c = FormChartCPM;
    for (int i = 0; i <= 10; ++i)
        c->AddPoint(TCpmSeries::Measured, i, 800, TCpmColour::Red);
    EXPECT_DOUBLE_EQ(c->Chart1->TimeAxisMax(), 1.0) << "a closed chart is fitted when it is shown";
    CPMSetup->show();
    CPMSetup->BitBtnChartClick();
    EXPECT_DOUBLE_EQ(c->Chart1->TimeAxisMax(), 10.0);
    const int replots = c->Chart1->ReplotCount();
    for (int i = 11; i <= 25; ++i)
        c->AddPoint(TCpmSeries::Measured, i, 700, TCpmColour::Blue);
    EXPECT_DOUBLE_EQ(c->Chart1->TimeAxisMax(), 25.0);
    EXPECT_GE(c->Chart1->Plot()->xAxis->range().upper, 25.0);
    EXPECT_TRUE(WaitUntil([&] { return c->Chart1->ReplotCount() > replots; }));
}

// --- the wire, byte for byte, against a monitor played from its description --

namespace {

const std::string STX = "\x02", ETX = "\x03", ENQ = "\x05", ACK = "\x06";

class CpmWireTest : public ::testing::Test {
protected:
    CpmWireTest()
    {
        MainState = &state;
        port.DeviceName(peer.SlavePath());
        port.BaudRate(br2400);
        port.DataBits(db8);
        port.Timeouts->ReadInterval(1000);
        port.Timeouts->ReadMultiplier(0);
        port.Timeouts->ReadConstant(1000);
        port.Timeouts->WriteMultiplier(1000);
        port.Timeouts->WriteConstant(1000);
    }
    ~CpmWireTest() override
    {
        peer.Stop();
        MainState = nullptr;
    }
    // The identification exchange every setup write starts with; the
    // monitor answers the ENQ before the setup data with 0x05 alone.
    void ExpectSetupWrite(const std::string& data)
    {
        peer.Expect(ENQ).Send(ACK).Expect(STX + "r0" + ETX)
            .Send(STX + "KARVO V6.11 XYZ 12345678150307" + ETX)
            .Expect(ENQ).Send(ENQ).Expect(STX + "w1" + ETX).Expect(STX + data + ETX);
    }
    TMainState state;
    PtyPeer peer;
    TComPort port;
    C_CPM_EF cpm{port};
};

} // namespace

TEST_F(CpmWireTest, PlateVoltmeterPreparationAndOneDisplayReadExactBytes)
{
    state.DeviceCode = 101;
    const std::string display = std::string("V-METER     ") + '\0' + "1kV" + "      523 V     ";
    ExpectSetupWrite("010102023209010101");
    peer.Expect(ENQ).Send(ACK).Expect(STX + "r2" + ETX).Send(STX + display + ETX).Start();
    port.Open();

    cpm.FillReadingSetup(101, 42);
    cpm.WriteSetup();
    double value = 0;
    QString unit = "V";
    const std::string shown = cpm.ReadDisplay(value, unit);
    EXPECT_DOUBLE_EQ(value, 523.0);
    EXPECT_EQ(unit, "kV");
    EXPECT_EQ(shown.size(), 32u);
    EXPECT_EQ(uint8_t(shown[12]), 0xB1);
    EXPECT_EQ(port.Timeouts->ReadMultiplier(), 100);
    EXPECT_TRUE(peer.Wait(5000));
    EXPECT_FALSE(peer.Failed()) << peer.Failure();
    // Nothing but the frames above went out.
    EXPECT_EQ(peer.Received(), ENQ + STX + "r0" + ETX + ENQ + STX + "w1" + ETX + STX + "010102023209010101" + ETX +
                                   ENQ + STX + "r2" + ETX);
}

TEST_F(CpmWireTest, StoredFileReadOutAsksEachNumberInTwoDigitsUntilTheEmptySlot)
{
    ExpectSetupWrite("010000003209010101");
    peer.Expect(ENQ).Send(ACK).Expect(STX + "r3" + ETX).Expect(STX + "01" + ETX)
        .Send(STX + "0110E80364001400170078007B80" + ETX)
        .Expect(ENQ).Send(ACK).Expect(STX + "r3" + ETX).Expect(STX + "02" + ETX)
        .Send(STX + "02FF" + std::string(24, '0') + ETX).Start();
    port.Open();

    std::array<std::string, 100> records;
    int count = -1;
    EXPECT_EQ(cpm.ReadStoredFiles(1, 5, records, count), -10);
    EXPECT_EQ(count, 1);
    EXPECT_EQ(records[1], "0110E80364001400170078007B80");
    EXPECT_TRUE(peer.Wait(5000));
    EXPECT_FALSE(peer.Failed()) << peer.Failure();
    EXPECT_EQ(peer.Received().size(), size_t(1 + 4 + 1 + 4 + 20 + 2 * (1 + 4 + 4)));
}
