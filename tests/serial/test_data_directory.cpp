// The folder of a saved file and the remembered data folder of the charge
// plate monitor.
#include "core/MainState.h"
#include "platform/IniFile.h"
#include "platform/Paths.h"
#include "serial/DataDirectory.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

TEST(DirectoryOf, KeepsEverythingUpToTheLastSlash)
{
    EXPECT_EQ(DirectoryOf("/home/lab/Data/run1.csv"), "/home/lab/Data/");
    EXPECT_EQ(DirectoryOf("run1.csv"), "");
    EXPECT_EQ(DirectoryOf("/"), "/");
    EXPECT_EQ(DirectoryOf("/home/lab/"), "/home/lab/");
    EXPECT_EQ(DirectoryOf(""), "");
    EXPECT_EQ(DirectoryOf("a/b/c"), "a/b/");
    // A backslash is an ordinary character in a file name here.
    EXPECT_EQ(DirectoryOf("C:\\Data\\run1.csv"), "");
}

class DataDirectoryTest : public ::testing::Test {
protected:
    void SetUp() override { SetSettingsDirectoryOverride(dir.path()); }
    void TearDown() override { SetSettingsDirectoryOverride(""); }
    std::string Stored() const { return TIniFile(dir.file("SETUP.INI")).ReadString("CPM", "DataDirectory", "<none>"); }
    TempDir dir;
    TMainState state;
};

TEST_F(DataDirectoryTest, TheSameFolderWritesNothing)
{
    state.CpmDataDirectory = "/home/lab/Data/";
    EXPECT_FALSE(UpdateCpmDataDirectory(state, "/home/lab/Data/run1.csv"));
    struct stat st{};
    EXPECT_NE(stat(dir.file("SETUP.INI").c_str(), &st), 0);
    EXPECT_EQ(state.CpmDataDirectory, "/home/lab/Data/");
}

TEST_F(DataDirectoryTest, AnotherFolderIsTakenAndStored)
{
    state.CpmDataDirectory = "/home/lab/";
    EXPECT_TRUE(UpdateCpmDataDirectory(state, "/home/lab/Data/run1.csv"));
    EXPECT_EQ(state.CpmDataDirectory, "/home/lab/Data/");
    EXPECT_EQ(Stored(), "/home/lab/Data/");
}

TEST_F(DataDirectoryTest, TheComparisonIsExact)
{
    state.CpmDataDirectory = "/home/lab/data/";
    EXPECT_TRUE(UpdateCpmDataDirectory(state, "/home/lab/Data/x.csv"));
    EXPECT_EQ(Stored(), "/home/lab/Data/");
    // The home default "C:" stands for carries a trailing slash; a file
    // straight in it changes nothing.
    state.CpmDataDirectory = QString::fromStdString(HomeDirectory());
    EXPECT_FALSE(UpdateCpmDataDirectory(state, QString::fromStdString(HomeDirectory()) + "x.csv"));
    EXPECT_EQ(Stored(), "/home/lab/Data/");
}

TEST_F(DataDirectoryTest, FolderNamesOutsideAsciiSurviveTheSettingsFile)
{
    state.CpmDataDirectory = "/";
    EXPECT_TRUE(UpdateCpmDataDirectory(state, QString::fromUtf8("/home/lab/Messdaten Büro/x.csv")));
    EXPECT_EQ(QString::fromStdString(Stored()), QString::fromUtf8("/home/lab/Messdaten Büro/"));
}
