// Where the settings files are looked for: beside the program, in the
// user's configuration folder, in the default an installed package brings.
#include "platform/Paths.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <string>

namespace {

// An installed layout in a scratch root: <root>/usr/bin/ beside
// <root>/usr/share/ulmaro/, and a configuration folder of the user's.
struct TLayout {
    TempDir root;
    std::string bin, share, config;
    TLayout()
    {
        for (const char* d : {"/usr", "/usr/bin", "/usr/share", "/usr/share/ulmaro", "/config"})
            mkdir((root.path() + d).c_str(), 0755);
        bin = root.path() + "/usr/bin/";
        share = root.path() + "/usr/share/ulmaro/";
        config = root.path() + "/config/";
    }
    static void Put(const std::string& dir)
    {
        FILE* f = std::fopen((dir + "SETUP_ULMARO.INI").c_str(), "w");
        ASSERT_NE(f, nullptr);
        std::fclose(f);
    }
};

} // namespace

TEST(Paths, ProgramSettingsBesideTheProgramThenTheUsersThenTheSystemDefault)
{
    TLayout l;
    // None anywhere: the place beside the program, where reading gives defaults.
    EXPECT_EQ(FindSetupUlmaroIni(l.bin, l.config), l.bin + "SETUP_ULMARO.INI");

    TLayout::Put(l.share);
    EXPECT_EQ(FindSetupUlmaroIni(l.bin, l.config), l.bin + "../share/ulmaro/SETUP_ULMARO.INI");

    TLayout::Put(l.config);
    EXPECT_EQ(FindSetupUlmaroIni(l.bin, l.config), l.config + "SETUP_ULMARO.INI");

    TLayout::Put(l.bin);
    EXPECT_EQ(FindSetupUlmaroIni(l.bin, l.config), l.bin + "SETUP_ULMARO.INI");
}

TEST(Paths, AFolderNamedLikeTheFileIsNoSettingsFile)
{
    TLayout l;
    mkdir((l.config + "SETUP_ULMARO.INI").c_str(), 0755);
    TLayout::Put(l.share);
    EXPECT_EQ(FindSetupUlmaroIni(l.bin, l.config), l.bin + "../share/ulmaro/SETUP_ULMARO.INI");
}

TEST(Paths, PortSettingsOfAnInstalledProgramLiveWithTheUserEvenForRoot)
{
    TLayout l;
    // A program run from a build or an unpacked folder keeps them beside itself.
    EXPECT_EQ(ChooseSetupIni(l.bin, l.config), l.bin + "SETUP.INI");

    // Installed with its defaults under share/: the folder of the system's
    // programs is no place for them, whether or not we could write there.
    TLayout::Put(l.share);
    EXPECT_EQ(ChooseSetupIni(l.bin, l.config), l.config + "SETUP.INI");

    // One that an administrator put beside the program on purpose is used.
    FILE* f = std::fopen((l.bin + "SETUP.INI").c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fclose(f);
    EXPECT_EQ(ChooseSetupIni(l.bin, l.config), l.bin + "SETUP.INI");
}

TEST(Paths, UserConfigurationFolderFollowsXdgConfigHome)
{
    const char* old = std::getenv("XDG_CONFIG_HOME");
    const std::string saved = old ? old : "";
    setenv("XDG_CONFIG_HOME", "/somewhere/cfg", 1);
    EXPECT_EQ(UserConfigDirectory(), "/somewhere/cfg/ulmaro/");
    setenv("XDG_CONFIG_HOME", "relative/ignored", 1);  // not absolute: not to be trusted
    EXPECT_EQ(UserConfigDirectory(), HomeDirectory() + ".config/ulmaro/");
    if (old)
        setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
    else
        unsetenv("XDG_CONFIG_HOME");
}
