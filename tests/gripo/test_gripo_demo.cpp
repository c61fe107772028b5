// The whole program with the simulated bench: the tester's hidden menu is
// offered with "--demo gripo", its window reads the simulated tester and
// hands the main window back; the calibration entry ("pravelint") opens the
// calibration window on the simulated tera-ohmmeter.
#include "app/AppWindows.h"
#include "app/TMainForm.h"
#include "gripo/C_Gripo.h"
#include "gripo/TFormGripo.h"
#include "ohmra/TFormOhmraCali.h"
#include "platform/Paths.h"
#include "serial/TFoCom.h"
#include "serial/TSetup_COM.h"
#include "tests/support/ScriptedPrompt.h"
#include "tests/support/TestSupport.h"
#include "tests/support/WholeProgramTest.h"

#include <gtest/gtest.h>

namespace {

class GripoDemo : public WholeProgramTest {
protected:
    void Start(std::vector<const char*> args, bool demo)
    {
        CreateAllWindows(int(args.size()), args.data(), demo);
        MainForm->show();
    }
    static void Choose(const QString& name)
    {
        const int i = Setup_COM->ComboBoxDeviceName->findText(name);
        ASSERT_GE(i, 0) << name.toStdString();
        Setup_COM->ComboBoxDeviceName->setCurrentIndex(i);
        Setup_COM->ComboBoxDeviceNameChange();
    }
};

} // namespace

TEST_F(GripoDemo, TheTesterMenuStaysHiddenWithoutTheDemoWord)
{
    Start({"ulmaro", "gripo"}, false);
    EXPECT_FALSE(MainForm->Gripo1->menuAction()->isVisible());
    DestroyAllWindows();
    Start({"ulmaro", "--demo"}, true);
    EXPECT_FALSE(MainForm->Gripo1->menuAction()->isVisible());
}

TEST_F(GripoDemo, TheSimulatedTesterIsReadThroughTheShownMenu)
{
    Start({"ulmaro", "--demo", "gripo"}, true);
    ASSERT_TRUE(MainForm->Gripo1->menuAction()->isVisible());
    Choose("Gripo (simulated)");
    MainForm->Start_Gripo->trigger();
    EXPECT_TRUE(FormGripo->isVisible());
    EXPECT_FALSE(MainForm->isEnabled());
    EXPECT_EQ(FormGripo->windowTitle(), "Gripo / Port : Gripo (simulated)");
    EXPECT_TRUE(FoCom->ComPort1->Active());

    ScriptedPrompt prompt;
    prompt.Press(TPromptResult::Ok);
    FormGripo->BitBtn_Start->click();
    // The demo tester starts at 120 and counts the press of its plate.
    EXPECT_EQ(FormGripo->Counter_all->text(), "120");
    EXPECT_EQ(FormGripo->Counter_HGB_L_P->text(), "2.5%");
    EXPECT_TRUE(FormGripo->BitBtnSaveData->isEnabled());

    FormGripo->BitBtn_Cancel->click();
    EXPECT_FALSE(FormGripo->isVisible());
    EXPECT_TRUE(MainForm->isEnabled());
    EXPECT_TRUE(MainForm->ImageWallpaper->isVisibleTo(MainForm));
    EXPECT_FALSE(FoCom->ComPort1->Active());
}

TEST_F(GripoDemo, TheCalibrationEntryOpensTheWindowOnTheSimulatedMeter)
{
    Start({"ulmaro", "--demo", "pravelint"}, true);
    Choose("Ohmra (simulated)");
    MainForm->Ohmra_CalMenu->trigger();
    ASSERT_TRUE(FormOhmraCali->isVisible());
    EXPECT_FALSE(MainForm->isEnabled());
    EXPECT_EQ(FormOhmraCali->windowTitle(), "Ohmra / Port : Ohmra (simulated) Calibration mode");
    FormOhmraCali->BitBtn_read_meas_data->click();
    EXPECT_TRUE(FormOhmraCali->MemoInfo->toPlainText().contains("Range\t\t: "));
    EXPECT_TRUE(FormOhmraCali->GroupBoxStatus->isEnabled());
    FormOhmraCali->BitBtn_exit->click();
    EXPECT_FALSE(FormOhmraCali->isVisible());
    EXPECT_TRUE(MainForm->isEnabled());
    EXPECT_TRUE(MainForm->View->menuAction()->isEnabled());
    EXPECT_TRUE(MainForm->Device->menuAction()->isEnabled());
    EXPECT_FALSE(FoCom->ComPort1->Active());
}
