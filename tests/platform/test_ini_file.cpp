// Settings files: letter case of names, numbers that do not parse, the
// decimal separator of the locale, missing files, writes.
#include "platform/IniFile.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>
#include <fstream>
#include <iterator>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

TEST(IniFile, MissingFileGivesEveryDefault)
{
    TempDir dir;
    TIniFile ini(dir.file("nothing.ini"));
    EXPECT_EQ(ini.ReadInteger("SetUP_ADC", "Delta_U", 200), 200);
    EXPECT_EQ(ini.ReadString("Menue", "Main_1", "Exit"), "Exit");
    EXPECT_DOUBLE_EQ(ini.ReadFloat("Menue", "Value", 1.5), 1.5);
    EXPECT_TRUE(ini.ReadBool("CPM", "TestOutput", true));
}

TEST(IniFile, SectionAndKeyNamesIgnoreLetterCase)
{
    TempDir dir;
    dir.write("a.ini", "[setup_adc]\nDELTA_u=150\n[MENUE]\nmain_2 = Geraet \n");
    TIniFile ini(dir.file("a.ini"));
    EXPECT_EQ(ini.ReadInteger("SetUP_ADC", "Delta_U", 200), 150);
    EXPECT_EQ(ini.ReadString("Menue", "Main_2", "Device"), "Geraet");
}

TEST(IniFile, IntegersThatDoNotParseGiveTheDefault)
{
    TempDir dir;
    dir.write("a.ini", "[S]\na=abc\nb=12x\nc=\nd= -7 \ne=99999999999\nf=+5\n");
    TIniFile ini(dir.file("a.ini"));
    EXPECT_EQ(ini.ReadInteger("S", "a", 3), 3);
    EXPECT_EQ(ini.ReadInteger("S", "b", 3), 3);
    EXPECT_EQ(ini.ReadInteger("S", "c", 3), 3);
    EXPECT_EQ(ini.ReadInteger("S", "d", 3), -7);
    EXPECT_EQ(ini.ReadInteger("S", "e", 3), 3);
    EXPECT_EQ(ini.ReadInteger("S", "f", 3), 5);
    EXPECT_FALSE(ini.ReadBool("S", "missing", false));
}

TEST(IniFile, FloatsFollowTheLocaleDecimalSeparator)
{
    TempDir dir;
    dir.write("a.ini", "[S]\npoint=2.5\ncomma=2,5\nword=two\nexp=1.5E2\n");
    TIniFile ini(dir.file("a.ini"));
    {
        LocaleGuard g(QLocale(QLocale::English, QLocale::UnitedStates));
        EXPECT_DOUBLE_EQ(ini.ReadFloat("S", "point", 0), 2.5);
        EXPECT_DOUBLE_EQ(ini.ReadFloat("S", "comma", -1), -1);
        EXPECT_DOUBLE_EQ(ini.ReadFloat("S", "exp", 0), 150);
    }
    {
        LocaleGuard g(QLocale(QLocale::German, QLocale::Germany));
        EXPECT_DOUBLE_EQ(ini.ReadFloat("S", "comma", 0), 2.5);
        EXPECT_DOUBLE_EQ(ini.ReadFloat("S", "point", -1), -1);
    }
    EXPECT_DOUBLE_EQ(ini.ReadFloat("S", "word", 7), 7);
}

TEST(IniFile, WritesCreateTheFileAndKeepOtherEntries)
{
    TempDir dir;
    TIniFile ini(dir.file("SETUP.INI"));
    ASSERT_TRUE(ini.WriteInteger("CPM", "ComPortIndex", 3));
    ASSERT_TRUE(ini.WriteString("CPM", "DataDirectory", "/home/lab/data/"));
    ASSERT_TRUE(ini.WriteString("Ohmra", "DataDirectory", "/tmp/"));
    EXPECT_EQ(ini.ReadInteger("cpm", "comportindex", 0), 3);
    EXPECT_EQ(ini.ReadString("CPM", "DataDirectory", ""), "/home/lab/data/");
    EXPECT_EQ(ini.ReadString("Ohmra", "DataDirectory", ""), "/tmp/");
    // Written as "Key=value", without blanks around the sign.
    std::ifstream in(dir.file("SETUP.INI"));
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("ComPortIndex=3\n"), std::string::npos) << text;
    EXPECT_NE(text.find("DataDirectory=/tmp/\n"), std::string::npos) << text;
    EXPECT_EQ(text.find(" = "), std::string::npos) << text;
}

TEST(IniFile, UnwritableFileReportsFailure)
{
    TIniFile ini("/proc/no-such-dir/SETUP.INI");
    EXPECT_FALSE(ini.WriteInteger("CPM", "ComPortIndex", 1));
    EXPECT_EQ(ini.ReadInteger("CPM", "ComPortIndex", 4), 4);
}

TEST(IniFile, AnUnreadableFileIsNotReplacedByAWrite)
{
    TempDir dir;
    {
        // Something that exists but does not read as a file.
        ASSERT_EQ(mkdir(dir.file("odd.ini").c_str(), 0700), 0);
        TIniFile odd(dir.file("odd.ini"));
        EXPECT_FALSE(odd.WriteInteger("CPM", "ComPortIndex", 2));
    }
    if (geteuid() == 0)
        return; // root reads every file whatever its mode
    dir.write("SETUP.INI", "[Ohmra]\nCal1=1.5\n");
    chmod(dir.file("SETUP.INI").c_str(), 0200);
    TIniFile ini(dir.file("SETUP.INI"));
    EXPECT_FALSE(ini.WriteInteger("CPM", "ComPortIndex", 2));
    chmod(dir.file("SETUP.INI").c_str(), 0600);
    EXPECT_EQ(ini.ReadString("Ohmra", "Cal1", ""), "1.5");
}

TEST(IniFile, AFailedSaveLeavesTheOldFileWhole)
{
    TempDir dir;
    dir.write("SETUP.INI", "[Ohmra]\nCal1=1.5\n");
    // The temporary file's place is taken by a directory: the save fails.
    ASSERT_EQ(mkdir(dir.file("SETUP.INI.new").c_str(), 0700), 0);
    TIniFile ini(dir.file("SETUP.INI"));
    EXPECT_FALSE(ini.WriteString("Ohmra", "Cal2", "2.5"));
    EXPECT_EQ(ini.ReadString("Ohmra", "Cal1", ""), "1.5");
    EXPECT_EQ(ini.ReadString("Ohmra", "Cal2", "none"), "none");
}

TEST(IniFile, ASnapshotIsOneViewOfTheFileUntilItWrites)
{
    TempDir dir;
    dir.write("SETUP_ULMARO.INI", "[SetUP_ADC]\nDelta_U=150\n[Menue]\nMain_1 = Ende\n");
    TIniFile file(dir.file("SETUP_ULMARO.INI"));
    TIniFile snap = file.Snapshot();

    // Another program rewrites the file while a settings block is read:
    // the snapshot answers from the version it took, the file from the new one.
    dir.write("SETUP_ULMARO.INI", "[SetUP_ADC]\nDelta_U=90\n");
    EXPECT_EQ(snap.ReadInteger("setup_adc", "delta_u", 200), 150);
    EXPECT_EQ(snap.ReadString("Menue", "Main_1", "Exit"), "Ende");
    EXPECT_EQ(file.ReadInteger("SetUP_ADC", "Delta_U", 200), 90);

    // Its own write goes to disk and is read back, with the other program's values.
    EXPECT_TRUE(snap.WriteInteger("SetUP_ADC", "Average_U", 4));
    EXPECT_EQ(snap.ReadInteger("SetUP_ADC", "Average_U", 1), 4);
    EXPECT_EQ(snap.ReadInteger("SetUP_ADC", "Delta_U", 200), 90);

    // A snapshot of a missing file reads every default.
    TIniFile none = TIniFile(dir.file("none.ini")).Snapshot();
    EXPECT_EQ(none.ReadString("Menue", "Main_1", "Exit"), "Exit");
}

TEST(IniFile, AWriteKeepsTheUtf8SignatureAndWhatFollowsIt)
{
    TempDir dir;
    // Saved by an editor that writes a signature, and once more by one that
    // did not see the first: the second signature makes "[CPM]" no section
    // header. A write must not change how the other keys read.
    const std::string bom = "\xEF\xBB\xBF";
    dir.write("SETUP.INI", bom + bom + "[CPM]\nDataDirectory=/old/\n[Ohmra]\nk0=201\n");
    TIniFile ini(dir.file("SETUP.INI"));
    const std::string before = ini.ReadString("CPM", "DataDirectory", "none");
    ASSERT_TRUE(ini.WriteInteger("CPM", "ComPortIndex", 7));
    EXPECT_EQ(ini.ReadInteger("CPM", "ComPortIndex", 0), 7);
    EXPECT_EQ(ini.ReadString("CPM", "DataDirectory", "none"), before);
    EXPECT_EQ(ini.ReadInteger("Ohmra", "k0", 200), 201);

    // A signature further down belongs to a key name: a write that puts that
    // key first must not let it pass for the file's signature.
    dir.write("SETUP.INI", "\n" + bom + "[Ohmra]@k5=a00\nk5=000\n");
    ASSERT_EQ(ini.ReadInteger("Ohmra", "k5", 200), 200);
    ASSERT_TRUE(ini.WriteInteger("CPM", "ComPortIndex", 9));
    EXPECT_EQ(ini.ReadInteger("Ohmra", "k5", 200), 200);
    EXPECT_EQ(ini.ReadInteger("CPM", "ComPortIndex", 0), 9);

    // One signature, as most files that have one: kept, and the keys read as before.
    dir.write("SETUP.INI", bom + "[CPM]\nDataDirectory=/old/\n");
    ASSERT_TRUE(ini.WriteInteger("CPM", "ComPortIndex", 8));
    EXPECT_EQ(ini.ReadString("CPM", "DataDirectory", "none"), "/old/");
    std::ifstream in(dir.file("SETUP.INI"), std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_EQ(text.str().rfind(bom + "[CPM]", 0), 0u);
}
