// The tera-ohmmeter's measurement window inside the whole program with the
// simulated bench: opened from the Device menu, it hands the main window back
// on Exit with the menus as the instrument windows leave them.
#include "app/AppWindows.h"
#include "app/TMainForm.h"
#include "gripo/TFormGripo.h"
#include "ohmra/TFormOhmra.h"
#include "platform/Paths.h"
#include "serial/TFoCom.h"
#include "serial/TSetup_COM.h"
#include "core/MainLink.h"
#include "tests/support/TestSupport.h"
#include "tests/support/WholeProgramTest.h"

#include <gtest/gtest.h>

#include <QMenuBar>

namespace {

class OhmraDemo : public WholeProgramTest {
protected:
    void SetUp() override
    {
        WholeProgramTest::SetUp();
        const char* args[] = {"ulmaro", "--demo", "gripo"};
        CreateAllWindows(3, args, true);
        MainForm->show();
        const int i = Setup_COM->ComboBoxDeviceName->findText("Ohmra (simulated)");
        ASSERT_GE(i, 0);
        Setup_COM->ComboBoxDeviceName->setCurrentIndex(i);
        Setup_COM->ComboBoxDeviceNameChange();
    }
    static bool Offered(QMenu* m) { return m->menuAction()->isEnabled(); }
};

} // namespace

TEST_F(OhmraDemo, ExitGivesTheMainWindowBackWithViewStillDisabled)
{
    // A range chosen first offers View; the Ohmra entry takes it away again.
    MainForm->DeviceItems.value("N20kVm2")->trigger();
    ASSERT_TRUE(Offered(MainForm->View));
    MainForm->Ohmra_Start->trigger();
    ASSERT_TRUE(FormOhmra->isVisible());
    EXPECT_FALSE(MainForm->isEnabled());
    EXPECT_FALSE(Offered(MainForm->View));
    EXPECT_TRUE(FoCom->ComPort1->Active());
    EXPECT_EQ(FormOhmra->windowTitle(), "Ohmra / Port : Ohmra (simulated)");

    FormOhmra->BitBtn_exit->click();
    EXPECT_FALSE(FormOhmra->isVisible());
    EXPECT_TRUE(MainForm->isEnabled());
    EXPECT_FALSE(Offered(MainForm->View));
    EXPECT_TRUE(Offered(MainForm->Device));
    EXPECT_TRUE(Offered(MainForm->Setup));
    EXPECT_TRUE(MainForm->ImageWallpaper->isVisibleTo(MainForm));
    EXPECT_FALSE(FoCom->ComPort1->Active());
    EXPECT_TRUE(MainForm->StopFlag);

    // Closing by the frame does the same.
    MainForm->Ohmra_Start->trigger();
    FormOhmra->close();
    EXPECT_TRUE(MainForm->isEnabled());
    EXPECT_FALSE(Offered(MainForm->View));
    EXPECT_TRUE(Offered(MainForm->Device));
}

TEST_F(OhmraDemo, InstrumentWindowsLeaveEveryMenuEntryAsTheProgramSetIt)
{
    // The serial entries taken away (as after a port that could not be
    // chosen) while the tester's stays: a trip through the tester's window
    // must not offer them again.
    MainLink().SerialMenusEnabled(false, false);
    ASSERT_FALSE(Offered(MainForm->Karvo1));
    ASSERT_FALSE(Offered(MainForm->Ohmra1));
    ASSERT_TRUE(Offered(MainForm->Gripo1));
    MainForm->Start_Gripo->trigger();
    ASSERT_TRUE(FormGripo->isVisible());
    FormGripo->BitBtn_Cancel->click();
    EXPECT_TRUE(MainForm->isEnabled());
    EXPECT_FALSE(Offered(MainForm->Karvo1));
    EXPECT_FALSE(Offered(MainForm->Ohmra1));
    EXPECT_TRUE(Offered(MainForm->Gripo1));
    EXPECT_FALSE(Offered(MainForm->View));
    EXPECT_TRUE(Offered(MainForm->Device));
}
