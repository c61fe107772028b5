// Every window carries its caption as its accessible name, for screen
// readers and UI automation, whoever made the window.
#include "app/AccessibleNames.h"
#include "app/AppWindows.h"
#include "app/TMainForm.h"
#include "platform/Paths.h"
#include "serial/TFoCom.h"
#include "tests/support/TestSupport.h"

#include <QApplication>
#include <QDialog>
#include <QFileDialog>
#include <QMessageBox>
#include <gtest/gtest.h>

namespace {

class AccessibleNamesTest : public ::testing::Test {
protected:
    TempDir dir;
    void SetUp() override
    {
        InstallAccessibleNames(qApp);
        InstallAccessibleNames(qApp);  // a second install changes nothing
        SetSettingsDirectoryOverride(dir.path());
        const char* args[] = {"ulmaro", "--demo"};
        CreateAllWindows(2, args, true);
    }
    void TearDown() override
    {
        DestroyAllWindows();
        SetSettingsDirectoryOverride("");
    }
};

} // namespace

TEST_F(AccessibleNamesTest, EveryWindowOfTheProgramIsNamedByItsCaption)
{
    EXPECT_EQ(qApp->findChildren<QObject*>("AccessibleNames", Qt::FindDirectChildrenOnly).size(), 1);
    int windows = 0;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w->windowTitle().isEmpty() || w->windowType() == Qt::Desktop)
            continue;
        const bool wasVisible = w->isVisible();
        w->show();
        EXPECT_EQ(w->accessibleName(), w->windowTitle()) << w->metaObject()->className();
        if (!wasVisible)
            w->hide();
        ++windows;
    }
    // The hidden serial form has no caption and the display window takes
    // its caption when it opens; the file dialogs are made on first use.
    EXPECT_GE(windows, 10) << "the main window and the nine others with a caption";

    // A save dialog made on first use is named by its caption too.
    QFileDialog* save = FoCom->SaveDialog1;
    ASSERT_NE(save, nullptr);
    save->show();
    EXPECT_EQ(save->accessibleName(), "Save Data");
    save->hide();
}

TEST_F(AccessibleNamesTest, TheNameFollowsACaptionChange)
{
    MainForm->show();
    // Choosing a range puts the selection into the caption.
    ASSERT_TRUE(MainForm->DeviceItems.contains("N20kVm2"));
    MainForm->DeviceItems["N20kVm2"]->trigger();
    EXPECT_TRUE(MainForm->windowTitle().contains("Talvis"));
    EXPECT_EQ(MainForm->accessibleName(), MainForm->windowTitle());

    // A hidden window's caption change is followed too, before it shows.
    QWidget later;
    later.setWindowTitle("Later window");
    EXPECT_EQ(later.accessibleName(), "Later window");
    later.setWindowTitle("Renamed");
    EXPECT_EQ(later.accessibleName(), "Renamed");
}

TEST_F(AccessibleNamesTest, DialogsAndMessageBoxesMadeAtRunTimeAreNamedToo)
{
    QMessageBox box(QMessageBox::Information, "Info", "text", QMessageBox::Ok, MainForm);
    box.open();
    EXPECT_EQ(box.accessibleName(), "Info");
    box.close();

    QDialog dialog(MainForm);
    dialog.setWindowTitle("Missing COM-Port");
    dialog.show();
    EXPECT_EQ(dialog.accessibleName(), "Missing COM-Port");

    // A child widget is no window: its name stays its own.
    QWidget child(&dialog);
    child.setWindowTitle("not a caption");
    EXPECT_EQ(child.accessibleName(), "");
}
