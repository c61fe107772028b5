// The tera-ohmmeter's calibration window against the simulated meter on a
// pseudo-terminal: parameters, the serial number and date entry, the
// measured data with its status bits, the unlock chain of the buttons, the
// calibration file and the window's state after a port failure.
#include "core/MainLink.h"
#include "core/MainState.h"
#include "ohmra/TFormOhmraCali.h"
#include "platform/IniFile.h"
#include "platform/Paths.h"
#include "tests/ohmra/OhmraTestBench.h"
#include "tests/support/ModalDialogs.h"
#include "tests/support/ScriptedPrompt.h"
#include "tests/support/TestSupport.h"

#include <QApplication>
#include <QPrintDialog>
#include <QTimer>
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>

namespace {

using Fault = SimOhmra::Fault;

std::string ReadFile(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

class OhmraCali : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetSettingsDirectoryOverride(dir.path());
        MainState = &state;
        MainLink().ReturnToMain = [this] { ++returned; };
        MainLink().DisplayClosed = [this] { ++menusBack; };
        MainLink().CloseDisplay = [this] { ++displayClosed; };
        w = new TFormOhmraCali(&bench.port);
        FormOhmraCali = w;
        w->Today = [] { return QDate(2009, 12, 8); };
    }
    void TearDown() override
    {
        delete w;
        MainState = nullptr;
        MainLink().ReturnToMain = nullptr;
        MainLink().DisplayClosed = nullptr;
        MainLink().CloseDisplay = nullptr;
        SetSettingsDirectoryOverride("");
    }
    QStringList Memo() const { return w->MemoInfo->toPlainText().split('\n'); }
    QStringList Fields() const
    {
        QStringList t;
        for (QLineEdit* e : {w->MaskEdit_k0, w->MaskEdit_k1, w->MaskEdit_k2, w->MaskEdit_k3, w->MaskEdit_k4,
                             w->MaskEdit_k5, w->MaskEdit_k_TF0, w->MaskEdit_k_TF2, w->MaskEdit_k_TF3})
            t << e->text();
        return t;
    }
    // The entry of Write Cali date, answered from inside its wait loop.
    void EnterDate(const QString& number, const QString& date)
    {
        QTimer::singleShot(20, [this, number, date] {
            EXPECT_TRUE(w->GroupBoxCaliData->isVisible() || w->GroupBoxCaliData->isVisibleTo(w));
            w->MaskEditSerialNumber->setText(number);
            w->MaskEditSerialDate->setText(date);
            w->BitBtnCaliDateOKClick();
        });
    }
    bool EntryButtonsEnabled() const
    {
        return w->BitBtn_read_para->isEnabled() && w->BitBtn_write_para->isEnabled() &&
               w->BitBtn_exit->isEnabled() && w->BitBtn_read_cali_data->isEnabled() &&
               w->BitBtn_write_cali_data->isEnabled();
    }
    // Write parameters answered OK; runs the five-second wait.
    void WriteParameters()
    {
        prompt.Press(TPromptResult::Ok);
        w->BitBtn_write_paraClick();
    }
    // The chain a user goes through before Write Cali date is offered.
    void UnlockDateEntry()
    {
        WriteParameters();
        w->BitBtn_read_cali_dataClick();
        ASSERT_TRUE(w->BitBtn_write_cali_data->isEnabled());
        w->MemoInfo->clear();
        bench.Commands();
    }
    // ... and Save after it.
    void UnlockSave()
    {
        UnlockDateEntry();
        EnterDate("5", "11.09");
        w->BitBtn_write_cali_dataClick();
        ASSERT_TRUE(w->BitBtn_save->isEnabled());
        w->MemoInfo->clear();
    }

    TempDir dir;
    TMainState state;
    OhmraBench bench;
    ScriptedPrompt prompt;
    TFormOhmraCali* w = nullptr;
    int returned = 0, menusBack = 0, displayClosed = 0;
};

} // namespace

TEST_F(OhmraCali, StartsWithTheDefaultsAndOnlyTheFirstStepsUsable)
{
    EXPECT_EQ(Fields(), QStringList(9, "200"));
    EXPECT_EQ(w->windowTitle(), "Calibration Ohmra");
    EXPECT_TRUE(w->BitBtn_read_para->isEnabled());
    EXPECT_TRUE(w->BitBtn_read_default->isEnabled());
    EXPECT_TRUE(w->BitBtn_write_para->isEnabled());
    EXPECT_TRUE(w->BitBtn_read_meas_data->isEnabled());
    EXPECT_TRUE(w->BitBtn_reset->isEnabled());
    EXPECT_TRUE(w->BitBtn_print->isEnabled());
    EXPECT_TRUE(w->BitBtn_clear->isEnabled());
    EXPECT_TRUE(w->BitBtn_exit->isEnabled());
    EXPECT_FALSE(w->BitBtn_read_cali_data->isEnabled());
    EXPECT_FALSE(w->BitBtn_write_cali_data->isEnabled());
    EXPECT_FALSE(w->BitBtn_save->isEnabled());
    EXPECT_FALSE(w->GroupBoxStatus->isEnabled());
    EXPECT_FALSE(w->GroupBoxCaliData->isVisibleTo(w));
    EXPECT_FALSE(w->ProgressBarWait->isVisibleTo(w));
    EXPECT_EQ(w->SaveDialogCali->windowTitle(), "Write calibration data to file");
    EXPECT_EQ(w->CheckBox6->text(), "Underflow");
    EXPECT_EQ(w->CheckBox7->text(), "Overflow");
    EXPECT_EQ(w->Para.k0, 0);
    EXPECT_EQ(w->Para.SerialText, "");

    // Defaults from the settings file.
    TIniFile ini(SetupIniPath());
    ini.WriteInteger("Ohmra", "k3", 4711);
    ini.WriteInteger("Ohmra", "k_TF3", 65535);
    w->BitBtn_read_defaultClick();
    EXPECT_EQ(Fields(), (QStringList{"200", "200", "200", "4711", "200", "200", "200", "200", "65535"}));
    EXPECT_EQ(Memo().back(), "Reading Parameters from setup.ini");
}

TEST_F(OhmraCali, ReadParametersFillsTheFieldsOrReportsTheError)
{
    w->BitBtn_read_paraClick();
    EXPECT_EQ(Fields(), (QStringList{"1000", "2000", "3000", "4000", "5000", "6000", "700", "800", "900"}));
    EXPECT_EQ(Memo(), (QStringList{"Read Parameters from Ohmra", "OK !"}));
    EXPECT_EQ(w->Para.k0, 0);  // read into the fields only

    w->MaskEdit_k1->setText("1");
    bench.Sim([](SimOhmra& s) { s.Faults = {Fault::Nak}; });
    w->BitBtn_read_paraClick();
    EXPECT_EQ(Memo().back(), "Error occurred ! Error number : 1");
    EXPECT_EQ(w->MaskEdit_k1->text(), "1");
}

TEST_F(OhmraCali, WriteParametersSendsTheFrameWaitsAndUnlocksReadInfo)
{
    // Cancelled: nothing goes out.
    prompt.Press(TPromptResult::Cancel);
    w->BitBtn_write_paraClick();
    EXPECT_EQ(Memo(), QStringList{"Write Parameters canceled!"});
    ASSERT_FALSE(prompt.shown().empty());
    EXPECT_EQ(prompt.shown()[0].text, "Are you sure ?");
    EXPECT_EQ(prompt.shown()[0].caption, "Query");
    EXPECT_EQ(prompt.shown()[0].buttons, TPromptButtons::OkCancel);
    EXPECT_EQ(prompt.shown()[0].icon, TPromptIcon::Exclamation);
    EXPECT_EQ(bench.peer.Received(), "");

    // Nine times 200: the frame of the worked example, checksum 63.
    bool sawWait = false;
    QTimer::singleShot(1000, [&] {
        sawWait = w->ProgressBarWait->isVisibleTo(w) && !w->BitBtn_exit->isEnabled() &&
                  !w->BitBtn_read_para->isEnabled() && w->ProgressBarWait->maximum() == 50;
    });
    WriteParameters();
    EXPECT_EQ(bench.ReceivedHex(),
              "02 1A 90 F0 00 C8 00 C8 00 C8 00 C8 00 C8 00 C8 00 C8 00 08 FF C8 00 C8 00 63");
    EXPECT_TRUE(sawWait);
    EXPECT_GE(w->WaitElapsed, 5000);
    EXPECT_FALSE(w->ProgressBarWait->isVisibleTo(w));
    EXPECT_EQ(Memo().mid(1), (QStringList{"Write Parameters to Ohmra", "Wait 5 Sec.", "succesfully !"}));
    EXPECT_TRUE(w->BitBtn_read_cali_data->isEnabled());
    EXPECT_TRUE(w->BitBtn_print->isEnabled());
    EXPECT_TRUE(w->BitBtn_exit->isEnabled());
    EXPECT_FALSE(w->BitBtn_save->isEnabled());
    EXPECT_EQ(w->Para.k_TF3, 200);
}

TEST_F(OhmraCali, AFieldWithoutANumberEndsWriteParametersBeforeSending)
{
    w->MaskEdit_k2->setText("");
    prompt.Press(TPromptResult::Ok);
    EXPECT_THROW(w->BitBtn_write_paraClick(), std::invalid_argument);
    EXPECT_EQ(bench.peer.Received(), "");
    EXPECT_EQ(w->Para.k0, 0);
}

TEST_F(OhmraCali, TheUnlockChainAndTheCalibrationDateOnTheWire)
{
    LocaleGuard de(QLocale(QLocale::German, QLocale::Germany));
    WriteParameters();
    ASSERT_TRUE(w->BitBtn_read_cali_data->isEnabled());
    EXPECT_FALSE(w->BitBtn_write_cali_data->isEnabled());

    w->BitBtn_read_cali_dataClick();
    EXPECT_TRUE(w->BitBtn_write_cali_data->isEnabled());
    EXPECT_FALSE(w->BitBtn_save->isEnabled());
    EXPECT_EQ(w->Para.SwVersion, "1.02");
    const QStringList info = Memo().mid(Memo().indexOf("Read info from Ohmra") + 1);
    EXPECT_EQ(info, (QStringList{QString(46, '-'), "Calibration  date\t: 03.04.2010", "Software version\t: 1.02",
                                 "Serial number\t: 00050112", "OK !", QString(46, '-')}));

    // Serial number 123 of 11/09, written on 8 December 2009.
    EnterDate("123", "11.09");
    w->BitBtn_write_cali_dataClick();
    const auto cmds = bench.Commands();
    ASSERT_FALSE(cmds.empty());
    EXPECT_EQ(cmds.back(), "A07B000B09FF080C09");
    // The frame itself: STX, LEN 12, the nine bytes and their mean (601 / 11).
    const std::string wire = bench.ReceivedHex();
    const std::string frame = "02 0C A0 7B 00 0B 09 FF 08 0C 09 36";
    ASSERT_GE(wire.size(), frame.size());
    EXPECT_EQ(wire.substr(wire.size() - frame.size()), frame);
    EXPECT_EQ(w->Para.CalDate, "08.12.2009");
    EXPECT_EQ(w->Para.SerialText, "12311.09");
    EXPECT_EQ(Memo().mid(Memo().size() - 2), (QStringList{"Write to Ohmra ...", "successfully"}));
    EXPECT_TRUE(w->BitBtn_save->isEnabled());
    EXPECT_TRUE(EntryButtonsEnabled());
    EXPECT_FALSE(w->GroupBoxCaliData->isVisibleTo(w));

    // The meter now tells what was written.
    w->BitBtn_read_cali_dataClick();
    EXPECT_TRUE(Memo().contains("Serial number\t: 01231109"));
    EXPECT_TRUE(Memo().contains("Calibration  date\t: 08.12.2009"));

    // Saving twice into a new file: header and two lines with the k values
    // of the last Write parameters.
    const QString file = QString::fromStdString(dir.file("cali.CSV"));
    EXPECT_EQ(w->WriteCalibrationFile(file), 0);
    EXPECT_EQ(w->WriteCalibrationFile(file), 0);
    const std::string line = "'12311.09;'08.12.2009;'1.02;200;200;200;200;200;200;200;200;200\r\n";
    EXPECT_EQ(ReadFile(file.toStdString()),
              "Serial number;Date;SW version;Factor k0;Factor k1;Factor k2;Factor k3;Factor k4;Factor k5;"
              "Factor k_TF0;Factor k_TF2;Factor k_TF3;\r\n" +
                  line + line);
    EXPECT_EQ(Memo().mid(Memo().size() - 2), (QStringList{"Calibration data stored successfully to : ", file}));

    // Exit locks the chain again.
    w->show();
    w->BitBtn_exitClick();
    EXPECT_FALSE(w->isVisible());
    EXPECT_FALSE(w->BitBtn_read_cali_data->isEnabled());
    EXPECT_FALSE(w->BitBtn_write_cali_data->isEnabled());
    EXPECT_FALSE(w->BitBtn_save->isEnabled());
    EXPECT_EQ(w->MemoInfo->toPlainText(), "");
    EXPECT_FALSE(bench.port.Active());
    EXPECT_TRUE(state.StopFlag);
    EXPECT_EQ(returned, 1);
    EXPECT_EQ(menusBack, 1);
    EXPECT_EQ(displayClosed, 1);
    EXPECT_EQ(w->Para.SerialText, "12311.09");  // kept for the next opening
}

TEST_F(OhmraCali, AMonthOutsideTheYearAsksAgainAndCancelSendsNothing)
{
    LocaleGuard de(QLocale(QLocale::German, QLocale::Germany));
    UnlockDateEntry();
    const size_t sent = bench.Commands().size();
    int wrongMonths = 0;
    prompt.onShown = [&](const ScriptedPrompt::Shown& s) {
        EXPECT_EQ(s.text, "Incorrect date entry ");
        EXPECT_EQ(s.caption, "Input errors");
        // The first answer was 13, the second 00; then a good month.
        EnterDate("42", ++wrongMonths == 1 ? "00.10" : "01.10");
    };
    EnterDate("42", "13.09");
    w->BitBtn_write_cali_dataClick();
    EXPECT_EQ(wrongMonths, 2);
    const auto cmds = bench.Commands();
    ASSERT_EQ(cmds.size(), sent + 1);
    EXPECT_EQ(cmds.back(), "A02A00010AFF080C09");
    prompt.onShown = nullptr;

    // Cancel: the entry closes, the buttons come back, nothing more is sent.
    const size_t before = bench.peer.Received().size();
    QTimer::singleShot(20, [this] { w->BitBtnCaliDateCancelClick(); });
    w->BitBtn_write_cali_dataClick();
    EXPECT_EQ(Memo().back(), "cancelled");
    EXPECT_TRUE(EntryButtonsEnabled());
    EXPECT_FALSE(w->GroupBoxCaliData->isVisibleTo(w));
    EXPECT_EQ(bench.peer.Received().size(), before);
}

// Print is offered while the date entry waits; after its dialog the entry
// is still open and still the only way on, and its OK writes the date once.
TEST_F(OhmraCali, PrintDuringTheDateEntryLeavesTheEntryOpen)
{
    UnlockDateEntry();
    const size_t sent = bench.Commands().size();
    bool entryOpenAfterPrint = false, restOffAfterPrint = false;
    QTimer::singleShot(20, [&] {
        ASSERT_TRUE(w->BitBtn_print->isEnabled());
        WhenModal<QPrintDialog>([](QPrintDialog* d) { d->reject(); });
        w->BitBtn_print->click();
        entryOpenAfterPrint = w->GroupBoxCaliData->isVisibleTo(w) && w->GroupBoxCaliData->isEnabled();
        restOffAfterPrint = !w->BitBtn_read_para->isEnabled() && !w->BitBtn_write_para->isEnabled() &&
                            !w->BitBtn_read_cali_data->isEnabled() && !w->BitBtn_write_cali_data->isEnabled() &&
                            !w->BitBtn_exit->isEnabled();
        EnterDate("5", "11.09");
    });
    w->BitBtn_write_cali_dataClick();
    EXPECT_TRUE(entryOpenAfterPrint);
    EXPECT_TRUE(restOffAfterPrint);
    EXPECT_EQ(bench.Commands().size(), sent + 1) << "one date frame";
    EXPECT_EQ(Memo().count("Write to Ohmra ..."), 1);
    EXPECT_EQ(Memo().count("successfully"), 1);
    EXPECT_TRUE(EntryButtonsEnabled());
    EXPECT_FALSE(w->GroupBoxCaliData->isVisibleTo(w));
}

// An empty Number field: the write is announced, then ends with the
// conversion error before anything goes out; the window stays usable.
TEST_F(OhmraCali, ADateEntryWithoutANumberEndsAfterItsLine)
{
    UnlockDateEntry();
    const std::string before = bench.peer.Received();
    EnterDate("", "11.09");
    EXPECT_THROW(w->BitBtn_write_cali_dataClick(), std::invalid_argument);
    EXPECT_EQ(Memo().back(), "Write to Ohmra ...");
    EXPECT_EQ(bench.peer.Received(), before);
    EXPECT_TRUE(EntryButtonsEnabled());
    EXPECT_FALSE(w->BitBtn_save->isEnabled());
}

TEST_F(OhmraCali, ATimeoutDuringTheDateWriteLeavesTheWindowUsable)
{
    UnlockDateEntry();
    bench.port.Timeouts->ReadConstant(400);
    bench.Sim([](SimOhmra& s) { s.Faults = {Fault::Silence}; });
    EnterDate("7", "05.09");
    EXPECT_THROW(w->BitBtn_write_cali_dataClick(), EComError);
    EXPECT_TRUE(EntryButtonsEnabled());
    EXPECT_FALSE(w->GroupBoxCaliData->isVisibleTo(w));
    EXPECT_FALSE(w->GroupBoxCaliData->isEnabled());
    EXPECT_FALSE(w->BitBtn_save->isEnabled());
    // And it goes on working.
    bench.port.Timeouts->ReadConstant(3000);
    w->BitBtn_read_cali_dataClick();
    EXPECT_EQ(Memo().back(), QString(46, '-'));
}

TEST_F(OhmraCali, MeasuredDataShowsTheFieldsAndTheStatusBits)
{
    // 0x01: averaging only.
    w->BitBtn_read_meas_dataClick();
    EXPECT_TRUE(w->GroupBoxStatus->isEnabled());
    EXPECT_EQ(Memo(), (QStringList{QString(48, '-'), "Range\t\t: 2", "Exponent\t\t: 6", "Resistor\t\t: 4.7GOhm",
                                   QString::fromUtf8("Temperature\t: 23°C"), "Humidity\t\t: 45%r.F", "Timer\t\t: 0",
                                   QString(48, '-')}));
    // ULMARO_SHOT_DIR keeps a picture of the window for a look.
    if (qEnvironmentVariableIsSet("ULMARO_SHOT_DIR"))
        w->grab().save(qEnvironmentVariable("ULMARO_SHOT_DIR") + "/ohmra_cali.png");
    auto ticks = [this] {
        QString t;
        for (QCheckBox* c : {w->CheckBox0, w->CheckBox1, w->CheckBox2, w->CheckBox3, w->CheckBox4, w->CheckBox5,
                             w->CheckBox6, w->CheckBox7})
            t += c->isChecked() ? '1' : '0';
        return t;
    };
    EXPECT_EQ(ticks(), "10000000");
    EXPECT_EQ(bench.Commands(), (std::vector<std::string>{"C004", "C004"}));

    // 0x81: averaging and too low; no values, no closing dashes.
    w->BitBtn_clearClick();
    bench.Sim([](SimOhmra& s) { s.Live.status = 0x81; });
    w->BitBtn_read_meas_dataClick();
    EXPECT_EQ(Memo(), (QStringList{QString(48, '-'), "Range\t\t: 2", "Exponent\t\t: 6", "UNDERFLOW"}));
    EXPECT_EQ(ticks(), "10000010");

    // 0xC1: averaging and too high.
    w->BitBtn_clearClick();
    bench.Sim([](SimOhmra& s) { s.Live.status = 0xC1; });
    w->BitBtn_read_meas_dataClick();
    EXPECT_EQ(Memo().back(), "OVERFLOW");
    EXPECT_EQ(ticks(), "10000001");

    // A second reading that fails adds nothing and leaves the boxes.
    w->BitBtn_clearClick();
    bench.Sim([](SimOhmra& s) { s.Faults = {Fault::None, Fault::Nak}; });
    w->BitBtn_read_meas_dataClick();
    EXPECT_EQ(w->MemoInfo->toPlainText(), "");
    EXPECT_EQ(ticks(), "10000001");
}

TEST_F(OhmraCali, ResetWaitsFiveSecondsAndRestoresTheButtonsAsTheyWere)
{
    w->BitBtn_resetClick();
    EXPECT_EQ(Memo(), (QStringList{"Wait 5 Sec.", "OK"}));
    EXPECT_FALSE(w->BitBtn_save->isEnabled());
    EXPECT_FALSE(w->BitBtn_read_cali_data->isEnabled());
    EXPECT_TRUE(w->BitBtn_exit->isEnabled());
    int resets = 0;
    bench.Sim([&](SimOhmra& s) { resets = s.Resets; });
    EXPECT_EQ(resets, 1);

    // Further on in the chain, a reset keeps what was unlocked.
    UnlockSave();
    w->BitBtn_resetClick();
    EXPECT_TRUE(w->BitBtn_save->isEnabled());
    EXPECT_TRUE(w->BitBtn_read_cali_data->isEnabled());
    EXPECT_TRUE(w->BitBtn_write_cali_data->isEnabled());
    EXPECT_TRUE(w->BitBtn_exit->isEnabled());
}

// A value the meter was never given must not reach the calibration file:
// the parameters are kept only once the write went through.
TEST_F(OhmraCali, ARefusedParameterIsNotKeptForTheFile)
{
    UnlockSave();   // the nine defaults (200) written
    w->MaskEdit_k0->setText("70000");
    prompt.Press(TPromptResult::Ok);
    w->BitBtn_write_paraClick();
    EXPECT_EQ(w->Para.k0, 200);
    EXPECT_TRUE(w->BitBtn_save->isEnabled());
    w->RunSaveDialog = [this](QFileDialog&) { return QString::fromStdString(dir.file("cal.csv")); };
    w->BitBtn_saveClick();
    const std::string text = ReadFile(dir.file("cal.csv"));
    EXPECT_NE(text.find(";200;200;200;200;200;200;200;200;200\r\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("70000"), std::string::npos);
    EXPECT_FALSE(w->BitBtn_save->isEnabled());
}

TEST_F(OhmraCali, SaveGoesThroughTheDialogAndAFailedWriteIsReported)
{
    UnlockSave();
    w->Para.SerialText = "00051109";
    QString offeredDir, offeredName;
    WhenModal<QFileDialog>([&](QFileDialog* d) {
        offeredDir = d->directory().absolutePath();
        offeredName = d->selectedFiles().value(0);
        d->selectFile(QString::fromStdString(dir.file("cal.CSV")));
        QMetaObject::invokeMethod(d, "accept");
    });
    w->BitBtn_saveClick();
    EXPECT_EQ(offeredDir + "/", QString::fromStdString(HomeDirectory()));
    EXPECT_TRUE(offeredName.contains("/OhmracaliData")) << offeredName.toStdString();
    EXPECT_FALSE(w->BitBtn_save->isEnabled());
    EXPECT_EQ(TIniFile(SetupIniPath()).ReadString("Ohmra", "DataDirectory", "?"), dir.path() + "/");
    EXPECT_EQ(state.CpmDataDirectory.toStdString(), dir.path() + "/");
    EXPECT_NE(ReadFile(dir.file("cal.CSV")).find("'00051109;'08.12.2009;'1.02;"), std::string::npos);

    // Nothing can be written: the user is told and Save stays offered.
    EXPECT_EQ(w->WriteCalibrationFile("/dev/full"), 1);
    ASSERT_FALSE(prompt.shown().empty());
    EXPECT_TRUE(prompt.shown().back().text.startsWith("Can't write to file : /dev/full"));
    const QString missing = QString::fromStdString(dir.file("gone/cal.CSV"));
    EXPECT_EQ(w->WriteCalibrationFile(missing), -1);
    EXPECT_EQ(prompt.shown().back().text, "Can't create file : " + missing);
    EXPECT_EQ(prompt.shown().back().caption, "Error");
}
