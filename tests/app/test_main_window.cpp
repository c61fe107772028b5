// The main window as a user meets it: menus, captions, optional devices,
// the selection, the serial instrument entries and the banner picture.
#include "app/AppWindows.h"
#include "app/TMainForm.h"
#include "app/TFormHelp.h"
#include "cpm/TCPMSetup.h"
#include "gripo/TFormGripo.h"
#include "ohmra/TFormOhmra.h"
#include "platform/Paths.h"
#include "platform/Pictures.h"
#include "tests/support/TestSupport.h"

#include <QMenuBar>
#include <gtest/gtest.h>
#include <vector>

namespace {

QString Plain(QString caption) { return caption.remove('&'); }

// Builds all windows against settings files in a temporary folder.
class MainWindowTest : public ::testing::Test {
protected:
    TempDir dir;
    void Start(const std::string& setupUlmaro = {}, std::vector<const char*> args = {"ulmaro"})
    {
        if (!setupUlmaro.empty())
            dir.write("SETUP_ULMARO.INI", setupUlmaro);
        SetSettingsDirectoryOverride(dir.path());
        CreateAllWindows(int(args.size()), args.data(), false);
    }
    void TearDown() override
    {
        if (MainForm)
            DestroyAllWindows();
        SetSettingsDirectoryOverride("");
    }
};

} // namespace

TEST_F(MainWindowTest, DefaultsWithoutASettingsFile)
{
    Start();
    EXPECT_EQ(MainForm->windowTitle(), "Ulmaro read out");
    EXPECT_EQ(Plain(MainForm->Exit1->text()), "Exit");
    EXPECT_EQ(Plain(MainForm->Device->title()), "Device");
    EXPECT_EQ(Plain(MainForm->View->title()), "View");
    EXPECT_EQ(Plain(MainForm->Setup->title()), "Setup");
    EXPECT_EQ(MainForm->Help->text(), "?");
    EXPECT_FALSE(MainForm->View->menuAction()->isEnabled());
    EXPECT_FALSE(MainForm->Quenor1->menuAction()->isVisible());
    EXPECT_FALSE(MainForm->Gripo1->menuAction()->isVisible());
    EXPECT_TRUE(MainForm->DeviceMenus["Talvis1"]->menuAction()->isVisible());
    EXPECT_FALSE(MainForm->Opt11->menuAction()->isVisible());
    EXPECT_FALSE(MainForm->Opt21->menuAction()->isVisible());
    EXPECT_FALSE(MainForm->Ohmra_CalMenu->isVisible());
    EXPECT_DOUBLE_EQ(MainForm->TimeSpan, 0.6);
    EXPECT_FALSE(MainForm->GroupBox1->isVisibleTo(MainForm));
    EXPECT_FALSE(MainForm->image_Manufac_Logo->isVisibleTo(MainForm));
    EXPECT_TRUE(MainForm->ImageWallpaper->isVisibleTo(MainForm));
    EXPECT_EQ(MainForm->DeviceTitle, "0");
    EXPECT_EQ(MainForm->PosMax, -9999);
    EXPECT_EQ(MainForm->NegMax, 9999);
    EXPECT_EQ(MainForm->Exit1->shortcut(), QKeySequence("Ctrl+X"));
    // Every other window exists and is hidden.
    EXPECT_FALSE(CPMSetup->isVisible());
    EXPECT_FALSE(FormHelp->isVisible());
}

TEST_F(MainWindowTest, MenuCaptionsFromTheSettingsFile)
{
    Start("[Menue]\nMain_1=Ende\nMain_2=Geraet\nMain_3=Ansicht\nMain_4=Hilfe\n");
    EXPECT_EQ(Plain(MainForm->Exit1->text()), "Ende");
    EXPECT_EQ(Plain(MainForm->Device->title()), "Geraet");
    EXPECT_EQ(Plain(MainForm->View->title()), "Ansicht");
    EXPECT_EQ(Plain(MainForm->Help->text()), "Hilfe");
}

TEST_F(MainWindowTest, OptionalDevicesShowWhenBothTextsAreSet)
{
    Start("[Menue]\n"
          "Text_Men_Opt_1=Manometer\nText_Sub_Men_Opt_1=Pressure\nText_Opt1_Unit=bar\nText_Opt1_2_Unit=mbar\n"
          "Value_Opt1_LeftAxisMin=-2.5\nValue_Opt1_LeftAxisMax=2.5\nValue_Opt1_Calc_Factor=2.5\n"
          "Value_Opt1_2_LeftAxisMin=0\nValue_Opt1_2_LeftAxisMax=10\n"
          "Text_Men_Opt_2=Other\n");
    ASSERT_TRUE(MainForm->Opt11->menuAction()->isVisible());
    EXPECT_EQ(Plain(MainForm->Opt11->title()), "Manometer");
    EXPECT_EQ(Plain(MainForm->Opt111->title()), "Pressure");
    EXPECT_EQ(Plain(MainForm->Opt121->text()), "±2.5bar");
    EXPECT_TRUE(MainForm->Opt121->isVisible());
    EXPECT_EQ(Plain(MainForm->Opt122->text()), "±10mbar");
    EXPECT_FALSE(MainForm->Opt122->isVisible()); // its minimum is 0
    // Only the menu text of device 2 is set: it stays hidden.
    EXPECT_FALSE(MainForm->Opt21->menuAction()->isVisible());

    MainForm->Opt121->trigger();
    EXPECT_EQ(MainForm->DeviceTitle, "Manometer");
    EXPECT_EQ(MainForm->DeviceCode, 1);
    EXPECT_EQ(MainForm->RangeCode, 70);
    EXPECT_DOUBLE_EQ(MainForm->CalcFactor, 2.5);
    EXPECT_EQ(MainForm->windowTitle(), "Ulmaro read out    Selected type =  Manometer  Range : ±2.5bar");
}

TEST_F(MainWindowTest, ARangeLeafSelectsAndEnablesView)
{
    Start();
    MainForm->DeviceItems["N20kVm2"]->trigger(); // Talvis, E-Fieldmeter, ±20kV/m
    EXPECT_EQ(MainForm->DeviceTitle, "Talvis");
    EXPECT_EQ(MainForm->DeviceCode, 1);
    EXPECT_EQ(MainForm->RangeCode, 4);
    EXPECT_EQ(MainForm->UnitText, "kV/m");
    EXPECT_DOUBLE_EQ(MainForm->CalcFactor, 20);
    EXPECT_TRUE(MainForm->RangeSelected);
    EXPECT_TRUE(MainForm->View->menuAction()->isEnabled());
    EXPECT_EQ(MainForm->windowTitle(), "Ulmaro read out    Selected type =  Talvis  Range : ±20kV/m");

    MainForm->DeviceItems["N10kVmax4kV1"]->trigger();
    EXPECT_EQ(MainForm->windowTitle(), "Ulmaro read out    Selected type =  Dexil  Range : ±10kV");
    MainForm->DeviceItems["E_Feld_N200kVm"]->trigger();
    EXPECT_EQ(MainForm->DeviceCode, 103);
    EXPECT_EQ(MainForm->windowTitle(), "Ulmaro read out    Selected type =  Karvo E-Field  Range : ±200kV/m");
}

TEST_F(MainWindowTest, CalibrationWordShowsTheServiceEntry)
{
    Start({}, {"ulmaro", "x", "PRAVELINT"});
    EXPECT_TRUE(MainForm->ServiceMode);
    EXPECT_TRUE(MainForm->Ohmra_CalMenu->isVisible());
}

TEST_F(MainWindowTest, SerialInstrumentEntriesKeepTheLastRange)
{
    Start();
    MainForm->DeviceItems["N200kVm3"]->trigger();
    MainForm->ComPortName = "ttyS7";
    try {
        MainForm->Ohmra_StartClick();
    } catch (const std::exception&) {
        // No serial port on a test machine: the window is shown before the port opens.
    }
    EXPECT_EQ(MainForm->DeviceCode, 100);
    EXPECT_EQ(MainForm->RangeCode, 0);
    EXPECT_EQ(MainForm->UnitText, "kV/m");
    EXPECT_DOUBLE_EQ(MainForm->CalcFactor, 200);
    EXPECT_EQ(MainForm->windowTitle(), "Ulmaro read out    Selected type =  Ohmra (TERA - Ohmmeter)");
    EXPECT_EQ(FormOhmra->windowTitle(), "Ohmra / Port : ttyS7");
    EXPECT_TRUE(FormOhmra->isVisible());
    EXPECT_FALSE(FormOhmra->BitBtn_start->isEnabled());
    EXPECT_FALSE(MainForm->isEnabled());
    EXPECT_FALSE(MainForm->View->menuAction()->isEnabled());
    EXPECT_FALSE(MainForm->ImageWallpaper->isVisibleTo(MainForm));
}

TEST_F(MainWindowTest, HelpDisablesTheMenusUntilOk)
{
    Start();
    MainForm->HelpClick();
    EXPECT_TRUE(FormHelp->isVisible());
    EXPECT_FALSE(MainForm->Device->menuAction()->isEnabled());
    EXPECT_FALSE(MainForm->View->menuAction()->isEnabled());
    EXPECT_FALSE(MainForm->Setup->menuAction()->isEnabled());
}

TEST_F(MainWindowTest, AnUnreadableBannerKeepsTheBuiltInLogo)
{
    dir.write("corrupt.jpg", std::string("\xFF\xD8\xFF\xE0 this is not really a picture", 32));
    Start("[Menue]\nBanner=" + dir.file("corrupt.jpg") + "\n");
    EXPECT_EQ(MainForm->LogoPicture, BuiltInLogo());
}

TEST_F(MainWindowTest, AReadableBannerReplacesTheLogo)
{
    QImage img(40, 20, QImage::Format_RGB32);
    img.fill(Qt::red);
    ASSERT_TRUE(img.save(QString::fromStdString(dir.file("banner.jpg")), "JPG"));
    Start("[Menue]\nBanner=" + dir.file("banner.jpg") + "\n");
    EXPECT_EQ(MainForm->LogoPicture.size(), QSize(40, 20));
}

TEST_F(MainWindowTest, ValueBoxesShowLongTextsWhole)
{
    Start();
    QPlainTextEdit* box = MainForm->Maxwert;
    TMainForm::SetBoxText(box, "12.35kV/m");
    EXPECT_EQ(box->font().pixelSize(), 32);
    TMainForm::SetBoxText(box, "OVERFLOW !");
    EXPECT_EQ(TMainForm::BoxText(box), "OVERFLOW !");
    const int room = box->contentsRect().width() - 2 * int(box->document()->documentMargin());
    EXPECT_LE(QFontMetrics(box->font()).horizontalAdvance("OVERFLOW !"), room);
    TMainForm::SetBoxText(box, "-0.30kV/m");
    EXPECT_EQ(box->font().pixelSize(), 32);
}

TEST_F(MainWindowTest, ADisabledMainWindowCannotBeClosedUnderAnInstrumentWindow)
{
    Start();
    MainForm->show();
    CPMSetup->show();
    MainForm->setEnabled(false); // the instrument window has it
    EXPECT_FALSE(MainForm->close());
    EXPECT_TRUE(MainForm->isVisible());
    EXPECT_FALSE(MainForm->StopFlag);
    CPMSetup->hide();
    MainForm->setEnabled(true);
}
