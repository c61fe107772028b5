// Save dialogs cost more to build than the rest of their windows, so they
// are made when first used. These tests check that start-up builds none,
// that each still answers to its name, and that the dialog made later has
// the settings its window gives it.
#include "app/AppWindows.h"
#include "gripo/TFormGripo.h"
#include "ohmra/TFormOhmraCali.h"
#include "ohmra/TFormOhmraFComment.h"
#include "platform/Paths.h"
#include "serial/TFoCom.h"
#include "tests/support/TestSupport.h"
#include "widgets/LazyChild.h"

#include <QApplication>
#include <QFileDialog>
#include <QPointer>
#include <gtest/gtest.h>

namespace {

TEST(LazyChild, MadeOnceOnFirstUseUnderItsNameAndNeverAgainOnceGone)
{
    auto* parent = new QWidget;
    TLazyChild<QWidget> child;
    int made = 0;
    child.Bind(parent, "Helper", [&] {
        ++made;
        auto* w = new QWidget(parent);
        w->setWindowTitle("made");
        return w;
    });
    EXPECT_FALSE(child.IsMade());
    EXPECT_EQ(made, 0);
    // The name answers before the object exists.
    QObject* before = parent->findChild<QObject*>("Helper");
    ASSERT_NE(before, nullptr);
    EXPECT_EQ(parent->findChild<QWidget*>("Helper"), nullptr);

    QWidget* w = child;
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(made, 1);
    EXPECT_TRUE(child.IsMade());
    EXPECT_EQ(w->parent(), parent);
    EXPECT_EQ(w->objectName(), "Helper");
    EXPECT_EQ(child->windowTitle(), "made");
    EXPECT_EQ(&*child, w);
    // Only the real object carries the name now.
    EXPECT_EQ(parent->findChildren<QObject*>("Helper"), QList<QObject*>{w});

    delete parent;
    EXPECT_EQ(child.get(), nullptr) << "gone with its parent";
    EXPECT_EQ(made, 1) << "not made again";
}

TEST(LazyChild, UnboundGivesNothing)
{
    TLazyChild<QWidget> child;
    EXPECT_EQ(child.get(), nullptr);
    EXPECT_FALSE(child.IsMade());
}

class LazyDialogsTest : public ::testing::Test {
protected:
    TempDir dir;
    void SetUp() override
    {
        SetSettingsDirectoryOverride(dir.path());
        const char* args[] = {"ulmaro", "--demo", "gripo", "pravelint"};
        CreateAllWindows(4, args, true);
    }
    void TearDown() override
    {
        DestroyAllWindows();
        SetSettingsDirectoryOverride("");
    }
    static int FileDialogs()
    {
        int n = 0;
        for (QWidget* w : QApplication::allWidgets())
            if (qobject_cast<QFileDialog*>(w))
                ++n;
        return n;
    }
};

} // namespace

TEST_F(LazyDialogsTest, StartUpBuildsNoFileDialogButTheirNamesAnswer)
{
    EXPECT_EQ(FileDialogs(), 0);
    EXPECT_NE(FoCom->findChild<QObject*>("SaveDialog1"), nullptr);
    EXPECT_NE(FormOhmraFComment->findChild<QObject*>("SaveDialog1"), nullptr);
    EXPECT_NE(FormOhmraCali->findChild<QObject*>("SaveDialogCali"), nullptr);
    EXPECT_NE(FormGripo->findChild<QObject*>("SaveDialogGripo"), nullptr);
    EXPECT_FALSE(FoCom->SaveDialog1.IsMade());
    EXPECT_FALSE(FormGripo->SaveDialogGripo.IsMade());
}

TEST_F(LazyDialogsTest, EachDialogIsMadeWithItsSettingsAndFoundByNameThen)
{
    QFileDialog* cali = FormOhmraCali->SaveDialogCali;
    ASSERT_NE(cali, nullptr);
    EXPECT_EQ(FileDialogs(), 1) << "only the one asked for";
    EXPECT_EQ(cali->parent(), FormOhmraCali);
    EXPECT_EQ(cali->windowTitle(), "Write calibration data to file");
    EXPECT_EQ(cali->acceptMode(), QFileDialog::AcceptSave);
    EXPECT_EQ(cali->fileMode(), QFileDialog::AnyFile);
    EXPECT_TRUE(cali->testOption(QFileDialog::DontUseNativeDialog));
    EXPECT_TRUE(cali->testOption(QFileDialog::DontConfirmOverwrite));
    EXPECT_EQ(cali->nameFilters(), QStringList{"*.CSV"});
    EXPECT_EQ(cali->defaultSuffix(), "CSV");
    EXPECT_EQ(FormOhmraCali->findChild<QObject*>("SaveDialogCali"), cali);

    QFileDialog* comment = FormOhmraFComment->SaveDialog1;
    ASSERT_NE(comment, nullptr);
    EXPECT_EQ(comment->windowTitle(), "Save As");
    EXPECT_EQ(comment->acceptMode(), QFileDialog::AcceptSave);
    EXPECT_TRUE(comment->testOption(QFileDialog::DontUseNativeDialog));
    EXPECT_TRUE(comment->testOption(QFileDialog::DontConfirmOverwrite));
    EXPECT_EQ(comment->defaultSuffix(), "CSV");
    EXPECT_EQ(FormOhmraFComment->findChild<QObject*>("SaveDialog1"), comment);

    QFileDialog* gripo = FormGripo->SaveDialogGripo;
    ASSERT_NE(gripo, nullptr);
    EXPECT_EQ(gripo->acceptMode(), QFileDialog::AcceptSave);
    EXPECT_EQ(gripo->fileMode(), QFileDialog::AnyFile);
    EXPECT_TRUE(gripo->testOption(QFileDialog::DontUseNativeDialog));
    EXPECT_TRUE(gripo->testOption(QFileDialog::DontConfirmOverwrite));
    EXPECT_EQ(FormGripo->findChild<QObject*>("SaveDialogGripo"), gripo);

    QFileDialog* cpm = FoCom->SaveDialog1;
    ASSERT_NE(cpm, nullptr);
    EXPECT_EQ(FoCom->findChild<QObject*>("SaveDialog1"), cpm);
    EXPECT_EQ(FileDialogs(), 4);
    // Asking again gives the same dialog, which keeps what the last save set.
    cpm->setDirectory(QString::fromStdString(dir.path()));
    EXPECT_EQ(static_cast<QFileDialog*>(FoCom->SaveDialog1), cpm);
    EXPECT_EQ(FileDialogs(), 4);
}
